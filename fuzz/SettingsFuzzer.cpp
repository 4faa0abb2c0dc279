// Fuzz target: the settings-file reader and the preset store. The input's
// first byte picks what is done; the rest is the content of config.ini.
//
// Checked beyond "no crash": a file loaded and saved unchanged is written
// back byte for byte (UTF-16 files once normalised); a value set reads back
// as set; the presets the store writes read back as they were, and the store
// never holds more than its 40 named presets.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include "fuzz/FuzzScratch.h"
#include "platform/ProfileStrings.h"
#include "store/Preset.h"

namespace
{
    void Fail (const char* what)
    {
        std::fprintf (stderr, "settings: %s\n", what);
        std::abort();
    }

    std::string ReadBack (const juce::File& file)
    {
        juce::MemoryBlock mb;
        file.loadFileAsData (mb);
        return std::string (static_cast<const char*> (mb.getData()), mb.getSize());
    }

    /** The keys whose values the program reads, and a few that appear in hand-made files. */
    const char* const kSections[] = { "GlobleInfo", "LastSave", "Preset0", "Preset39", "preset1", "Other" };
    const char* const kKeys[] = { "TotalPreset", "PresetName", "MCUName", "FlashPage", "UserWordAddress", "x" };

    bool SameNumbersAndFlags (const _STR_PRESET& a, const _STR_PRESET& b)
    {
        return a.FlashPage == b.FlashPage && a.FileOffset == b.FileOffset && a.WriteLength == b.WriteLength
            && a.FlashOffset == b.FlashOffset && a.ReadOffset == b.ReadOffset && a.ReadLength == b.ReadLength
            && a.UserWordAddress == b.UserWordAddress && a.BeepWhenDone == b.BeepWhenDone
            && a.ReadAndCheckAfterWrite == b.ReadAndCheckAfterWrite;
    }

    /** A string field survives a write and a read, except that line breaks inside
        it become blanks (a value is one line), blanks at either end go (values
        are read trimmed) and a leading quote may lose its pair (one pair of
        enclosing quotes is taken off when reading). */
    bool SameText (const wchar_t* a, const wchar_t* b)
    {
        if (a[0] == L'"' || a[0] == L'\'')
            return true;
        const auto norm = [] (const wchar_t* t)
        {
            return juce::String (t, (size_t) kMaxPath).replaceCharacters ("\r\n", "  ").trim();
        };
        return norm (a) == norm (b);
    }

    bool SameTexts (const _STR_PRESET& a, const _STR_PRESET& b)
    {
        return SameText (a.PresetName, b.PresetName) && SameText (a.MCUName, b.MCUName)
            && SameText (a.FlashName, b.FlashName) && SameText (a.NameWrite, b.NameWrite)
            && SameText (a.NameRead, b.NameRead);
    }
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    const uint8_t mode = data[0];
    const std::string original (reinterpret_cast<const char*> (data + 1), size - 1);
    const auto file = WriteScratchFile ("config.ini", original.data(), original.size());
    const auto path = file.getFullPathName();
    const bool utf16 = original.size() >= 2 && (uint8_t) original[0] == 0xFF && (uint8_t) original[1] == 0xFE;

    // Load and save unchanged: the file stays as it was.
    {
        ProfileFile profile (path);
        if (! profile.Load())
            Fail ("a readable file was refused");
        for (auto* s : kSections)
            for (auto* k : kKeys)
                profile.Get (s, k, "default");
        if (! profile.Save())
            Fail ("an unchanged file could not be saved");
        const auto once = ReadBack (file);
        if (! utf16 && once != original)
            Fail ("an unchanged file was not written back byte for byte");
        ProfileFile again (path);
        again.Load();
        again.Save();
        if (ReadBack (file) != once)
            Fail ("a second unchanged save changed the file");
    }

    // Set values: each reads back as set, after a save and a fresh load.
    if (mode & 1)
    {
        ProfileFile profile (path);
        profile.Load();
        const juce::String value ("v" + juce::String (mode) + "_" + juce::String ((int) size));
        const char* section = kSections[(mode >> 1) % 6];
        const char* key = kKeys[(mode >> 4) % 6];
        profile.Set (section, key, value);
        profile.Set ("LastSave", "FlashName", "line\r\nbreak");
        if (profile.Get (section, key, {}) != value)
            Fail ("a value set in memory does not read back");
        profile.Save();
        ProfileFile reread (path);
        reread.Load();
        if (reread.Get (section, key, {}) != value)
            Fail ("a saved value does not read back");
    }

    // The preset store on the same file.
    if (mode & 2)
    {
        const auto wide = path.toWideCharPointer();
        CLocalPreset store;
        store.LoadAll (wide);
        if (store.GetCount() < 0 || store.GetCount() > kMaxPresets)
            Fail ("the store holds more presets than its table");
        for (int i = 0; i < store.GetCount(); ++i)
            if (store.Get (i) == nullptr)
                Fail ("a counted preset is missing");
        const _STR_PRESET lastSave = *store.Get (-1);

        if (mode & 4)
        {
            _STR_PRESET named = lastSave;
            std::wcscpy (named.PresetName, (mode & 8) ? L"zeta" : L"Alpha");
            if (store.Put (&named) < 0 && store.GetCount() < kMaxPresets)
                Fail ("a preset was refused although the table has room");
        }
        const int count = store.GetCount();
        store.SaveAll();

        CLocalPreset reread;
        reread.LoadAll (wide);
        if (reread.GetCount() != count)
            Fail ("the preset count did not survive a save");
        const auto* back = reread.Get (-1);
        if (! SameNumbersAndFlags (lastSave, *back) || ! SameTexts (lastSave, *back))
            Fail ("the LastSave record did not survive a save");
    }
    return 0;
}
