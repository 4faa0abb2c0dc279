// The settings-file layer: Windows profile-string reading and writing rules,
// and the atomic, loss-free rewrite of the whole file.
#include <gtest/gtest.h>
#include "platform/ProfileStrings.h"
#include "PlatformTestFolder.h"

using namespace storetest;

namespace
{
    juce::String Read (const juce::File& f, const char* section, const char* key, const char* def = "dflt")
    {
        return ReadProfileString (section, key, def, f.getFullPathName());
    }
}

TEST (PlatformProfile, ReadsCaseInsensitivelyTrimmedAndUnquoted)
{
    TestFolder dir;
    const auto ini = dir.WriteText ("a.ini",
        "; comment\r\n[Sec]\r\n  Key =  \"quoted value\"  \r\nPlain=  a b  \r\nSingle='x'\r\nEmpty=\r\nNoEquals\r\n");

    EXPECT_EQ (Read (ini, "SEC", "key"), "quoted value");
    EXPECT_EQ (Read (ini, "sec", "PLAIN"), "a b");
    EXPECT_EQ (Read (ini, " Sec ", "Single"), "x");
    EXPECT_EQ (Read (ini, "Sec", "Empty"), "");
    EXPECT_EQ (Read (ini, "Sec", "NoEquals"), "dflt");
    EXPECT_EQ (Read (ini, "Sec", "Missing"), "dflt");
    EXPECT_EQ (Read (ini, "Other", "Key"), "dflt");
    EXPECT_EQ (Read (ini, "Sec", "; comment"), "dflt");
    EXPECT_EQ (Read (dir.Child ("missing.ini"), "Sec", "Key", "d  "), "d");
}

TEST (PlatformProfile, FirstOfTwoSectionsAndFirstOfTwoKeysWin)
{
    TestFolder dir;
    const auto ini = dir.WriteText ("a.ini", "[S]\nk=1\nk=2\n[s]\nk=3\nonly=4\n");
    EXPECT_EQ (Read (ini, "S", "k"), "1");
    EXPECT_EQ (Read (ini, "S", "only"), "dflt");

    ASSERT_TRUE (WriteProfileString ("s", "K", "9", ini.getFullPathName()));
    EXPECT_EQ (TestFolder::ReadBytes (ini), "[S]\nk=9\nk=2\n[s]\nk=3\nonly=4\n");
}

TEST (PlatformProfile, WriteKeepsEveryOtherLineByteForByte)
{
    TestFolder dir;
    const std::string original =
        "; settings\r\n\r\n[Keep]\r\n  odd line without equals\r\nkey = v \r\n\r\n"
        "[Target]\r\n;note\r\nA=1\r\n\r\n\r\n[Tail]\r\nz=\xff\xfe garbage\r\n";
    const auto ini = dir.WriteText ("a.ini", original);

    ASSERT_TRUE (WriteProfileString ("target", "a", "2", ini.getFullPathName()));
    ASSERT_TRUE (WriteProfileString ("Target", "B", "new", ini.getFullPathName()));
    ASSERT_TRUE (WriteProfileString ("Fresh", "k", "v", ini.getFullPathName()));

    EXPECT_EQ (TestFolder::ReadBytes (ini),
        "; settings\r\n\r\n[Keep]\r\n  odd line without equals\r\nkey = v \r\n\r\n"
        "[Target]\r\n;note\r\nA=2\r\nB=new\r\n\r\n\r\n[Tail]\r\nz=\xff\xfe garbage\r\n"
        "[Fresh]\r\nk=v\r\n");
}

TEST (PlatformProfile, CreatesFileButNotFolderAndEndsUnterminatedLastLine)
{
    TestFolder dir;
    const auto ini = dir.Child ("new.ini");
    ASSERT_TRUE (WriteProfileString ("S", "k", "v", ini.getFullPathName()));
    EXPECT_EQ (TestFolder::ReadBytes (ini), "[S]\r\nk=v\r\n");

    const auto deep = dir.Child ("QvDoc").getChildFile ("config.ini");
    EXPECT_FALSE (WriteProfileString ("S", "k", "v", deep.getFullPathName()));
    EXPECT_FALSE (deep.getParentDirectory().exists());

    const auto open = dir.WriteText ("open.ini", "[S]\nk=1");
    ASSERT_TRUE (WriteProfileString ("S", "n", "2", open.getFullPathName()));
    ASSERT_TRUE (WriteProfileString ("T", "n", "3", open.getFullPathName()));
    EXPECT_EQ (TestFolder::ReadBytes (open), "[S]\nk=1\nn=2\n[T]\nn=3\n");
}

TEST (PlatformProfile, ValuesWithLineBreaksCannotBreakTheFile)
{
    TestFolder dir;
    const auto ini = dir.Child ("a.ini");
    ASSERT_TRUE (WriteProfileString ("S", "k", "one\r\n[Evil]\nx=1", ini.getFullPathName()));
    EXPECT_EQ (Read (ini, "S", "k"), "one  [Evil] x=1");
    EXPECT_EQ (Read (ini, "Evil", "x"), "dflt");
}

TEST (PlatformProfile, BatchSaveIsOneAtomicWriteLeavingNoTemporaryFile)
{
    TestFolder dir;
    const auto ini = dir.WriteText ("config.ini", "[A]\nx=1\n");
    ProfileFile profile (ini.getFullPathName());
    ASSERT_TRUE (profile.Load());
    for (int i = 0; i < 100; ++i)
        profile.Set ("B", "k" + juce::String (i), juce::String (i));

    // Nothing reaches the disk before Save.
    EXPECT_EQ (TestFolder::ReadBytes (ini), "[A]\nx=1\n");
    ASSERT_TRUE (profile.Save());
    EXPECT_EQ (Read (ini, "B", "k99"), "99");
    EXPECT_EQ (Read (ini, "A", "x"), "1");
    EXPECT_EQ (dir.Get().getNumberOfChildFiles (juce::File::findFilesAndDirectories, "*"), 1);
}

TEST (PlatformProfile, ReadOnlyFileOrFolderRefusesTheWriteAndKeepsTheFile)
{
    TestFolder dir;
    const std::string original = "[S]\nk=old\n";
    const auto ini = dir.WriteText ("config.ini", original);

    TestFolder::SetMode (ini, 0444);
    EXPECT_FALSE (WriteProfileString ("S", "k", "new", ini.getFullPathName()));
    EXPECT_EQ (TestFolder::ReadBytes (ini), original);
    TestFolder::SetMode (ini, 0644);

    TestFolder::SetMode (dir.Get(), 0555);
    EXPECT_FALSE (WriteProfileString ("S", "k", "new", ini.getFullPathName()));
    TestFolder::SetMode (dir.Get(), 0755);
    EXPECT_EQ (TestFolder::ReadBytes (ini), original);
    EXPECT_EQ (dir.Get().getNumberOfChildFiles (juce::File::findFilesAndDirectories, "*"), 1);
}

TEST (PlatformProfile, KeepsPermissionsOfTheReplacedFile)
{
    TestFolder dir;
    const auto ini = dir.WriteText ("config.ini", "[S]\nk=1\n");
    TestFolder::SetMode (ini, 0600);
    ASSERT_TRUE (WriteProfileString ("S", "k", "2", ini.getFullPathName()));
    struct stat info {};
    ASSERT_EQ (::stat (ini.getFullPathName().toRawUTF8(), &info), 0);
    EXPECT_EQ (info.st_mode & 0777, 0600u);
}

TEST (PlatformProfile, BinaryGarbageAndLargeFilesSurviveARewrite)
{
    TestFolder dir;
    juce::Random random (1234);
    std::string garbage (200000, '\0');
    for (auto& c : garbage)
        c = (char) random.nextInt (256);
    const auto ini = dir.WriteBytes ("config.ini", garbage.data(), garbage.size());

    ProfileFile profile (ini.getFullPathName());
    ASSERT_TRUE (profile.Load());
    profile.Get ("GlobleInfo", "TotalPreset", "0");
    profile.Set ("GlobleInfo", "TotalPreset", "0");
    ASSERT_TRUE (profile.Save());
    const auto after = TestFolder::ReadBytes (ini);
    EXPECT_EQ (after.compare (0, garbage.size(), garbage), 0) << "the garbage must be kept as it was";
    EXPECT_EQ (Read (ini, "GlobleInfo", "TotalPreset"), "0");

    std::string big;
    big.reserve (10u << 20);
    for (int s = 0; big.size() < (10u << 20); ++s)
    {
        big += "[Section" + std::to_string (s) + "]\r\n";
        for (int k = 0; k < 20; ++k)
            big += "Key" + std::to_string (k) + "=" + std::string (40, 'v') + "\r\n";
    }
    const auto large = dir.WriteText ("large.ini", big);
    ProfileFile many (large.getFullPathName());
    ASSERT_TRUE (many.Load());
    EXPECT_EQ (many.Get ("section7", "KEY19", ""), juce::String (std::string (40, 'v')));
    many.Set ("Section3", "New", "1");
    ASSERT_TRUE (many.Save());
    EXPECT_EQ (TestFolder::ReadBytes (large).size(), big.size() + 7);
}

TEST (PlatformProfile, Utf16AndUtf8WithByteOrderMarkAreReadAndKept)
{
    TestFolder dir;
    const char16_t text[] = u"[S]\r\nName=K\u00e9str\u00e4\r\n";
    std::string bytes = "\xFF\xFE";
    for (const char16_t* p = text; *p != 0; ++p)
    {
        bytes += (char) (*p & 0xFF);
        bytes += (char) (*p >> 8);
    }
    const auto wide = dir.WriteBytes ("wide.ini", bytes.data(), bytes.size());
    EXPECT_EQ (Read (wide, "s", "name"), juce::String (juce::CharPointer_UTF8 ("K\xc3\xa9str\xc3\xa4")));
    ASSERT_TRUE (WriteProfileString ("S", "x", "1", wide.getFullPathName()));
    const auto after = TestFolder::ReadBytes (wide);
    ASSERT_GE (after.size(), bytes.size());
    EXPECT_EQ (after.compare (0, bytes.size(), bytes), 0);
    EXPECT_EQ (Read (wide, "S", "x"), "1");

    const auto bom = dir.WriteText ("bom.ini", "\xEF\xBB\xBF[S]\nk=1\n");
    EXPECT_EQ (Read (bom, "S", "k"), "1");
    ASSERT_TRUE (WriteProfileString ("S", "k", "2", bom.getFullPathName()));
    EXPECT_EQ (TestFolder::ReadBytes (bom), "\xEF\xBB\xBF[S]\nk=2\n");
}

TEST (PlatformProfile, AFolderInPlaceOfTheFileIsNeverReplaced)
{
    TestFolder dir;
    const auto folder = dir.Child ("config.ini");
    ASSERT_TRUE (folder.createDirectory());
    EXPECT_EQ (Read (folder, "S", "k"), "dflt");
    EXPECT_FALSE (WriteProfileString ("S", "k", "v", folder.getFullPathName()));
    EXPECT_TRUE (folder.isDirectory());
}
