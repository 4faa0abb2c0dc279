// The panel's use of the settings file: what it writes at a first run, how it
// shows the last-used values, and what StoreLastSave keeps.
#include <gtest/gtest.h>
#include "link/SysExPace.h"
#include "tests/PanelTestSupport.h"

using paneltest::ConfigFile;
using paneltest::ReadIni;

namespace
{
    const char* const kPresetKeys[] = { "PresetName", "MCUName", "FlashName", "FlashPage", "NameWrite", "FileOffset",
                                        "WriteLength", "FlashOffset", "NameRead", "ReadOffset", "ReadLength",
                                        "UserWordAddress", "BeepWhenDone", "ReadAndCheckAfterWrite" };

    void WriteConfig (const PanelHarness& h, const juce::String& lastSaveBody, const juce::String& extra = {})
    {
        ASSERT_TRUE (ConfigFile (h).replaceWithText ("[GlobleInfo]\nTotalPreset=0\n[LastSave]\n" + lastSaveBody + extra));
    }
}

TEST (PanelPresets, AFirstRunShowsDefaultsAndWritesTheGlobalSectionAndTheFourteenKeysOnExit)
{
    PanelHarness h;
    ASSERT_FALSE (ConfigFile (h).exists());
    auto& panel = h.Start();
    EXPECT_EQ (panel.GetMCUCombo()->getText(), "");
    EXPECT_EQ (panel.GetFlashTypeCombo()->getText(), "");
    for (auto* e : { panel.GetFileOffsetEditor(), panel.GetFlashOffsetEditor(), panel.GetWriteLengthEditor(), panel.GetFlashPageEditor() })
        EXPECT_EQ (e->getText(), "0");
    EXPECT_TRUE (panel.GetWordToggle()->getToggleState());
    EXPECT_FALSE (panel.GetByteToggle()->getToggleState());

    h.panel.reset();
    ASSERT_TRUE (ConfigFile (h).existsAsFile());
    const auto ini = ReadIni (ConfigFile (h));
    // The settings the program never changed are not written: the file stays as before they existed.
    EXPECT_EQ (ini.sectionOrder, juce::StringArray ({ "GlobleInfo", "LastSave" }));
    EXPECT_EQ (ini.Get ("GlobleInfo", "TotalPreset"), "0");
    juce::StringArray keys;
    for (auto* k : kPresetKeys)
        keys.add (k);
    EXPECT_EQ (ini.keyOrder.at ("LastSave"), keys);
    EXPECT_EQ (ini.Get ("LastSave", "PresetName"), "");   // only a stored LastSave carries the name
    EXPECT_EQ (ini.Get ("LastSave", "UserWordAddress"), "1");
    EXPECT_EQ (ini.Get ("LastSave", "FlashPage"), "0");
}

TEST (PanelPresets, StoredDecimalsShowAsHexAndTheUnitsFollowUserWordAddress)
{
    PanelHarness h;
    WriteConfig (h, "FlashPage=1024\nFileOffset=1A\nWriteLength=65536\nFlashOffset=-1\nUserWordAddress=0\n"
                    "NameWrite=/somewhere/old.bin\n");
    auto& panel = h.Start();
    EXPECT_EQ (panel.GetFlashPageEditor()->getText(), "400");
    EXPECT_EQ (panel.GetFileOffsetEditor()->getText(), "1");       // reading stops at the A
    EXPECT_EQ (panel.GetWriteLengthEditor()->getText(), "10000");
    EXPECT_EQ (panel.GetFlashOffsetEditor()->getText(), "ffffffff");
    EXPECT_FALSE (panel.GetWordToggle()->getToggleState());
    EXPECT_TRUE (panel.GetByteToggle()->getToggleState());
    // The restored file name is not shown once the panel is up.
    EXPECT_EQ (panel.GetFileLabelText(), "No file selected.");
}

TEST (PanelPresets, AnMcuNoDriverProvidesIsShownAsTextWithNothingSelected)
{
    PanelHarness h;
    WriteConfig (h, "MCUName=QVM999\nFlashName=KV29F064\n");
    auto& panel = h.Start();
    EXPECT_EQ (panel.GetMCUCombo()->getText(), "QVM999");
    EXPECT_EQ (panel.GetMCUCombo()->getSelectedId(), 0);
    // No flash type can be chosen for it (the stored flash name may still stand as text).
    EXPECT_EQ (panel.GetFlashTypeCombo()->getNumItems(), 0);
    EXPECT_EQ (panel.GetFlashTypeCombo()->getSelectedId(), 0);
    EXPECT_EQ (panel.GetSelectedFlash(), nullptr);

    // Written back as it was shown.
    panel.StoreLastSave();
    h.panel.reset();
    EXPECT_EQ (ReadIni (ConfigFile (h)).Get ("LastSave", "MCUName"), "QVM999");
}

TEST (PanelPresets, AKnownMcuAndFlashSelectTheirDriver)
{
    PanelHarness h;
    WriteConfig (h, "MCUName=QVM428\nFlashName=KV29H192\n");
    auto& panel = h.Start();
    EXPECT_GT (panel.GetMCUCombo()->getSelectedId(), 0);
    EXPECT_EQ (panel.GetFlashTypeCombo()->getText(), "KV29H192");
    auto* flash = panel.GetSelectedFlash();
    ASSERT_NE (flash, nullptr);
    EXPECT_STREQ (flash->szFlashName, "KV29H192");
    EXPECT_TRUE (ToString (flash->szDriverPath).endsWith ("QVM428_KV29H192.bin"));

    // An unknown flash name of a known MCU falls back to its first driver.
    h.panel.reset();
    WriteConfig (h, "MCUName=QVM428\nFlashName=NOSUCHFLASH\n");
    auto& again = h.Start();
    EXPECT_EQ (again.GetFlashTypeCombo()->getSelectedId(), 1);
    EXPECT_NE (again.GetSelectedFlash(), nullptr);
}

TEST (PanelPresets, StoreLastSaveTakesThePanelsValuesAndKeepsTheFieldsWithoutControls)
{
    PanelHarness h;
    WriteConfig (h, "NameRead=/keep/read here.bin\nReadOffset=77\nReadLength=-88\nBeepWhenDone=2\n"
                    "ReadAndCheckAfterWrite=1\nUserWordAddress=1\n",
                 "; a comment\n[Other]\nmine=yes\n");
    auto& panel = h.Start();

    const auto image = paneltest::WriteImage (h.folder.getChildFile ("w.bin"), 16);
    panel.SetFileName (image.getFullPathName());
    panel.GetFlashPageEditor()->setText ("0x1F");
    panel.GetFileOffsetEditor()->setText ("ffffffff");
    panel.GetWriteLengthEditor()->setText ("123456789");   // only the low 32 bits stay
    panel.GetFlashOffsetEditor()->setText ("10000");
    panel.SetWordMode (false);
    panel.StoreLastSave();

    const auto* last = panel.GetPresets().Get (-1);
    ASSERT_NE (last, nullptr);
    EXPECT_EQ (ToString (last->PresetName), "LastSave");
    EXPECT_EQ (last->FlashPage, 31);
    EXPECT_EQ (last->FileOffset, -1);
    EXPECT_EQ (last->WriteLength, 0x23456789);
    EXPECT_EQ (last->FlashOffset, 65536);
    EXPECT_FALSE (last->UserWordAddress);

    h.panel.reset();
    const auto ini = ReadIni (ConfigFile (h));
    EXPECT_EQ (ini.Get ("LastSave", "PresetName"), "LastSave");
    EXPECT_EQ (ini.Get ("LastSave", "NameWrite"), image.getFullPathName());
    EXPECT_EQ (ini.Get ("LastSave", "FlashPage"), "31");
    EXPECT_EQ (ini.Get ("LastSave", "FileOffset"), "-1");
    EXPECT_EQ (ini.Get ("LastSave", "FlashOffset"), "65536");
    EXPECT_EQ (ini.Get ("LastSave", "UserWordAddress"), "0");
    // The fields the panel has no controls for keep what the file held.
    EXPECT_EQ (ini.Get ("LastSave", "NameRead"), "/keep/read here.bin");
    EXPECT_EQ (ini.Get ("LastSave", "ReadOffset"), "77");
    EXPECT_EQ (ini.Get ("LastSave", "ReadLength"), "-88");
    EXPECT_EQ (ini.Get ("LastSave", "BeepWhenDone"), "1");
    EXPECT_EQ (ini.Get ("LastSave", "ReadAndCheckAfterWrite"), "1");
    // What the program does not write stays.
    EXPECT_EQ (ini.Get ("Other", "mine"), "yes");
    EXPECT_TRUE (ConfigFile (h).loadFileAsString().contains ("; a comment"));
}

TEST (PanelPresets, TheStoredValuesComeBackAtTheNextStart)
{
    PanelHarness h;
    {
        auto& panel = h.Start();
        panel.GetFlashPageEditor()->setText ("400");
        panel.GetFileOffsetEditor()->setText ("1000000");
        panel.SetWordMode (false);
        panel.StoreLastSave();
        h.panel.reset();
    }
    auto& panel = h.Start();
    EXPECT_EQ (panel.GetFlashPageEditor()->getText(), "400");
    EXPECT_EQ (panel.GetFileOffsetEditor()->getText(), "1000000");
    EXPECT_TRUE (panel.GetByteToggle()->getToggleState());
    EXPECT_FALSE (panel.GetWordToggle()->getToggleState());
}

TEST (PanelPresets, ThePaceOfSysExSendsComesFromItsSectionAndABadOneIsLoggedAndTakenAsOff)
{
    struct Case
    {
        const char* name;
        juce::String section;              // what config.ini holds besides LastSave
        std::optional<SysExPace> run;      // kestrava-cli --pace
        SysExPace expected;
        const char* log;                   // in the log pane; null: nothing about the pace
    };
    const Case cases[] = {
        { "no section: whole messages", {}, std::nullopt, {}, nullptr },
        { "a pace", "[Pacing]\nPace=256:90\n", std::nullopt, { 256, 90 }, "Each SysEx is sent in pieces of at most 256 bytes, 90 ms apart" },
        { "no pace", "[Pacing]\nPace=256 90\n", std::nullopt, {}, "[Pacing] Pace=256 90 is no pace" },
        { "the command line's wins", "[Pacing]\nPace=256:90\n", SysExPace { 512, 20 }, { 512, 20 }, "pieces of at most 512 bytes, 20 ms apart" },
        { "the command line's off wins", "[Pacing]\nPace=256:90\n", SysExPace {}, {}, nullptr },
        { "auto: whole until bytes are lost", "[Pacing]\nPace=AUTO\n", std::nullopt, {}, "Pacing auto: each update finds its pace" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        PanelHarness h;
        WriteConfig (h, "UserWordAddress=1\n", c.section);
        SetRunSysExPace (c.run);
        auto& panel = h.Start();
        EXPECT_EQ (CurrentSysExPace(), c.expected);
        const auto log = panel.GetLogText();
        if (c.log != nullptr)
            EXPECT_TRUE (log.contains (c.log)) << log;
        else
            EXPECT_FALSE (log.contains ("Pacing") || log.contains ("pieces")) << log;
        h.panel.reset();
        SetRunSysExPace (std::nullopt);
    }
    SetSettingsSysExPace ({});
}

TEST (PanelPresets, OnlyWhatChangedComesFromItsSectionAndTheUsersEditsOfTheFileStand)
{
    struct Case
    {
        juce::String atStart;     // [Pacing] and [Update] as the panel finds them
        bool onlyChanged;         // what the panel takes
        juce::String editedMeanwhile;   // written by the user while the panel is open; empty: nothing
    };
    const Case cases[] = {
        { {}, false, {} },
        { "[Update]\nOnlyChanged=1\n", true, {} },
        { "[Update]\nOnlyChanged=2\n", true, {} },
        { "[Pacing]\nPace=256:90\n[Update]\nOnlyChanged=0\n", false, "[Pacing]\nPace=128:45\n[Update]\nOnlyChanged=1\n" },
        { {}, false, "[Pacing]\nPace=256:90\n" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE ((c.atStart + " / " + c.editedMeanwhile).toStdString());
        PanelHarness h;
        WriteConfig (h, "UserWordAddress=1\n", c.atStart);
        EXPECT_EQ (h.Start().IsOnlyChanged(), c.onlyChanged);
        if (c.editedMeanwhile.isNotEmpty())
            WriteConfig (h, "UserWordAddress=1\n", c.editedMeanwhile);
        h.panel.reset();
        // Both keys stay exactly as the file has them at the end, missing or not.
        const auto expected = c.editedMeanwhile.isNotEmpty() ? c.editedMeanwhile : c.atStart;
        const auto text = ConfigFile (h).loadFileAsString().replace ("\r\n", "\n");
        EXPECT_TRUE (text.endsWith ("ReadAndCheckAfterWrite=0\n" + expected)) << text;
    }
}
