#include "store/Preset.h"
#include "platform/FileLock.h"
#include "platform/ProfileStrings.h"

#include <algorithm>
#include <cstring>
#include <cwchar>

namespace
{
    const char* const kGlobalSection = "GlobleInfo";
    const char* const kTotalKey = "TotalPreset";
    const char* const kPacingSection = "Pacing";
    const char* const kPaceKey = "Pace";
    const char* const kUpdateSection = "Update";
    const char* const kOnlyChangedKey = "OnlyChanged";

    juce::String SectionName (int index)
    {
        return "Preset" + juce::String (index);
    }

    wchar_t LowerAZ (wchar_t c)
    {
        return (c >= L'A' && c <= L'Z') ? (wchar_t) (c - L'A' + L'a') : c;
    }

    /** Compares two names, turning A to Z into lower case: <0, 0 or >0. */
    int CompareNames (const wchar_t* a, const wchar_t* b)
    {
        for (int i = 0; i < kMaxPath; ++i)
        {
            const auto ca = (uint32_t) LowerAZ (a[i]), cb = (uint32_t) LowerAZ (b[i]);
            if (ca != cb)
                return ca < cb ? -1 : 1;
            if (ca == 0)
                break;
        }
        return 0;
    }
}

int32_t ProfileTextToInt (const juce::String& text)
{
    auto p = text.getCharPointer();
    while (! p.isEmpty() && juce::CharacterFunctions::isWhitespace (*p))
        ++p;

    bool negative = false;
    if (*p == '+' || *p == '-')
    {
        negative = *p == '-';
        ++p;
    }

    int64_t value = 0;
    const int64_t limit = negative ? -(int64_t) INT32_MIN : (int64_t) INT32_MAX;
    for (; *p >= '0' && *p <= '9'; ++p)
        value = std::min (limit, value * 10 + (int64_t) (*p - '0'));
    return (int32_t) (negative ? -value : value);
}

void CopyFieldsWithoutControls (const _STR_PRESET& from, _STR_PRESET& to)
{
    std::memcpy (to.NameRead, from.NameRead, sizeof (to.NameRead));
    to.ReadOffset = from.ReadOffset;
    to.ReadLength = from.ReadLength;
    to.BeepWhenDone = from.BeepWhenDone;
    to.ReadAndCheckAfterWrite = from.ReadAndCheckAfterWrite;
}

CPreset::CPreset()
    : m_pLastSave (new _STR_PRESET {}),
      m_ppPresets (new _STR_PRESET*[kMaxPresets]),
      m_szFileName {},
      m_nCount (0)
{
    for (int i = 0; i < kMaxPresets; ++i)
        m_ppPresets[i] = new _STR_PRESET {};
}

CPreset::~CPreset()
{
    for (int i = 0; i < kMaxPresets; ++i)
        delete m_ppPresets[i];
    delete[] m_ppPresets;
    delete m_pLastSave;
}

int CPreset::LoadAll (const wchar_t* fileName)
{
    PathCopy (m_szFileName, fileName);

    // Kept: the settings outside the presets are read from it later.
    m_pAsLoaded = std::make_unique<ProfileFile> (ToString (m_szFileName));
    auto& file = *m_pAsLoaded;
    file.Load();
    m_SetByProgram.clear();
    m_pOpenFile = &file;

    m_nTotalAsRead = ProfileTextToInt (file.Get (kGlobalSection, kTotalKey, "0"));
    m_bKeepTotalAsRead = m_nTotalAsRead < 0;
    m_nCount = juce::jlimit (0, kMaxPresets, m_nTotalAsRead);

    LoadSection (L"LastSave", m_pLastSave);
    for (int i = 0; i < m_nCount; ++i)
        LoadSection (SectionName (i).toWideCharPointer(), m_ppPresets[i]);
    m_pOpenFile = nullptr;
    return 0;
}

int CPreset::SaveAll()
{
    if (m_szFileName[0] == 0)
        return 1;

    // Processes side by side (kestrava-cli --all, a module each) write the same
    // file in turn, each reading what the one before wrote: no key set by one is lost.
    const auto path = ToString (m_szFileName);
    const InterProcessFileLock turn (juce::File::getSpecialLocation (juce::File::tempDirectory)
                                         .getChildFile ("kestrava-settings-" + juce::String::toHexString (path.hashCode64()) + ".lock"));
    ProfileFile file (path);
    file.Load();   // an unreadable file is refused by Save below, never overwritten
    m_pOpenFile = &file;

    file.Set (kGlobalSection, kTotalKey, juce::String (m_bKeepTotalAsRead ? m_nTotalAsRead : m_nCount));
    SaveSection (L"LastSave", m_pLastSave);
    for (int i = 0; i < m_nCount; ++i)
        SaveSection (SectionName (i).toWideCharPointer(), m_ppPresets[i]);
    // The file as it is now: what the user edited meanwhile stands, but for what the program set.
    for (const auto& s : m_SetByProgram)
        if (file.Has (s.section, s.key) || s.value != s.defaultValue)
            file.Set (s.section, s.key, s.value);

    m_pOpenFile = nullptr;
    return file.Save() ? 0 : 1;
}

juce::String CPreset::GetSetting (const juce::String& section, const juce::String& key, const juce::String& defaultValue) const
{
    for (auto s = m_SetByProgram.rbegin(); s != m_SetByProgram.rend(); ++s)
        if (s->section.equalsIgnoreCase (section) && s->key.equalsIgnoreCase (key))
            return s->value;
    return m_pAsLoaded != nullptr ? m_pAsLoaded->Get (section, key, defaultValue) : defaultValue;
}

void CPreset::SetSetting (const juce::String& section, const juce::String& key, const juce::String& value,
                          const juce::String& defaultValue)
{
    m_SetByProgram.erase (std::remove_if (m_SetByProgram.begin(), m_SetByProgram.end(), [&] (const SetByProgram& s)
                                          { return s.section.equalsIgnoreCase (section) && s.key.equalsIgnoreCase (key); }),
                          m_SetByProgram.end());
    m_SetByProgram.push_back ({ section, key, value, defaultValue });
}

juce::String FoundPaceKey (const juce::String& portName)
{
    const std::string bytes = portName.toStdString();
    juce::String key ("Found.");
    for (size_t i = 0; i < bytes.size(); ++i)
    {
        const auto c = (uint8_t) bytes[i];
        const bool lastBlank = i + 1 == bytes.size() && (c == ' ' || c == '\t');
        if (c < 0x20 || c >= 0x7F || c == '%' || c == '=' || lastBlank)
            key << "%" << juce::String::toHexString ((int) c).paddedLeft ('0', 2).toUpperCase();
        else
            key << (char) c;
    }
    return key;
}

juce::String CPreset::GetFoundPace (const juce::String& portName) const
{
    return GetSetting (kPacingSection, FoundPaceKey (portName), {});
}

void CPreset::SetFoundPace (const juce::String& portName, const juce::String& pace)
{
    SetSetting (kPacingSection, FoundPaceKey (portName), pace, {});
}

juce::String CPreset::GetPaceText() const
{
    return GetSetting (kPacingSection, kPaceKey, {});
}

bool CPreset::GetOnlyChanged() const
{
    return ProfileTextToInt (GetSetting (kUpdateSection, kOnlyChangedKey, "0")) != 0;
}

void CPreset::SetOnlyChanged (bool onlyChanged)
{
    SetSetting (kUpdateSection, kOnlyChangedKey, onlyChanged ? "1" : "0", "0");
}

int CPreset::Put (_STR_PRESET* record)
{
    if (record == nullptr)
        return -1;

    if (record->PresetName[0] == 0)
    {
        PathCopy (record->PresetName, L"LastSave");
        *m_pLastSave = *record;
        return 0;
    }

    for (int i = 0; i < m_nCount; ++i)
        if (CompareNames (m_ppPresets[i]->PresetName, record->PresetName) == 0)
        {
            *m_ppPresets[i] = *record;
            return i;
        }

    if (m_nCount >= kMaxPresets)
        return -1;

    *m_ppPresets[m_nCount] = *record;
    ++m_nCount;
    m_bKeepTotalAsRead = false;

    for (int j = 0; j < m_nCount - 1; ++j)
        for (int k = j + 1; k < m_nCount; ++k)
            if (CompareNames (m_ppPresets[j]->PresetName, m_ppPresets[k]->PresetName) > 0)
                std::swap (m_ppPresets[j], m_ppPresets[k]);

    for (int i = 0; i < m_nCount; ++i)
        if (CompareNames (m_ppPresets[i]->PresetName, record->PresetName) == 0)
            return i;
    return -1;
}

_STR_PRESET* CPreset::Get (int index)
{
    if (index == -1)
        return m_pLastSave;
    if (index >= 0 && index < m_nCount)
        return m_ppPresets[index];
    return nullptr;
}

int CPreset::GetCount() const
{
    return m_nCount;
}
