#include "platform/FolderListing.h"

#include <algorithm>
#include <cwchar>
#include <memory>
#include <vector>
#if ! JUCE_WINDOWS
 #include <dirent.h>
 #include <sys/stat.h>
#endif

struct FolderListingState
{
    std::vector<FolderEntry> entries;   ///< every matching entry, in listing order
    size_t next = 0;                    ///< index of the entry FindNextEntry hands out next
};

namespace
{
    juce::juce_wchar Upper (juce::juce_wchar c)
    {
        return juce::CharacterFunctions::toUpperCase (c);
    }

    /** Wildcard match with * (any run) and ? (one character), ignoring case. */
    bool MatchesMask (const juce::String& name, const juce::String& mask)
    {
        auto n = name.getCharPointer();
        auto m = mask.getCharPointer();
        juce::CharPointer_UTF8 starMask (nullptr), starName (nullptr);
        bool haveStar = false;

        while (! n.isEmpty())
        {
            if (! m.isEmpty() && *m == '*')
            {
                haveStar = true;
                starMask = ++m;
                starName = n;
            }
            else if (! m.isEmpty() && (*m == '?' || Upper (*m) == Upper (*n)))
            {
                ++m;
                ++n;
            }
            else if (haveStar)
            {
                m = starMask;
                n = ++starName;
            }
            else
            {
                return false;
            }
        }

        while (! m.isEmpty() && *m == '*')
            ++m;
        return m.isEmpty();
    }

    /** Name order of the usual Windows file systems: upper-cased code points;
        names equal but for case are ordered by their exact characters. */
    bool NameLess (const FolderEntry& a, const FolderEntry& b)
    {
        const auto dotRank = [] (const wchar_t* s)
        {
            if (std::wcscmp (s, L".") == 0)  return 0;
            if (std::wcscmp (s, L"..") == 0) return 1;
            return 2;
        };
        const int ra = dotRank (a.szName), rb = dotRank (b.szName);
        if (ra != rb)
            return ra < rb;

        for (int i = 0;; ++i)
        {
            const auto ca = (juce::juce_wchar) a.szName[i], cb = (juce::juce_wchar) b.szName[i];
            const auto ua = Upper (ca), ub = Upper (cb);
            if (ua != ub)
                return ua < ub;
            if (ca == 0)
                break;
        }
        return std::wcscmp (a.szName, b.szName) < 0;
    }

    FolderEntry MakeEntry (const juce::String& name, bool directory)
    {
        FolderEntry e;
        PathCopy (e.szName, name);
        e.bDirectory = directory;
        e.bNameCut = name.length() >= kMaxPath;
        return e;
    }

    /** Every entry of a folder except "." and "..", as (name, is a folder). */
    std::vector<std::pair<juce::String, bool>> ListFolder (const juce::File& folder)
    {
        std::vector<std::pair<juce::String, bool>> found;
#if JUCE_WINDOWS
        for (const auto& child : folder.findChildFiles (juce::File::findFilesAndDirectories, false, "*"))
            found.emplace_back (child.getFileName(), child.isDirectory());
#else
        // Names are bytes here; JUCE would read them as UTF-8 and lose any that are not.
        const auto folderBytes = StringToNativeName (folder.getFullPathName());
        DIR* dir = ::opendir (folderBytes.c_str());
        if (dir == nullptr)
            return found;
        while (const dirent* d = ::readdir (dir))
        {
            const std::string bytes (d->d_name);
            if (bytes == "." || bytes == "..")
                continue;
            struct stat info {};
            const bool folderEntry = ::fstatat (::dirfd (dir), d->d_name, &info, 0) == 0 && S_ISDIR (info.st_mode);
            found.emplace_back (NativeNameToString (bytes.data(), bytes.size()), folderEntry);
        }
        ::closedir (dir);
#endif
        return found;
    }
}

FolderHandle FindFirstEntry (const wchar_t* pattern, FolderEntry* entry)
{
    if (pattern == nullptr || entry == nullptr)
        return nullptr;

    const auto full = ToString (pattern);
#if JUCE_WINDOWS
    const int cut = juce::jmax (full.lastIndexOfChar ('\\'), full.lastIndexOfChar ('/'));   // both separate folders there
#else
    const int cut = full.lastIndexOfChar ('/');
#endif
    const auto folderPath = cut < 0 ? juce::String() : full.substring (0, cut + 1);
    auto mask = cut < 0 ? full : full.substring (cut + 1);
    if (mask.isEmpty())
        return nullptr;
    if (mask == "*.*")
        mask = "*";   // matches every name, with or without a dot

    juce::File folder;
    if (folderPath.isEmpty())
        folder = juce::File::getCurrentWorkingDirectory();
    else if (juce::File::isAbsolutePath (folderPath))
        folder = juce::File (folderPath);
    else
        folder = juce::File::getCurrentWorkingDirectory().getChildFile (folderPath);

    if (! folder.isDirectory())
        return nullptr;

    auto state = std::make_unique<FolderListingState>();
    for (const char* dots : { ".", ".." })
        if (MatchesMask (dots, mask))
            state->entries.push_back (MakeEntry (dots, true));

    for (const auto& [name, directory] : ListFolder (folder))
        if (name.isNotEmpty() && MatchesMask (name, mask))
            state->entries.push_back (MakeEntry (name, directory));

    if (state->entries.empty())
        return nullptr;

    std::sort (state->entries.begin(), state->entries.end(), NameLess);
    *entry = state->entries[0];
    state->next = 1;
    return state.release();
}

bool FindNextEntry (FolderHandle handle, FolderEntry* entry)
{
    if (handle == nullptr || entry == nullptr || handle->next >= handle->entries.size())
        return false;

    *entry = handle->entries[handle->next++];
    return true;
}

void FindCloseListing (FolderHandle handle)
{
    delete handle;
}
