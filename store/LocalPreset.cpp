#include "store/Preset.h"
#include "platform/ProfileStrings.h"
#include "platform/SystemCalls.h"

#include <cwchar>

namespace
{
    /** A record's string field as text, never reading past its 260 units. */
    juce::String FieldText (const wchar_t* field)
    {
        const size_t length = ::wcsnlen (field, kMaxPath - 1);
        const std::wstring text (field, length);
        return juce::String (text.c_str());
    }
}

void CLocalPreset::LoadSection (const wchar_t* section, _STR_PRESET* record)
{
    if (section == nullptr || record == nullptr)
        return;

    ProfileFile own (ToString (m_szFileName));
    const ProfileFile* file = GetOpenFile();
    if (file == nullptr)
    {
        own.Load();
        file = &own;
    }

    const auto name = ToString (section);
    const auto text = [&] (const char* key, wchar_t* into) { PathCopy (into, file->Get (name, key, {})); };
    const auto number = [&] (const char* key, const char* fallback) { return ProfileTextToInt (file->Get (name, key, fallback)); };

    text ("PresetName", record->PresetName);
    text ("MCUName", record->MCUName);
    text ("FlashName", record->FlashName);
    record->FlashPage = number ("FlashPage", "0");
    text ("NameWrite", record->NameWrite);
    record->FileOffset = number ("FileOffset", "0");
    record->WriteLength = number ("WriteLength", "0");
    record->FlashOffset = number ("FlashOffset", "0");
    text ("NameRead", record->NameRead);
    if (record->NameRead[0] == 0)
    {
        const auto documents = GetDocumentsFolder();
        if (documents.isNotEmpty())
        {
            PathCopy (record->NameRead, documents);
            PathAppend (record->NameRead, PathSeparator());
            PathAppend (record->NameRead, L"read.bin");
        }
    }
    record->ReadOffset = number ("ReadOffset", "0");
    record->ReadLength = number ("ReadLength", "0");
    record->UserWordAddress = number ("UserWordAddress", "1") != 0;
    record->BeepWhenDone = number ("BeepWhenDone", "0") != 0;
    record->ReadAndCheckAfterWrite = number ("ReadAndCheckAfterWrite", "0") != 0;
}

void CLocalPreset::SaveSection (const wchar_t* section, const _STR_PRESET* record)
{
    if (section == nullptr || record == nullptr)
        return;

    ProfileFile own (ToString (m_szFileName));
    ProfileFile* file = GetOpenFile();
    if (file == nullptr)
    {
        own.Load();
        file = &own;
    }

    const auto name = ToString (section);
    const auto text = [&] (const char* key, const wchar_t* value) { file->Set (name, key, FieldText (value)); };
    const auto number = [&] (const char* key, int32_t value) { file->Set (name, key, juce::String (value)); };
    const auto flag = [&] (const char* key, bool value) { file->Set (name, key, value ? "1" : "0"); };

    text ("PresetName", record->PresetName);
    text ("MCUName", record->MCUName);
    text ("FlashName", record->FlashName);
    number ("FlashPage", record->FlashPage);
    text ("NameWrite", record->NameWrite);
    number ("FileOffset", record->FileOffset);
    number ("WriteLength", record->WriteLength);
    number ("FlashOffset", record->FlashOffset);
    text ("NameRead", record->NameRead);
    number ("ReadOffset", record->ReadOffset);
    number ("ReadLength", record->ReadLength);
    flag ("UserWordAddress", record->UserWordAddress);
    flag ("BeepWhenDone", record->BeepWhenDone);
    flag ("ReadAndCheckAfterWrite", record->ReadAndCheckAfterWrite);

    if (file == &own)
        own.Save();
}
