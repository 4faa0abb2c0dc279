#include "platform/AtomicFile.h"

#include <algorithm>
#include <cerrno>
#include <string>
#if JUCE_WINDOWS
 #include <windows.h>
#else
 #include <fcntl.h>
 #include <sys/stat.h>
 #include <unistd.h>
#endif

namespace
{
    /** Follows symbolic links so that the real file is replaced, not the link. */
    juce::File ResolveLinks (juce::File file)
    {
        for (int hops = 0; hops < 16 && file.isSymbolicLink(); ++hops)
        {
            const auto target = file.getLinkedTarget();
            if (target == file)
                break;
            file = target;
        }
        return file;
    }

#if ! JUCE_WINDOWS
    bool WriteAll (int fd, const char* data, size_t size)
    {
        while (size > 0)
        {
            const ssize_t done = ::write (fd, data, size);
            if (done < 0)
            {
                if (errno == EINTR)
                    continue;
                return false;
            }
            data += done;
            size -= (size_t) done;
        }
        return true;
    }

    void SyncFolder (const std::string& folder)
    {
        const int fd = ::open (folder.c_str(), O_RDONLY | O_DIRECTORY);
        if (fd >= 0)
        {
            ::fsync (fd);
            ::close (fd);
        }
    }
#endif
}

juce::File AbsoluteFile (const juce::String& path)
{
    if (juce::File::isAbsolutePath (path))
        return juce::File (path);
    return juce::File::getCurrentWorkingDirectory().getChildFile (path);
}

#if JUCE_WINDOWS

namespace
{
    bool WriteAll (HANDLE file, const char* data, size_t size)
    {
        while (size > 0)
        {
            const DWORD chunk = (DWORD) std::min<size_t> (size, 1u << 30);
            DWORD done = 0;
            if (! ::WriteFile (file, data, chunk, &done, nullptr) || done == 0)
                return false;
            data += done;
            size -= done;
        }
        return true;
    }
}

bool WriteFileAtomically (const juce::String& path, const void* data, size_t size)
{
    if (path.isEmpty() || (data == nullptr && size > 0))
        return false;

    const auto target = ResolveLinks (AbsoluteFile (path));
    const auto targetPath = target.getFullPathName();
    const auto folderPath = target.getParentDirectory().getFullPathName();

    const DWORD folderAttributes = ::GetFileAttributesW (folderPath.toWideCharPointer());
    if (folderAttributes == INVALID_FILE_ATTRIBUTES || (folderAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return false;

    const DWORD oldAttributes = ::GetFileAttributesW (targetPath.toWideCharPointer());
    const bool exists = oldAttributes != INVALID_FILE_ATTRIBUTES;
    if (exists && (oldAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_READONLY)) != 0)
        return false;

    // A new file of a name no one else uses, in the same folder, hidden while it is written.
    juce::String temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt)
    {
        temp = folderPath + "\\." + target.getFileName() + "."
             + juce::String::toHexString ((juce::int64) juce::Random::getSystemRandom().nextInt64()).paddedLeft ('0', 16);
        file = ::CreateFileW (temp.toWideCharPointer(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_HIDDEN, nullptr);
        if (file == INVALID_HANDLE_VALUE && ::GetLastError() != ERROR_FILE_EXISTS)
            return false;
    }
    if (file == INVALID_HANDLE_VALUE)
        return false;

    bool ok = WriteAll (file, static_cast<const char*> (data), size);
    ok = ok && ::FlushFileBuffers (file);
    ok = ::CloseHandle (file) && ok;
    if (ok)
    {
        ::SetFileAttributesW (temp.toWideCharPointer(), exists ? oldAttributes : FILE_ATTRIBUTE_NORMAL);
        ok = ::MoveFileExW (temp.toWideCharPointer(), targetPath.toWideCharPointer(),
                            MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    }
    if (! ok)
    {
        ::DeleteFileW (temp.toWideCharPointer());
        return false;
    }
    return true;
}

#else

bool WriteFileAtomically (const juce::String& path, const void* data, size_t size)
{
    if (path.isEmpty() || (data == nullptr && size > 0))
        return false;

    const auto target = ResolveLinks (AbsoluteFile (path));
    const auto targetPath = target.getFullPathName().toStdString();
    const auto folderPath = target.getParentDirectory().getFullPathName().toStdString();

    struct stat folderInfo {};
    if (::stat (folderPath.c_str(), &folderInfo) != 0 || ! S_ISDIR (folderInfo.st_mode)
        || (folderInfo.st_mode & 0222) == 0)
        return false;

    struct stat oldInfo {};
    const bool exists = ::stat (targetPath.c_str(), &oldInfo) == 0;
    if (exists && (! S_ISREG (oldInfo.st_mode) || (oldInfo.st_mode & 0222) == 0))
        return false;

    std::string temp = folderPath + "/." + target.getFileName().toStdString() + ".XXXXXX";
    const int fd = ::mkstemp (temp.data());
    if (fd < 0)
        return false;

    bool ok = WriteAll (fd, static_cast<const char*> (data), size);
    if (ok)
    {
        if (exists)
        {
            ::fchmod (fd, oldInfo.st_mode & 07777);
            if (::fchown (fd, oldInfo.st_uid, oldInfo.st_gid) != 0)
            {
                // Only the owner may be kept by a privileged writer; the contents matter more.
            }
        }
        else
        {
            ::fchmod (fd, 0644);
        }
        ok = ::fsync (fd) == 0;
    }
    ok = (::close (fd) == 0) && ok;
    ok = ok && ::rename (temp.c_str(), targetPath.c_str()) == 0;

    if (! ok)
    {
        ::unlink (temp.c_str());
        return false;
    }
    SyncFolder (folderPath);
    return true;
}

#endif
