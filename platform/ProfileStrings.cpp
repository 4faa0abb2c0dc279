#include "platform/ProfileStrings.h"
#include "platform/AtomicFile.h"
#include "platform/Paths.h"
#include "platform/SystemCalls.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <unordered_map>
#include <vector>

namespace
{
    /** Files larger than this are not taken in (and therefore never rewritten). */
    constexpr int64_t kMaxProfileBytes = int64_t (256) << 20;

    enum class Encoding { Bytes, Utf8Bom, Utf16LE };

    struct Line
    {
        std::string text;   ///< the line's bytes without its line break
        std::string eol;    ///< its line break as read ("" for a last line without one)
    };

    bool IsBlank (char c)
    {
        return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\r' || c == 0x1A;
    }

    std::string TrimBytes (const std::string& s, size_t begin, size_t end)
    {
        while (begin < end && IsBlank (s[begin]))
            ++begin;
        while (end > begin && IsBlank (s[end - 1]))
            --end;
        return s.substr (begin, end - begin);
    }

    /** The form names are compared in: lower case, as UTF-8 bytes. */
    std::string NameKey (const std::string& bytes)
    {
        bool ascii = true;
        for (char c : bytes)
            if ((unsigned char) c >= 0x80)
                ascii = false;

        if (ascii)
        {
            std::string lower (bytes);
            for (auto& c : lower)
                if (c >= 'A' && c <= 'Z')
                    c = (char) (c - 'A' + 'a');
            return lower;
        }
        return NarrowBytesToString (bytes.data(), bytes.size()).toLowerCase().toStdString();
    }

    std::string NameKey (const juce::String& name)
    {
        return NameKey (name.trim().toStdString());
    }

    void AppendUtf8 (std::string& out, uint32_t c)
    {
        if (c < 0x80)
            out += (char) c;
        else if (c < 0x800)
        {
            out += (char) (0xC0 | (c >> 6));
            out += (char) (0x80 | (c & 0x3F));
        }
        else if (c < 0x10000)
        {
            out += (char) (0xE0 | (c >> 12));
            out += (char) (0x80 | ((c >> 6) & 0x3F));
            out += (char) (0x80 | (c & 0x3F));
        }
        else
        {
            out += (char) (0xF0 | (c >> 18));
            out += (char) (0x80 | ((c >> 12) & 0x3F));
            out += (char) (0x80 | ((c >> 6) & 0x3F));
            out += (char) (0x80 | (c & 0x3F));
        }
    }

    /** UTF-16LE bytes (without the byte-order mark) to UTF-8; lone surrogates become U+FFFD. */
    std::string Utf16ToUtf8 (const std::string& in)
    {
        std::string out;
        out.reserve (in.size());
        const auto unit = [&in] (size_t i) { return (uint32_t) (uint8_t) in[i] | ((uint32_t) (uint8_t) in[i + 1] << 8); };

        for (size_t i = 0; i + 1 < in.size(); i += 2)
        {
            uint32_t c = unit (i);
            if (c >= 0xD800 && c <= 0xDBFF && i + 3 < in.size())
            {
                const uint32_t low = unit (i + 2);
                if (low >= 0xDC00 && low <= 0xDFFF)
                {
                    c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                    i += 2;
                }
                else
                    c = 0xFFFD;
            }
            else if (c >= 0xD800 && c <= 0xDFFF)
                c = 0xFFFD;
            AppendUtf8 (out, c);
        }
        return out;
    }

    std::string Utf8ToUtf16 (const std::string& in)
    {
        std::vector<juce::juce_wchar> points;
        DecodeNarrowBytes (in.data(), in.size(), points);
        std::string out;
        out.reserve (in.size() * 2);
        const auto unit = [&out] (uint32_t u)
        {
            out += (char) (u & 0xFF);
            out += (char) (u >> 8);
        };
        for (const auto c : points)
        {
            const auto v = (uint32_t) c;
            if (v >= 0x10000)
            {
                unit (0xD800 + ((v - 0x10000) >> 10));
                unit (0xDC00 + ((v - 0x10000) & 0x3FF));
            }
            else
                unit (v);
        }
        return out;
    }

    /** The whole file; false when it cannot be read. */
    bool ReadBytes (const juce::File& file, std::string& bytes)
    {
        std::FILE* f = OpenFileW (file.getFullPathName(), "rb");
        if (f == nullptr)
            return false;
        char chunk[65536];
        size_t got = 0;
        while ((got = std::fread (chunk, 1, sizeof (chunk), f)) > 0)
            bytes.append (chunk, got);
        const bool ok = std::ferror (f) == 0;
        std::fclose (f);
        return ok;
    }
}

struct ProfileFile::Contents
{
    struct Section
    {
        Line header;                                    ///< the "[name]" line
        std::vector<Line> body;                         ///< every line up to the next section
        std::unordered_map<std::string, size_t> keys;   ///< key name -> body line (first wins)
    };

    std::vector<Line> prefix;                            ///< lines before the first section
    std::vector<Section> sections;                       ///< sections in file order
    std::unordered_map<std::string, size_t> byName;      ///< section name -> first section
    std::string newline = "\r\n";                        ///< line break for added lines
    Encoding encoding = Encoding::Bytes;
    bool unreadable = false;

    /** The key name of a key line, or false for any other line. */
    static bool KeyOf (const std::string& text, std::string& key)
    {
        size_t p = 0;
        while (p < text.size() && IsBlank (text[p]))
            ++p;
        if (p >= text.size() || text[p] == ';' || text[p] == '[')
            return false;
        const size_t eq = text.find ('=', p);
        if (eq == std::string::npos)
            return false;
        key = TrimBytes (text, p, eq);
        return ! key.empty();
    }

    /** The section name of a header line, or false for any other line. */
    static bool SectionOf (const std::string& text, std::string& name)
    {
        size_t p = 0;
        while (p < text.size() && IsBlank (text[p]))
            ++p;
        if (p >= text.size() || text[p] != '[')
            return false;
        const size_t close = text.rfind (']');
        if (close == std::string::npos || close < p)
            return false;
        name = TrimBytes (text, p + 1, close);
        return true;
    }

    void AddLine (Line line)
    {
        std::string name;
        if (SectionOf (line.text, name))
        {
            sections.push_back ({});
            sections.back().header = std::move (line);
            byName.emplace (NameKey (name), sections.size() - 1);
            return;
        }
        if (sections.empty())
        {
            prefix.push_back (std::move (line));
            return;
        }
        auto& section = sections.back();
        std::string key;
        if (KeyOf (line.text, key))
            section.keys.emplace (NameKey (key), section.body.size());
        section.body.push_back (std::move (line));
    }

    void Parse (const std::string& bytes)
    {
        if (bytes.find ("\r\n") == std::string::npos && bytes.find ('\n') != std::string::npos)
            newline = "\n";

        size_t start = 0;
        while (start < bytes.size())
        {
            const size_t nl = bytes.find ('\n', start);
            Line line;
            if (nl == std::string::npos)
            {
                line.text = bytes.substr (start);
                start = bytes.size();
            }
            else
            {
                size_t end = nl;
                line.eol = "\n";
                if (end > start && bytes[end - 1] == '\r')
                {
                    --end;
                    line.eol = "\r\n";
                }
                line.text = bytes.substr (start, end - start);
                start = nl + 1;
            }
            AddLine (std::move (line));
        }
    }

    std::string Serialise() const
    {
        std::string out;
        const Line* pending = nullptr;
        const auto emit = [&] (const Line& line)
        {
            if (pending != nullptr)
                out += pending->eol.empty() ? newline : pending->eol;
            out += line.text;
            pending = &line;
        };

        for (const auto& line : prefix)
            emit (line);
        for (const auto& section : sections)
        {
            emit (section.header);
            for (const auto& line : section.body)
                emit (line);
        }
        if (pending != nullptr)
            out += pending->eol;
        return out;
    }
};

ProfileFile::ProfileFile (const juce::String& path)
    : m_strPath (path), m_pContents (std::make_unique<Contents>())
{
}

ProfileFile::~ProfileFile() = default;

bool ProfileFile::Load()
{
    m_pContents = std::make_unique<Contents>();
    auto& c = *m_pContents;

    const auto file = AbsoluteFile (m_strPath);
    if (! file.exists())
        return true;

    if (file.isDirectory() || file.getSize() > kMaxProfileBytes)
    {
        c.unreadable = true;
        return false;
    }

    std::string bytes;
    bytes.reserve ((size_t) file.getSize());
    if (! ReadBytes (file, bytes))
    {
        c.unreadable = true;
        return false;
    }

    if (bytes.size() >= 2 && (uint8_t) bytes[0] == 0xFF && (uint8_t) bytes[1] == 0xFE)
    {
        c.encoding = Encoding::Utf16LE;
        bytes = Utf16ToUtf8 (bytes.substr (2));
    }
    else if (bytes.size() >= 3 && bytes.compare (0, 3, "\xEF\xBB\xBF") == 0)
    {
        c.encoding = Encoding::Utf8Bom;
        bytes.erase (0, 3);
    }

    c.Parse (bytes);
    return true;
}

bool ProfileFile::Has (const juce::String& section, const juce::String& key) const
{
    const auto& c = *m_pContents;
    const auto s = c.byName.find (NameKey (section));
    return s != c.byName.end() && c.sections[s->second].keys.count (NameKey (key)) != 0;
}

juce::String ProfileFile::Get (const juce::String& section, const juce::String& key,
                               const juce::String& defaultValue) const
{
    const auto& c = *m_pContents;
    const auto s = c.byName.find (NameKey (section));
    if (s == c.byName.end())
        return defaultValue.trimEnd();

    const auto& sec = c.sections[s->second];
    const auto k = sec.keys.find (NameKey (key));
    if (k == sec.keys.end())
        return defaultValue.trimEnd();

    const auto& text = sec.body[k->second].text;
    const size_t eq = text.find ('=');
    const auto raw = text.substr (eq + 1);
    auto value = NarrowBytesToString (raw.data(), raw.size()).trim();

    if (value.length() >= 2)
    {
        const auto first = value[0];
        if ((first == '"' || first == '\'') && value.getLastCharacter() == first)
            value = value.substring (1, value.length() - 1);
    }
    return value;
}

void ProfileFile::Set (const juce::String& section, const juce::String& key, const juce::String& value)
{
    auto& c = *m_pContents;
    const auto sectionName = section.trim();
    const auto keyName = key.trim();
    if (sectionName.isEmpty() || keyName.isEmpty())
        return;

    const auto cleanValue = value.replaceCharacters ("\r\n", "  ").toStdString();

    auto s = c.byName.find (NameKey (sectionName));
    if (s == c.byName.end())
    {
        c.sections.push_back ({});
        c.sections.back().header = { "[" + sectionName.toStdString() + "]", c.newline };
        s = c.byName.emplace (NameKey (sectionName), c.sections.size() - 1).first;
    }

    auto& sec = c.sections[s->second];
    const auto k = sec.keys.find (NameKey (keyName));
    if (k != sec.keys.end())
    {
        auto& line = sec.body[k->second];
        std::string oldKey;
        Contents::KeyOf (line.text, oldKey);
        line.text = oldKey + "=" + cleanValue;
        return;
    }

    // A new key goes behind the section's last line that is not blank.
    size_t at = sec.body.size();
    while (at > 0 && TrimBytes (sec.body[at - 1].text, 0, sec.body[at - 1].text.size()).empty())
        --at;
    sec.body.insert (sec.body.begin() + (std::ptrdiff_t) at, Line { keyName.toStdString() + "=" + cleanValue, c.newline });
    sec.keys.emplace (NameKey (keyName), at);
}

bool ProfileFile::Save() const
{
    const auto& c = *m_pContents;
    if (c.unreadable)
        return false;

    std::string bytes = c.Serialise();
    if (c.encoding == Encoding::Utf16LE)
        bytes = "\xFF\xFE" + Utf8ToUtf16 (bytes);
    else if (c.encoding == Encoding::Utf8Bom)
        bytes = "\xEF\xBB\xBF" + bytes;

    return WriteFileAtomically (m_strPath, bytes.data(), bytes.size());
}

juce::String ReadProfileString (const juce::String& section, const juce::String& key,
                                const juce::String& defaultValue, const juce::String& file)
{
    ProfileFile profile (file);
    profile.Load();
    return profile.Get (section, key, defaultValue);
}

bool WriteProfileString (const juce::String& section, const juce::String& key,
                         const juce::String& value, const juce::String& file)
{
    if (section.trim().isEmpty() || key.trim().isEmpty())
        return false;

    ProfileFile profile (file);
    if (! profile.Load())
        return false;
    profile.Set (section, key, value);
    return profile.Save();
}
