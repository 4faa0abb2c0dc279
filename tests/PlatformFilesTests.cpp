// Folder listings, bounded paths, the program folder, the file calls and the
// document opener.
#include <gtest/gtest.h>
#include <cerrno>
#include <cstdlib>
#include <cwchar>
#include <sys/wait.h>
#include "platform/FolderListing.h"
#include "platform/Paths.h"
#include "platform/ProgramFolder.h"
#include "platform/SystemCalls.h"
#include "PlatformTestFolder.h"
#include "LonelyFifo.h"

using namespace storetest;

namespace
{
    struct Listed
    {
        juce::String name;
        bool directory;
        bool operator== (const Listed& o) const { return name == o.name && directory == o.directory; }
    };

    std::vector<Listed> List (const juce::File& folder, const juce::String& mask)
    {
        const auto pattern = folder.getFullPathName() + juce::File::getSeparatorString() + mask;
        std::vector<Listed> out;
        FolderEntry entry;
        FolderHandle h = FindFirstEntry (pattern.toWideCharPointer(), &entry);
        if (h == nullptr)
            return out;
        do
            out.push_back ({ ToString (entry.szName), entry.bDirectory });
        while (FindNextEntry (h, &entry));
        EXPECT_FALSE (FindNextEntry (h, &entry));
        FindCloseListing (h);
        return out;
    }

    juce::String Utf8 (const char* s) { return juce::String (juce::CharPointer_UTF8 (s)); }
}

TEST (PlatformFiles, ListingIsInCaseInsensitiveNameOrderWithDotsFirst)
{
    TestFolder dir;
    for (const char* name : { "b.bin", "a.bin", "A.BIN", "c.txt", "_x.bin", "Zeta.bin", "README", ".hidden.bin" })
        dir.WriteText (name, "x");
    dir.Child ("dir.bin").createDirectory();

    const std::vector<Listed> all {
        { ".", true }, { "..", true }, { ".hidden.bin", false }, { "A.BIN", false }, { "a.bin", false },
        { "b.bin", false }, { "c.txt", false }, { "dir.bin", true }, { "README", false },
        { "Zeta.bin", false }, { "_x.bin", false } };
    EXPECT_EQ (List (dir.Get(), "*"), all);
    EXPECT_EQ (List (dir.Get(), "*.*"), all);

    const std::vector<Listed> bins {
        { ".hidden.bin", false }, { "A.BIN", false }, { "a.bin", false }, { "b.bin", false },
        { "dir.bin", true }, { "Zeta.bin", false }, { "_x.bin", false } };
    EXPECT_EQ (List (dir.Get(), "*.bin"), bins);
    EXPECT_EQ (List (dir.Get(), "*.BIN"), bins);

    const std::vector<Listed> single { { "A.BIN", false }, { "a.bin", false }, { "b.bin", false } };
    EXPECT_EQ (List (dir.Get(), "?.bin"), single);
}

TEST (PlatformFiles, ListingOfNothingOrNoFolderIsNoListing)
{
    TestFolder dir;
    dir.WriteText ("only.txt", "x");
    FolderEntry entry;
    EXPECT_EQ (FindFirstEntry ((dir.Get().getFullPathName() + "/*.bin").toWideCharPointer(), &entry), nullptr);
    EXPECT_EQ (FindFirstEntry ((dir.Child ("missing").getFullPathName() + "/*").toWideCharPointer(), &entry), nullptr);
    EXPECT_EQ (FindFirstEntry ((dir.Get().getFullPathName() + "/").toWideCharPointer(), &entry), nullptr);
    EXPECT_FALSE (FindNextEntry (nullptr, &entry));
    FindCloseListing (nullptr);

    // An empty folder still lists itself and its parent, as Windows does.
    const auto empty = dir.Child ("empty");
    empty.createDirectory();
    EXPECT_EQ (List (empty, "*"), (std::vector<Listed> { { ".", true }, { "..", true } }));
}

TEST (PlatformFiles, NonAsciiNamesAreListedAndOpened)
{
    TestFolder dir;
    const auto name = Utf8 ("Tr\xc3\xa4iber \xe2\x9c\x93.bin");
    dir.Child (name).replaceWithText ("data");
    const auto listed = List (dir.Get(), "*.BIN");
    ASSERT_EQ (listed.size(), 1u);
    EXPECT_EQ (listed[0].name, name);

    std::FILE* f = OpenFileW (dir.Child (name).getFullPathName().toWideCharPointer(), "rb");
    ASSERT_NE (f, nullptr);
    EXPECT_EQ (FileSize64 (f), 4);
    std::fclose (f);
}

TEST (PlatformFiles, PathsAreCutAt259Characters)
{
    wchar_t path[kMaxPath];
    const std::wstring longText (300, L'a');
    PathCopy (path, longText.c_str());
    EXPECT_EQ (std::wcslen (path), 259u);

    PathCopy (path, std::wstring (250, L'b').c_str());
    PathAppend (path, L"0123456789abc");
    EXPECT_EQ (std::wcslen (path), 259u);
    EXPECT_EQ (path[258], L'8');

    char narrow[20];
    NarrowCopy (narrow, "0123456789012345678901234", sizeof (narrow));
    EXPECT_STREQ (narrow, "0123456789012345678");
}

TEST (PlatformFiles, NarrowTextIsUtf8OrElseLatin1)
{
    EXPECT_EQ (NarrowToWide ("K\xc3\xa9stra"), Utf8 ("K\xc3\xa9stra"));
    EXPECT_EQ (NarrowToWide ("K\xe9stra"), Utf8 ("K\xc3\xa9stra"));
    EXPECT_EQ (NarrowToWide ("cut \xe2\x9c"), Utf8 ("cut \xc3\xa2\xc2\x9c"));
    EXPECT_EQ (NarrowToWide (nullptr), juce::String());
}

TEST (PlatformFiles, ProgramFolderEndsWithASeparatorAndCanBeRedirected)
{
    const auto exeFolder = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getParentDirectory();
    EXPECT_EQ (GetProgramFolderPath(), exeFolder.getFullPathName() + "/");

    TestFolder dir;
    SetProgramFolderForTests (dir.Get());
    EXPECT_EQ (GetProgramFolderPath(), dir.Get().getFullPathName() + "/");
    SetProgramFolderForTests (juce::File());
    EXPECT_EQ (GetProgramFolderPath(), exeFolder.getFullPathName() + "/");
}

TEST (PlatformFiles, AnInstalledProgramReadsItsSharedFolderAndWritesInTheUsersFolders)
{
    TestFolder dir;
    const auto root = dir.Get().getFullPathName();
    const auto bin = dir.Child ("usr/bin"), unpacked = dir.Child ("zip");
    ASSERT_TRUE (bin.createDirectory() && dir.Child ("usr/share/kestrava/Drivers").createDirectory());
    ASSERT_TRUE (unpacked.getChildFile ("Drivers").createDirectory() && dir.Child ("share/kestrava").createDirectory());
    const auto oldHome = juce::SystemStats::getEnvironmentVariable ("HOME", {});
    const auto oldConfig = juce::SystemStats::getEnvironmentVariable ("XDG_CONFIG_HOME", {});
    const auto oldCache = juce::SystemStats::getEnvironmentVariable ("XDG_CACHE_HOME", {});
    const auto oldData = juce::SystemStats::getEnvironmentVariable ("XDG_DATA_HOME", {});

    // `setting`: XDG_CONFIG_HOME ("/x" for a folder of the test), or "own" to make the user's driver folder first.
    struct Case { juce::File program; const char* relative; DataFileKind kind; const char* setting; juce::String expected; };
    const Case cases[] = {
        { bin, "QvDoc\\Logo.PNG", DataFileKind::Fixed, "", root + "/usr/share/kestrava/QvDoc/Logo.PNG" },
        { bin, "Drivers", DataFileKind::Drivers, "", root + "/usr/share/kestrava/Drivers" },
        { bin, "Drivers", DataFileKind::Drivers, "own", root + "/data/kestrava/Drivers" },
        { bin, "QvDoc\\config.ini", DataFileKind::Settings, "/x", root + "/cfg/kestrava/config.ini" },
        { bin, "QvDoc\\config.ini", DataFileKind::Settings, "relative/is/ignored", root + "/.config/kestrava/config.ini" },
        { bin, "QvDoc\\Comparetemp.rom", DataFileKind::Scratch, "", root + "/cache/kestrava/Comparetemp.rom" },
        // Drivers beside the program: the program folder holds everything.
        { unpacked, "QvDoc\\config.ini", DataFileKind::Settings, "", root + "/zip/QvDoc/config.ini" },
        // No shared folder beside it either (a build tree).
        { dir.Child ("usr/lib/x"), "SEC0.rom", DataFileKind::Scratch, "", root + "/usr/lib/x/SEC0.rom" },
    };
    for (const auto& c : cases)
    {
        const juce::String config (c.setting);
        setenv ("XDG_CONFIG_HOME", (config == "/x" ? root + "/cfg" : config).toRawUTF8(), 1);
        setenv ("XDG_CACHE_HOME", (root + "/cache").toRawUTF8(), 1);
        setenv ("HOME", root.toRawUTF8(), 1);
        setenv ("XDG_DATA_HOME", (root + "/data").toRawUTF8(), 1);
        if (config == "own")
            dir.Child ("data/kestrava/Drivers").createDirectory();
        const auto path = DataFilePathFor (c.program, c.relative, c.kind);
        EXPECT_EQ (path, c.expected) << c.relative;
        if ((c.kind == DataFileKind::Settings || c.kind == DataFileKind::Scratch) && ! path.startsWith (c.program.getFullPathName()))
        {
            EXPECT_TRUE (juce::File (path).getParentDirectory().isDirectory()) << "the user's folder is made: " << path;
        }
    }
    setenv ("HOME", oldHome.toRawUTF8(), 1);
    setenv ("XDG_CONFIG_HOME", oldConfig.toRawUTF8(), 1);
    setenv ("XDG_CACHE_HOME", oldCache.toRawUTF8(), 1);
    setenv ("XDG_DATA_HOME", oldData.toRawUTF8(), 1);

    SetProgramFolderForTests (bin);
    EXPECT_EQ (GetDataFilePath ("QvDoc\\config.ini", DataFileKind::Settings), root + "/usr/bin/QvDoc/config.ini") << "a chosen folder holds everything";
    SetProgramFolderForTests (juce::File());
}

TEST (PlatformFiles, OpenTakesOnlyRegularFilesWithoutWaitingAndDeleteAcceptsMissingFiles)
{
    TestFolder dir;
    const auto folder = dir.Child ("image.bin");
    folder.createDirectory();
    LonelyFifo fifo (dir.Child ("pipe.bin"));
    ASSERT_TRUE (fifo.Made());
    const auto linked = dir.Child ("linked.bin");
    ASSERT_TRUE (dir.WriteText ("target.bin", "data").createSymbolicLink (linked, true));

    // A write may go to a character device; a read takes a regular file or a link to one.
    struct Case { juce::String path; const char* mode; bool opens; };
    const Case cases[] = {
        { folder.getFullPathName(), "rb", false }, { folder.getFullPathName(), "wb", false },
        { dir.Child ("pipe.bin").getFullPathName(), "rb", false }, { dir.Child ("pipe.bin").getFullPathName(), "wb", false },
        { dir.Child ("pipe.bin").getFullPathName(), "r+b", false },
        { "/dev/zero", "rb", false }, { "/dev/null", "wb", true }, { linked.getFullPathName(), "rb", true },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.path + " " + c.mode);
        std::FILE* f = OpenFileW (c.path, c.mode);
        EXPECT_EQ (f != nullptr, c.opens);
        if (f != nullptr)
            std::fclose (f);
    }
    EXPECT_FALSE (fifo.Rescued());

    EXPECT_FALSE (DeleteFileW (folder.getFullPathName().toWideCharPointer()));
    EXPECT_TRUE (folder.isDirectory());

    const auto file = dir.WriteText ("SEC0.rom", "x");
    EXPECT_TRUE (DeleteFileW (file.getFullPathName().toWideCharPointer()));
    EXPECT_FALSE (file.exists());
    EXPECT_TRUE (DeleteFileW (file.getFullPathName().toWideCharPointer()));
}

TEST (PlatformFiles, SizeOfAFileBeyond4GiBLeavesThePositionAtTheStart)
{
    TestFolder dir;
    const auto file = dir.Child ("sparse.rom");
    {
        std::FILE* w = OpenFileW (file.getFullPathName(), "wb");
        ASSERT_NE (w, nullptr);
        ASSERT_EQ (::ftruncate (::fileno (w), (off_t) 0x140000000LL), 0);
        std::fclose (w);
    }
    std::FILE* f = OpenFileW (file.getFullPathName(), "rb");
    ASSERT_NE (f, nullptr);
    std::fgetc (f);
    EXPECT_EQ (FileSize64 (f), 0x140000000LL);
    EXPECT_EQ (::ftello (f), 0);
    std::fclose (f);
}

TEST (PlatformFiles, ADocumentGoesToTheOpenerAsOneArgumentAndIsNeverRunItself)
{
    TestFolder dir;
    // A help file any program could run (as every file on a FAT stick can), in
    // a folder whose name a shell would expand.
    const auto folder = dir.Child ("Help $HOME `true` $(true)");
    ASSERT_TRUE (folder.createDirectory());
    const auto ran = dir.Child ("ran");
    const auto help = folder.getChildFile ("Help.pdf");
    ASSERT_TRUE (help.replaceWithText ("#!/bin/sh\ntouch '" + ran.getFullPathName() + "'\n", false, false, "\n"));
    TestFolder::SetMode (help, 0755);

    // The desktop's opener, as this test's stand-in: it notes what it was given.
    const auto bin = dir.Child ("bin");
    ASSERT_TRUE (bin.createDirectory());
    const auto noted = dir.Child ("opened");
    const auto opener = bin.getChildFile ("xdg-open");
    ASSERT_TRUE (opener.replaceWithText ("#!/bin/sh\nprintf '%s' \"$1\" > '" + noted.getFullPathName() + ".part'\n"
                                         "mv '" + noted.getFullPathName() + ".part' '" + noted.getFullPathName() + "'\n",
                                         false, false, "\n"));
    TestFolder::SetMode (opener, 0755);
    const std::string path = std::getenv ("PATH") != nullptr ? std::getenv ("PATH") : "";
    ::setenv ("PATH", (bin.getFullPathName().toStdString() + ":" + path).c_str(), 1);

    const bool started = OpenDocument (help.getFullPathName().toWideCharPointer());
    ::setenv ("PATH", path.c_str(), 1);
    EXPECT_TRUE (started);

    // Nothing of ours is left to be reaped, running or finished, the moment the call returns.
    int status = 0;
    errno = 0;
    EXPECT_EQ (::waitpid (-1, &status, WNOHANG), -1);
    EXPECT_EQ (errno, ECHILD);

    const auto until = juce::Time::getMillisecondCounter() + 10000;
    while (! noted.existsAsFile() && juce::Time::getMillisecondCounter() < until)
        juce::Thread::sleep (5);
    ASSERT_TRUE (noted.existsAsFile());
    EXPECT_EQ (noted.loadFileAsString(), help.getFullPathName());
    EXPECT_FALSE (ran.exists());
}
