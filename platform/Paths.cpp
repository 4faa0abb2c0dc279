#include "platform/Paths.h"

#include <cstring>
#include <vector>

namespace
{
    constexpr juce::juce_wchar kCarriedByte = 0xDC00;   // + the byte, for bytes 0x80 to 0xFF

    bool IsCarriedByte (juce::juce_wchar c) { return c >= kCarriedByte + 0x80 && c <= kCarriedByte + 0xFF; }

    /** Decodes one UTF-8 sequence at text[i]; returns its length, 0 when the bytes there are no valid sequence. */
    int DecodeUtf8 (const unsigned char* text, size_t length, size_t i, juce::juce_wchar& out)
    {
        const unsigned char c = text[i];
        int extra = 0;
        juce::juce_wchar value = 0;
        juce::juce_wchar minimum = 0;

        if (c < 0x80)             { out = c; return 1; }
        if ((c & 0xE0) == 0xC0)   { extra = 1; value = c & 0x1F; minimum = 0x80; }
        else if ((c & 0xF0) == 0xE0) { extra = 2; value = c & 0x0F; minimum = 0x800; }
        else if ((c & 0xF8) == 0xF0) { extra = 3; value = c & 0x07; minimum = 0x10000; }
        else return 0;

        if (i + (size_t) extra >= length)
            return 0;

        for (int k = 1; k <= extra; ++k)
        {
            const unsigned char next = text[i + (size_t) k];
            if ((next & 0xC0) != 0x80)
                return 0;
            value = (value << 6) | (next & 0x3F);
        }

        if (value < minimum || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF))
            return 0;

        out = value;
        return extra + 1;
    }
}

void PathCopy (wchar_t* dst, const wchar_t* src)
{
    if (dst == nullptr)
        return;

    int i = 0;
    if (src != nullptr)
        for (; i < kMaxPath - 1 && src[i] != 0; ++i)
            dst[i] = src[i];
    dst[i] = 0;
}

void PathAppend (wchar_t* dst, const wchar_t* src)
{
    if (dst == nullptr || src == nullptr)
        return;

    int i = 0;
    while (i < kMaxPath - 1 && dst[i] != 0)
        ++i;
    for (int k = 0; i < kMaxPath - 1 && src[k] != 0; ++i, ++k)
        dst[i] = src[k];
    dst[i] = 0;
}

void PathCopy (wchar_t* dst, const juce::String& src)
{
    PathCopy (dst, src.toWideCharPointer());
}

void NarrowCopy (char* dst, const char* src, size_t capacity)
{
    if (dst == nullptr || capacity == 0)
        return;

    size_t i = 0;
    if (src != nullptr)
        for (; i + 1 < capacity && src[i] != 0; ++i)
            dst[i] = src[i];
    dst[i] = 0;
}

const wchar_t* PathSeparator()
{
#if JUCE_WINDOWS
    return L"\\";
#else
    return L"/";
#endif
}

juce::String ToString (const wchar_t* text)
{
    if (text == nullptr)
        return {};
    return juce::String (text);
}

juce::String NarrowToWide (const char* text)
{
    if (text == nullptr)
        return {};
    return NarrowBytesToString (text, std::strlen (text));
}

void DecodeNarrowBytes (const char* bytes, size_t length, std::vector<juce::juce_wchar>& out)
{
    out.clear();
    if (bytes == nullptr)
        return;

    // Valid UTF-8 sequences are decoded; any other byte stands for itself
    // (Latin-1), so no input is ever refused or lost.
    const auto* text = reinterpret_cast<const unsigned char*> (bytes);
    out.reserve (length + 1);
    for (size_t i = 0; i < length;)
    {
        juce::juce_wchar c = 0;
        const int used = DecodeUtf8 (text, length, i, c);
        if (used == 0)
        {
            c = text[i];
            i += 1;
        }
        else
        {
            i += (size_t) used;
        }
        out.push_back (c);
    }
}

juce::String NarrowBytesToString (const char* bytes, size_t length)
{
    std::vector<juce::juce_wchar> decoded;
    DecodeNarrowBytes (bytes, length, decoded);
    decoded.push_back (0);   // the text ends at its first NUL
    return juce::String (juce::CharPointer_UTF32 (decoded.data()));
}

juce::String NativeNameToString (const char* bytes, size_t length)
{
    if (bytes == nullptr)
        return {};
    const auto* text = reinterpret_cast<const unsigned char*> (bytes);
    std::vector<juce::juce_wchar> decoded;
    decoded.reserve (length + 1);
    for (size_t i = 0; i < length && text[i] != 0;)
    {
        juce::juce_wchar c = 0;
        const int used = DecodeUtf8 (text, length, i, c);
        if (used == 0)
        {
            c = kCarriedByte + text[i];
            i += 1;
        }
        else
        {
            i += (size_t) used;
        }
        decoded.push_back (c);
    }
    decoded.push_back (0);
    return juce::String (juce::CharPointer_UTF32 (decoded.data()));
}

std::string StringToNativeName (const juce::String& path)
{
    std::string out;
    out.reserve ((size_t) path.getNumBytesAsUTF8());
    for (auto p = path.getCharPointer(); ! p.isEmpty(); ++p)
    {
        const auto c = *p;
        if (IsCarriedByte (c))
        {
            out.push_back ((char) (unsigned char) (c - kCarriedByte));
            continue;
        }
        char utf8[8] {};
        juce::CharPointer_UTF8 w (utf8);
        w.write (c);
        out.append (utf8, (size_t) (w.getAddress() - utf8));
    }
    return out;
}

juce::String DisplayName (const juce::String& name)
{
    juce::String out;
    for (auto p = name.getCharPointer(); ! p.isEmpty(); ++p)
    {
        if (IsCarriedByte (*p))
            out << "\\x" << juce::String::toHexString ((int) (*p - kCarriedByte)).toUpperCase();
        else
            out += juce::String::charToString (*p);
    }
    return out;
}
