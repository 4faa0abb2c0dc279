// Images and paths the program cannot use, through the headless panel: each
// ends in the box or log line of its check, the panel stays usable, and a
// path too long for a path buffer is refused rather than cut (cut, it could
// name another file). Non-ASCII names go through a whole update.
#include <gtest/gtest.h>
#include <unistd.h>
#include "tests/LonelyFifo.h"
#include "tests/PanelTestSupport.h"

namespace
{
    constexpr const char* kNoFile = "Please choose Write File!\n";

    /** A sparse file of `size` bytes, with "BD" at 0xFFF8 when it is long enough. */
    juce::File SparseImage (const juce::File& file, int64_t size)
    {
        std::FILE* f = std::fopen (file.getFullPathName().toRawUTF8(), "wb");
        EXPECT_NE (f, nullptr);
        if (f == nullptr)
            return file;
        EXPECT_EQ (::ftruncate (::fileno (f), (off_t) size), 0);
        if (size > 0xFFF9)
        {
            std::fseek (f, 0xFFF8, SEEK_SET);
            std::fputs ("BD", f);
        }
        std::fclose (f);
        return file;
    }

    /** Presses "Program" and runs the loop until the box came and the panel is connected again. */
    void ProgramExpectingBox (PanelHarness& h, const juce::String& box)
    {
        const auto before = h.boxes.size();
        h.PressProgram();
        ASSERT_TRUE (RunLoopUntil ([&] { return h.boxes.size() > before; })) << h.panel->GetLogText();
        EXPECT_EQ (h.boxes.back().text, box);
        PumpMessages (20);
        EXPECT_EQ (h.boxes.size(), before + 1);
        EXPECT_EQ (g_nJobPhase.load(), 0);
        EXPECT_TRUE (h.WaitConnected()) << "\"Program\" is usable again";
    }
}

TEST (BadInputImage, ImagesTooShortForTheMarkerAreMeasuredAndRefusedByProgram)
{
    PanelHarness h;
    h.AddModule();
    auto& panel = h.Start();
    ASSERT_TRUE (h.WaitConnected());

    g_nFileSize = 77;
    h.Choose (SparseImage (h.folder.getChildFile ("empty.bin"), 0));
    EXPECT_EQ (g_nFileSize.load(), 0);
    ProgramExpectingBox (h, "Error Code 24\n");

    // One byte short of holding the first marker: "B" is there, "D" is not.
    const auto shortImage = SparseImage (h.folder.getChildFile ("short.bin"), 0xFFF9);
    {
        std::FILE* f = std::fopen (shortImage.getFullPathName().toRawUTF8(), "r+b");
        ASSERT_NE (f, nullptr);
        std::fseek (f, 0xFFF8, SEEK_SET);
        std::fputc ('B', f);
        std::fclose (f);
    }
    h.Choose (shortImage);
    EXPECT_EQ (g_nFileSize.load(), 0xFFF9);
    ProgramExpectingBox (h, "Error Code 24\n");
    EXPECT_FALSE (paneltest::TakeLog (panel).contains (kNoFile));
}

TEST (BadInputImage, TheFullImageSizeIsExactAndSizesFrom2GiBOnAreRefused)
{
    PanelHarness h;
    h.AddModule();
    auto& panel = h.Start();
    ASSERT_TRUE (h.WaitConnected());
    paneltest::TakeLog (panel);

    h.Choose (SparseImage (h.folder.getChildFile ("almost.bin"), 0x0C000000 - 1));
    EXPECT_EQ (g_nFileSize.load(), 0x0C000000 - 1);
    EXPECT_FALSE (g_bFullImage.load());
    h.Choose (SparseImage (h.folder.getChildFile ("full.bin"), 0x0C000000));
    EXPECT_EQ (g_nFileSize.load(), 0x0C000000);
    EXPECT_TRUE (g_bFullImage.load());
    EXPECT_EQ (paneltest::TakeLog (panel), "");

    for (const int64_t size : { int64_t (0x80000000), int64_t (0x100000005) })
    {
        SCOPED_TRACE (size);
        const bool fullBefore = g_bFullImage.load();
        h.Choose (SparseImage (h.folder.getChildFile ("huge.bin"), size));
        EXPECT_EQ (paneltest::TakeLog (panel), kNoFile);
        EXPECT_EQ (g_nFileSize.load(), 0x0C000000) << "the last usable choice stays";
        EXPECT_EQ (g_bFullImage.load(), fullBefore);
        // It carries the marker, but a file that cannot be measured is not programmed.
        ProgramExpectingBox (h, "Error Code 23\n");
    }
}

TEST (BadInputImage, AFolderOrAFifoNamedLikeAnImageIsNoImageAndRefusedAtOnce)
{
    PanelHarness h;
    h.AddModule();
    auto& panel = h.Start();
    ASSERT_TRUE (h.WaitConnected());
    paneltest::TakeLog (panel);

    const auto folder = h.folder.getChildFile ("folder.bin");
    ASSERT_TRUE (folder.createDirectory());
    // A FIFO waits for a writer when it is opened: the window would wait with it.
    LonelyFifo fifo (h.folder.getChildFile ("pipe.bin"));
    ASSERT_TRUE (fifo.Made());
    for (const auto& chosen : { folder, h.folder.getChildFile ("pipe.bin") })
    {
        SCOPED_TRACE (chosen.getFileName());
        h.Choose (chosen);
        EXPECT_EQ (paneltest::TakeLog (panel), kNoFile);
        EXPECT_EQ (g_nFileSize.load(), 0);
        ProgramExpectingBox (h, "Error Code 23\n");
    }
    EXPECT_FALSE (fifo.Rescued());
}

TEST (BadInputImage, AnImageWithoutReadPermissionIsNoImage)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads files whatever their permission bits; "
                        "AFolderNamedLikeAnImageIsNoImage covers a chosen file that cannot be opened";
    PanelHarness h;
    h.AddModule();
    auto& panel = h.Start();
    ASSERT_TRUE (h.WaitConnected());
    paneltest::TakeLog (panel);

    const auto image = h.MakeImage ("locked.bin", 0x20000);
    ASSERT_TRUE (image.setReadOnly (true));
    ::chmod (image.getFullPathName().toRawUTF8(), 0);
    h.Choose (image);
    EXPECT_EQ (paneltest::TakeLog (panel), kNoFile);
    ProgramExpectingBox (h, "Error Code 23\n");
    ::chmod (image.getFullPathName().toRawUTF8(), 0644);
}

TEST (BadInputImage, AnImagePathLongerThan259CharactersIsRefusedNotCut)
{
    PanelHarness h;
    h.AddModule();
    auto& panel = h.Start();
    ASSERT_TRUE (h.WaitConnected());
    paneltest::TakeLog (panel);

    const auto deep = h.folder.getChildFile (juce::String::repeatedString ("d", 200));
    ASSERT_TRUE (deep.createDirectory());
    const auto image = deep.getChildFile (juce::String::repeatedString ("i", 80) + ".bin");
    const auto path = image.getFullPathName();
    ASSERT_GT (path.length(), 259);
    h.MakeImage ("unused.bin", 0x20000).moveFileTo (image);
    ASSERT_TRUE (image.existsAsFile());

    // What the path would be if it were cut to a path buffer: another image.
    const juce::File decoy (path.substring (0, 259));
    h.MakeImage ("decoy.bin", 0x30000).moveFileTo (decoy);
    ASSERT_TRUE (decoy.existsAsFile());

    g_nFileSize = 1234;
    h.Choose (image);
    EXPECT_EQ (paneltest::TakeLog (panel), kNoFile);
    EXPECT_EQ (g_nFileSize.load(), 1234) << "neither file was measured";
    ProgramExpectingBox (h, "Error Code 23\n");
}

TEST (BadInputImage, ADataFolderTooDeepForItsPathsUsesNoCutPath)
{
    PanelHarness h;
    // The folder's paths to its settings and scratch files pass 259 characters,
    // the driver folder's does not.
    const int depth = 247 - h.folder.getFullPathName().length() - 1;
    ASSERT_GT (depth, 10);
    const auto data = h.folder.getChildFile (juce::String::repeatedString ("p", depth));
    ASSERT_TRUE (data.createDirectory());
    h.folder.getChildFile ("QvDoc").copyDirectoryTo (data.getChildFile ("QvDoc"));
    h.folder.getChildFile ("Drivers").copyDirectoryTo (data.getChildFile ("Drivers"));
    SetProgramFolderForTests (data);
    const auto configPath = data.getChildFile ("QvDoc").getChildFile ("config.ini").getFullPathName();
    ASSERT_GE (configPath.length(), 260);

    const juce::File config (configPath);
    config.replaceWithText ("[LastSave]\nFlashPage=1024\n", false, false, "\n");
    const juce::File cutConfig (configPath.substring (0, 259));
    cutConfig.replaceWithText ("[GlobleInfo]\nTotalPreset=0\n", false, false, "\n");
    const auto before = data.findChildFiles (juce::File::findFilesAndDirectories, true);

    auto& panel = h.Start();
    EXPECT_EQ (panel.GetFlashPageEditor()->getText(), "0") << "neither file was read";
    h.panel.reset();
    PumpMessages (10);

    EXPECT_EQ (config.loadFileAsString(), "[LastSave]\nFlashPage=1024\n");
    EXPECT_EQ (cutConfig.loadFileAsString(), "[GlobleInfo]\nTotalPreset=0\n");
    EXPECT_EQ (data.findChildFiles (juce::File::findFilesAndDirectories, true), before) << "no file was made";
}

TEST (BadInputImage, NonAsciiImageDataFolderAndDriverNamesGoThroughAWholeUpdate)
{
    PanelHarness h;
    const auto data = h.folder.getChildFile (juce::String (juce::CharPointer_UTF8 ("Daten \xC3\xA4\xC3\xB6\xC3\xBC \xE6\x97\xA5\xE6\x9C\xAC")));
    ASSERT_TRUE (data.createDirectory());
    h.folder.getChildFile ("QvDoc").copyDirectoryTo (data.getChildFile ("QvDoc"));
    const auto drivers = data.getChildFile ("Drivers");
    ASSERT_TRUE (drivers.createDirectory());
    for (const auto& d : h.folder.getChildFile ("Drivers").findChildFiles (juce::File::findFiles, false, "*.bin"))
        ASSERT_TRUE (d.copyFileTo (drivers.getChildFile (d.getFileNameWithoutExtension()
                                                         + juce::String (juce::CharPointer_UTF8 (" \xE2\x80\x93 \xC3\xA9.bin")))));
    SetProgramFolderForTests (data);

    auto module = h.AddModule (SimMode::Application);
    auto& panel = h.Start();
    ASSERT_GT (panel.GetMCUCombo()->getNumItems(), 0) << panel.GetLogText();
    ASSERT_TRUE (h.WaitConnected());

    const auto image = h.MakeImage ("plain.bin", 0x100000);
    const auto named = data.getChildFile (juce::String (juce::CharPointer_UTF8 ("Bild \xC3\x9F \xE6\x97\xA5.bin")));
    ASSERT_TRUE (image.moveFileTo (named));
    h.Choose (named);
    EXPECT_EQ (g_nFileSize.load(), 0x100000);
    h.PressProgram();

    ASSERT_TRUE (h.WaitForBox ("It is Completed,Please Restart Device\n", 120000)) << panel.GetLogText();
    EXPECT_TRUE (module->readFlash (0, 0x100000) == PanelHarness::Bytes (named));
    EXPECT_EQ (h.boxes.size(), 1u);
    h.panel.reset();
    EXPECT_TRUE (paneltest::ReadIni (data.getChildFile ("QvDoc").getChildFile ("config.ini"))
                     .Get ("LastSave", "NameWrite") == named.getFullPathName());
}
