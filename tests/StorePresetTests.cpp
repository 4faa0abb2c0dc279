// The preset store on real settings files: defaults, number reading, the
// sorted table, and files that must survive a save.
#include <gtest/gtest.h>
#include "platform/ProfileStrings.h"
#include <cwchar>
#include "platform/SystemCalls.h"
#include "store/Preset.h"
#include "PlatformTestFolder.h"

using namespace storetest;

namespace
{
    class StorePreset : public ::testing::Test
    {
    protected:
        juce::File Ini() const { return dir.Child ("config.ini"); }
        void Load() { presets.LoadAll (Ini().getFullPathName().toWideCharPointer()); }
        std::string Saved() const { return TestFolder::ReadBytes (Ini()); }

        static _STR_PRESET Named (const wchar_t* name)
        {
            _STR_PRESET record {};
            PathCopy (record.PresetName, name);
            return record;
        }

        TestFolder dir;
        CLocalPreset presets;
    };
}

TEST_F (StorePreset, FirstRunWritesTheGlobalSectionAndAllFourteenKeys)
{
    Load();
    EXPECT_EQ (presets.GetCount(), 0);
    const _STR_PRESET* last = presets.Get (-1);
    ASSERT_NE (last, nullptr);
    EXPECT_EQ (last->MCUName[0], 0);
    EXPECT_EQ (last->FlashPage, 0);
    EXPECT_TRUE (last->UserWordAddress);
    EXPECT_FALSE (last->BeepWhenDone);
    const auto readDefault = GetDocumentsFolder().isEmpty() ? juce::String() : GetDocumentsFolder() + "/read.bin";
    EXPECT_EQ (juce::String (last->NameRead), readDefault);

    ASSERT_EQ (presets.SaveAll(), 0);
    const std::string expected =
        "[GlobleInfo]\r\nTotalPreset=0\r\n[LastSave]\r\nPresetName=\r\nMCUName=\r\nFlashName=\r\n"
        "FlashPage=0\r\nNameWrite=\r\nFileOffset=0\r\nWriteLength=0\r\nFlashOffset=0\r\n"
        "NameRead=" + readDefault.toStdString() + "\r\nReadOffset=0\r\nReadLength=0\r\n"
        "UserWordAddress=1\r\nBeepWhenDone=0\r\nReadAndCheckAfterWrite=0\r\n";
    EXPECT_EQ (Saved(), expected);
}

TEST_F (StorePreset, ASettingIsWrittenBackOnlyWhenTheProgramSetItAndAMissingOneOnlyWhenItDiffersFromItsDefault)
{
    struct Case
    {
        const char* file;     // [Update] as the file holds it
        int set;              // OnlyChanged as the program sets it; -1: not set
        const char* saved;    // OnlyChanged as written back; null: missing
    };
    const Case cases[] = {
        { "", -1, nullptr },
        { "", 0, nullptr },
        { "", 1, "1" },
        { "[Update]\nOnlyChanged=1\n", -1, "1" },
        { "[Update]\nOnlyChanged=1\n", 0, "0" },
        { "[Update]\nOnlyChanged=7\n", -1, "7" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (std::string (c.file) + " set " + std::to_string (c.set));
        dir.WriteText ("config.ini", std::string ("[GlobleInfo]\nTotalPreset=0\n") + c.file);
        Load();
        if (c.set >= 0)
            presets.SetOnlyChanged (c.set != 0);
        EXPECT_EQ (presets.GetOnlyChanged(), c.set >= 0 ? c.set != 0 : c.saved != nullptr);
        ASSERT_EQ (presets.SaveAll(), 0);
        ProfileFile saved (Ini().getFullPathName());
        ASSERT_TRUE (saved.Load());
        EXPECT_EQ (saved.Has ("Update", "OnlyChanged"), c.saved != nullptr);
        EXPECT_EQ (saved.Get ("Update", "OnlyChanged", "missing"), juce::String (c.saved != nullptr ? c.saved : "missing"));
    }
}

TEST_F (StorePreset, TheFoundPaceOfEachPortIsRememberedUnderAKeyItsNameCannotBreak)
{
    // Names with what ends a key, a line or a section, and bytes beyond ASCII; each gets its own pace back.
    const char* const names[] = { "USB MIDI Interface", "A=B [1]", "Port ]\n[Pacing]\nPace=0", "100% \xc3\xa9 ", "" };
    dir.WriteText ("config.ini", "[Pacing]\nPace=auto\n");
    Load();
    for (int i = 0; i < (int) std::size (names); ++i)
        presets.SetFoundPace (juce::String::fromUTF8 (names[i]), juce::String (16 * (i + 1)) + ":" + juce::String (i));
    ASSERT_EQ (presets.SaveAll(), 0);

    CLocalPreset reloaded;
    reloaded.LoadAll (Ini().getFullPathName().toWideCharPointer());
    for (int i = 0; i < (int) std::size (names); ++i)
        EXPECT_EQ (reloaded.GetFoundPace (juce::String::fromUTF8 (names[i])), juce::String (16 * (i + 1)) + ":" + juce::String (i)) << i;
    EXPECT_EQ (reloaded.GetFoundPace ("another port"), "");
    EXPECT_EQ (reloaded.GetPaceText(), "auto");
    const auto saved = Saved();
    EXPECT_NE (saved.find ("\nFound.A%3DB [1]=32:1\n"), std::string::npos) << saved;
    EXPECT_NE (saved.find ("\nFound.100%25 %C3%A9%20=64:3\n"), std::string::npos) << saved;
    EXPECT_EQ (saved.find ("\nPace=0"), std::string::npos) << saved;
}

TEST_F (StorePreset, NumbersAndFlagsAreReadLikeDecimalAndWrittenBackNormalised)
{
    dir.WriteText ("config.ini",
        "[LastSave]\nFlashPage=1024\nFileOffset=1A\nWriteLength=  -0x10\nFlashOffset=99999999999\n"
        "ReadOffset=-99999999999\nReadLength=abc\nUserWordAddress=0\nBeepWhenDone=2\n"
        "ReadAndCheckAfterWrite=+7\nNameRead=/data/r.bin\n");
    Load();
    const _STR_PRESET& r = *presets.Get (-1);
    EXPECT_EQ (r.FlashPage, 1024);
    EXPECT_EQ (r.FileOffset, 1);
    EXPECT_EQ (r.WriteLength, 0);
    EXPECT_EQ (r.FlashOffset, INT32_MAX);
    EXPECT_EQ (r.ReadOffset, INT32_MIN);
    EXPECT_EQ (r.ReadLength, 0);
    EXPECT_FALSE (r.UserWordAddress);
    EXPECT_TRUE (r.BeepWhenDone);
    EXPECT_TRUE (r.ReadAndCheckAfterWrite);
    EXPECT_STREQ (r.NameRead, L"/data/r.bin");

    ASSERT_EQ (presets.SaveAll(), 0);
    const auto saved = Saved();
    EXPECT_NE (saved.find ("\nBeepWhenDone=1\n"), std::string::npos);
    EXPECT_NE (saved.find ("\nFileOffset=1\n"), std::string::npos);
    EXPECT_NE (saved.find ("\nFlashOffset=2147483647\n"), std::string::npos);
    EXPECT_NE (saved.find ("\nReadOffset=-2147483648\n"), std::string::npos);
}

TEST_F (StorePreset, NamesIgnoreCaseAndTheTableStaysSorted)
{
    Load();
    auto b = Named (L"b"), a = Named (L"a"), c = Named (L"C");
    EXPECT_EQ (presets.Put (&b), 0);
    EXPECT_EQ (presets.Put (&a), 0);
    EXPECT_EQ (presets.Put (&c), 2);
    ASSERT_EQ (presets.GetCount(), 3);
    EXPECT_STREQ (presets.Get (0)->PresetName, L"a");
    EXPECT_STREQ (presets.Get (1)->PresetName, L"b");
    EXPECT_STREQ (presets.Get (2)->PresetName, L"C");

    auto upper = Named (L"B");
    upper.FlashPage = 5;
    EXPECT_EQ (presets.Put (&upper), 1);
    EXPECT_EQ (presets.GetCount(), 3);
    EXPECT_STREQ (presets.Get (1)->PresetName, L"B");
    EXPECT_EQ (presets.Get (1)->FlashPage, 5);

    EXPECT_EQ (presets.Get (3), nullptr);
    EXPECT_EQ (presets.Get (-2), nullptr);
    EXPECT_EQ (presets.Put (nullptr), -1);

    // An empty name makes the record the LastSave record.
    _STR_PRESET panel {};
    panel.FlashOffset = 0x10000;
    EXPECT_EQ (presets.Put (&panel), 0);
    EXPECT_STREQ (panel.PresetName, L"LastSave");
    EXPECT_EQ (presets.Get (-1)->FlashOffset, 0x10000);

    for (int i = presets.GetCount(); i < kMaxPresets; ++i)
    {
        auto more = Named ((L"p" + std::to_wstring (100 + i)).c_str());
        ASSERT_GE (presets.Put (&more), 0);
    }
    auto full = Named (L"zz");
    EXPECT_EQ (presets.Put (&full), -1);
    EXPECT_EQ (presets.GetCount(), kMaxPresets);

    ASSERT_EQ (presets.SaveAll(), 0);
    CLocalPreset reloaded;
    reloaded.LoadAll (Ini().getFullPathName().toWideCharPointer());
    ASSERT_EQ (reloaded.GetCount(), kMaxPresets);
    EXPECT_STREQ (reloaded.Get (39)->PresetName, L"p139");
    EXPECT_STREQ (reloaded.Get (-1)->PresetName, L"LastSave");
    EXPECT_EQ (reloaded.Get (-1)->FlashOffset, 0x10000);
}

TEST_F (StorePreset, AHandWrittenFileKeepsEverythingTheStoreDoesNotWrite)
{
    const std::string original =
        "; written by hand\r\n[Display]\r\nTheme=dark\r\n\r\n[LastSave]\r\n; my last job\r\n"
        "MCUName = QV428 \r\nExtraKey=keep me\r\n\r\n[GlobleInfo]\r\nTotalPreset=0\r\nNote=x\r\n";
    dir.WriteText ("config.ini", original);
    Load();
    EXPECT_STREQ (presets.Get (-1)->MCUName, L"QV428");
    ASSERT_EQ (presets.SaveAll(), 0);

    const auto saved = Saved();
    for (const char* line : { "; written by hand\r\n[Display]\r\nTheme=dark\r\n\r\n[LastSave]\r\n; my last job\r\n",
                              "MCUName=QV428\r\nExtraKey=keep me\r\nPresetName=\r\n",
                              "ReadAndCheckAfterWrite=0\r\n\r\n[GlobleInfo]\r\nTotalPreset=0\r\nNote=x\r\n" })
        EXPECT_NE (saved.find (line), std::string::npos) << line << "\n--- in ---\n" << saved;
}

TEST_F (StorePreset, NonAsciiPathsAndValuesSurviveASaveAndALoad)
{
    const auto folder = dir.Child (juce::String (juce::CharPointer_UTF8 ("D\xc3\xb6k \xe2\x9c\x93")));
    ASSERT_TRUE (folder.createDirectory());
    const auto ini = folder.getChildFile ("config.ini");

    CLocalPreset first;
    first.LoadAll (ini.getFullPathName().toWideCharPointer());
    _STR_PRESET panel {};
    PathCopy (panel.NameWrite, folder.getChildFile (juce::String (juce::CharPointer_UTF8 ("\xe9t\xc3\xa9.bin"))).getFullPathName());
    first.Put (&panel);
    ASSERT_EQ (first.SaveAll(), 0);

    CLocalPreset second;
    second.LoadAll (ini.getFullPathName().toWideCharPointer());
    EXPECT_STREQ (second.Get (-1)->NameWrite, panel.NameWrite);
}

TEST_F (StorePreset, TotalPresetOutOfRangeNeverLeavesTheTable)
{
    std::string text = "[GlobleInfo]\nTotalPreset=1000000\n";
    for (int i = 0; i < 45; ++i)
        text += "[Preset" + std::to_string (i) + "]\nPresetName=n" + std::to_string (100 + i) + "\n";
    dir.WriteText ("config.ini", text);
    Load();
    ASSERT_EQ (presets.GetCount(), kMaxPresets);
    EXPECT_STREQ (presets.Get (39)->PresetName, L"n139");
    ASSERT_EQ (presets.SaveAll(), 0);
    EXPECT_NE (Saved().find ("TotalPreset=40\n"), std::string::npos);
    EXPECT_NE (Saved().find ("[Preset44]\nPresetName=n144\n"), std::string::npos) << "sections beyond the table stay";

    dir.WriteText ("config.ini", "[GlobleInfo]\nTotalPreset=-3\n[Preset0]\nPresetName=x\n");
    CLocalPreset negative;
    negative.LoadAll (Ini().getFullPathName().toWideCharPointer());
    EXPECT_EQ (negative.GetCount(), 0);
    EXPECT_EQ (negative.Get (0), nullptr);
    ASSERT_EQ (negative.SaveAll(), 0);
    EXPECT_NE (Saved().find ("TotalPreset=-3\n"), std::string::npos);

    auto added = Named (L"new");
    EXPECT_EQ (negative.Put (&added), 0);
    ASSERT_EQ (negative.SaveAll(), 0);
    EXPECT_NE (Saved().find ("TotalPreset=1\n"), std::string::npos);
    EXPECT_NE (Saved().find ("[Preset0]\nPresetName=new\n"), std::string::npos);
}

TEST_F (StorePreset, GarbageLoadsAsDefaultsAndIsKeptBySave)
{
    juce::Random random (99);
    std::string garbage (100000, '\0');
    for (auto& c : garbage)
        c = (char) random.nextInt (256);
    garbage += "\n[GlobleInfo]\nTotalPreset=\xff\xfe\n";
    dir.WriteBytes ("config.ini", garbage.data(), garbage.size());

    Load();
    EXPECT_EQ (presets.GetCount(), 0);
    EXPECT_TRUE (presets.Get (-1)->UserWordAddress);
    ASSERT_EQ (presets.SaveAll(), 0);
    EXPECT_EQ (Saved().compare (0, 100001, garbage, 0, 100001), 0);
}

TEST_F (StorePreset, AFailedSaveLeavesTheOldFileAsItWas)
{
    const std::string original = "[LastSave]\nMCUName=old\n";
    dir.WriteText ("config.ini", original);
    Load();
    _STR_PRESET panel {};
    PathCopy (panel.MCUName, L"new");
    presets.Put (&panel);

    TestFolder::SetMode (Ini(), 0444);
    EXPECT_EQ (presets.SaveAll(), 1);
    EXPECT_EQ (Saved(), original);

    CLocalPreset unnamed;
    EXPECT_EQ (unnamed.SaveAll(), 1) << "nothing is written before a file was loaded";

    CLocalPreset nowhere;
    const auto missing = dir.Child ("QvDoc").getChildFile ("config.ini");
    nowhere.LoadAll (missing.getFullPathName().toWideCharPointer());
    EXPECT_EQ (nowhere.SaveAll(), 1);
    EXPECT_FALSE (missing.getParentDirectory().exists());
}
