// Bad settings files through the panel's start-up and shutdown: each gives
// the defaults or the nearest value the panel can show, and after shutdown
// the file still holds everything it held (or, when it may not be written,
// is exactly as it was).
#include <gtest/gtest.h>
#include <sys/stat.h>
#include "tests/PanelTestSupport.h"

namespace
{
    std::string ReadAll (const juce::File& f)
    {
        juce::MemoryBlock mb;
        f.loadFileAsData (mb);
        return std::string (static_cast<const char*> (mb.getData()), mb.getSize());
    }

    void WriteAll (const juce::File& f, const std::string& bytes)
    {
        f.deleteFile();
        juce::FileOutputStream out (f);
        out.write (bytes.data(), bytes.size());
    }

    /** Starts the panel on a settings file, lets `check` look at it, shuts it down and returns the file. */
    std::string StartAndStop (PanelHarness& h, const std::string& ini, const std::function<void (MainComponent&)>& check)
    {
        WriteAll (paneltest::ConfigFile (h), ini);
        auto& panel = h.Start();
        check (panel);
        h.panel.reset();
        PumpMessages (10);
        return ReadAll (paneltest::ConfigFile (h));
    }

    int LastSaveKeys (const std::string& text)
    {
        juce::File f = juce::File::createTempFile ("ini");
        WriteAll (f, text);
        const auto ini = paneltest::ReadIni (f);
        f.deleteFile();
        auto keys = ini.keyOrder.find ("LastSave");
        return keys == ini.keyOrder.end() ? 0 : keys->second.size();
    }
}

TEST (BadInputSettings, BinaryGarbageGivesDefaultsAndEveryByteIsKept)
{
    PanelHarness h;
    juce::Random random (8);
    std::string garbage (65536, '\0');
    for (auto& c : garbage)
        c = (char) random.nextInt (256);
    // Bytes the reader must not take for a section: a lone '[' and ']' on their own lines.
    garbage += "\n[\n]\r\r\n\x1A";

    const auto after = StartAndStop (h, garbage, [] (MainComponent& panel)
    {
        EXPECT_EQ (panel.GetFlashPageEditor()->getText(), "0");
        EXPECT_TRUE (panel.GetWordToggle()->getToggleState());
        EXPECT_EQ (panel.GetMCUCombo()->getText(), "");
    });
    ASSERT_GE (after.size(), garbage.size());
    EXPECT_EQ (after.compare (0, garbage.size(), garbage), 0) << "the garbage comes back unchanged, before the sections added";
    EXPECT_EQ (LastSaveKeys (after.substr (garbage.size())), 14);
}

TEST (BadInputSettings, ATenMegabyteFileIsReadAndKeptWhole)
{
    PanelHarness h;
    std::string big = "; hand-made\r\n[Big]\r\n";
    for (int i = 0; big.size() < 10u * 1024 * 1024; ++i)
        big += "key" + std::to_string (i) + "=" + std::string (100, (char) ('a' + i % 26)) + "\r\n";
    const std::string lastSave = "[LastSave]\r\nFlashPage=1024\r\nUserWordAddress=0\r\n";

    const auto after = StartAndStop (h, big + lastSave, [] (MainComponent& panel)
    {
        EXPECT_EQ (panel.GetFlashPageEditor()->getText(), "400");
        EXPECT_TRUE (panel.GetByteToggle()->getToggleState());
    });
    EXPECT_EQ (after.compare (0, big.size(), big), 0);
    EXPECT_NE (after.find ("FlashPage=1024\r\n", big.size()), std::string::npos);
    EXPECT_EQ (LastSaveKeys (after), 14);
}

TEST (BadInputSettings, NumbersPastTheirRangeGiveTheNearestValue)
{
    PanelHarness h;
    const std::string ini = "[GlobleInfo]\nTotalPreset=1000000\n"
                            "[LastSave]\nFlashOffset=99999999999\nFileOffset=-99999999999\nWriteLength=4294967296\n"
                            "FlashPage=   +12abc\n"
                            "[Preset0]\nPresetName=kept\nFlashPage=7\n";

    const auto after = StartAndStop (h, ini, [] (MainComponent& panel)
    {
        EXPECT_EQ (panel.GetFlashOffsetEditor()->getText(), "7fffffff");
        EXPECT_EQ (panel.GetFileOffsetEditor()->getText(), "80000000");
        EXPECT_EQ (panel.GetWriteLengthEditor()->getText(), "7fffffff");
        EXPECT_EQ (panel.GetFlashPageEditor()->getText(), "c");
        EXPECT_EQ (panel.GetPresets().GetCount(), 40);
    });
    const auto back = juce::File::createTempFile ("ini");
    WriteAll (back, after);
    const auto values = paneltest::ReadIni (back);
    back.deleteFile();
    EXPECT_EQ (values.Get ("GlobleInfo", "TotalPreset"), "40");
    EXPECT_EQ (values.Get ("LastSave", "FlashOffset"), "2147483647");
    EXPECT_EQ (values.Get ("LastSave", "FileOffset"), "-2147483648");
    EXPECT_EQ (values.Get ("Preset0", "PresetName"), "kept");
    EXPECT_EQ (values.Get ("Preset0", "FlashPage"), "7");
}

TEST (BadInputSettings, ASecondSectionOfTheSameNameIsIgnoredAndKept)
{
    PanelHarness h;
    const std::string second = "[lastsave]\nFlashPage=2048\nMCUName=second\n";
    const std::string ini = "[LastSave]\nFlashPage=1024\n" + second;

    const auto after = StartAndStop (h, ini, [] (MainComponent& panel)
    {
        EXPECT_EQ (panel.GetFlashPageEditor()->getText(), "400");
        EXPECT_EQ (panel.GetMCUCombo()->getText(), "");
    });
    EXPECT_NE (after.find (second), std::string::npos);
    EXPECT_EQ (after.find ("FlashPage=2048"), after.rfind ("FlashPage=2048"));
}

TEST (BadInputSettings, AReadOnlyFileOrFolderIsLeftExactlyAsItWas)
{
    PanelHarness h;
    const auto config = paneltest::ConfigFile (h);
    const auto qvdoc = config.getParentDirectory();
    const std::string ini = "[LastSave]\r\nFlashPage=1024\r\n; no other key\r\n";

    ::chmod (qvdoc.getFullPathName().toRawUTF8(), 0755);
    WriteAll (config, ini);
    ::chmod (config.getFullPathName().toRawUTF8(), 0444);
    auto& panel = h.Start();
    EXPECT_EQ (panel.GetFlashPageEditor()->getText(), "400");
    panel.StoreLastSave();
    h.panel.reset();
    EXPECT_EQ (ReadAll (config), ini);
    ::chmod (config.getFullPathName().toRawUTF8(), 0644);

    const auto entries = qvdoc.getNumberOfChildFiles (juce::File::findFilesAndDirectories);
    ::chmod (qvdoc.getFullPathName().toRawUTF8(), 0555);
    h.Start().StoreLastSave();
    h.panel.reset();
    ::chmod (qvdoc.getFullPathName().toRawUTF8(), 0755);
    EXPECT_EQ (ReadAll (config), ini);
    EXPECT_EQ (qvdoc.getNumberOfChildFiles (juce::File::findFilesAndDirectories), entries) << "no temporary file is left";
}
