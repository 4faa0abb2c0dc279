#include "platform/SystemCalls.h"
#include "platform/Paths.h"

#include <cerrno>
#include <chrono>
#include <cstring>
#include <thread>
#include <sys/stat.h>
#if JUCE_WINDOWS
 // Only the C runtime here, not <windows.h>: this layer's DeleteFileW and
 // GetTickCount share their names with the system's. _wunlink is the system's
 // DeleteFileW underneath.
 #include <io.h>
 #include <wchar.h>
#else
 #include <fcntl.h>
 #include <unistd.h>
#endif

namespace
{
#if JUCE_WINDOWS
    using NativePath = std::wstring;   // wide (UTF-16) file names
    using FileInfo = struct _stat64;

    NativePath ToNativePath (const juce::String& path)   { return path.toWideCharPointer(); }
    bool StatPath (const NativePath& path, FileInfo& info)  { return ::_wstat64 (path.c_str(), &info) == 0; }
    bool StatOpenFile (std::FILE* file, FileInfo& info)     { return ::_fstat64 (::_fileno (file), &info) == 0; }
    bool IsFolder (const FileInfo& info)                    { return (info.st_mode & _S_IFMT) == _S_IFDIR; }
    bool IsRegular (const FileInfo& info)                   { return (info.st_mode & _S_IFMT) == _S_IFREG; }
    bool IsCharDevice (const FileInfo& info)                { return (info.st_mode & _S_IFMT) == _S_IFCHR; }
    // Opening does not wait here: a pipe without a free instance fails at once.
    std::FILE* OpenNative (const NativePath& path, const char* mode)
    {
        const juce::String wideMode (mode);
        return ::_wfopen (path.c_str(), wideMode.toWideCharPointer());
    }
    bool StatLink (const NativePath& path, FileInfo& info)  { return StatPath (path, info); }
    bool Unlink (const NativePath& path)                    { return ::_wunlink (path.c_str()) == 0; }
    int SeekEnd (std::FILE* file)                           { return ::_fseeki64 (file, 0, SEEK_END); }
    int64_t Tell (std::FILE* file)                          { return ::_ftelli64 (file); }
    void Rewind (std::FILE* file)                           { ::_fseeki64 (file, 0, SEEK_SET); }
#else
    using NativePath = std::string;    // names are bytes here: UTF-8 and any carried bytes
    using FileInfo = struct stat;

    NativePath ToNativePath (const juce::String& path)   { return StringToNativeName (path); }
    bool StatOpenFile (std::FILE* file, FileInfo& info)     { return ::fstat (::fileno (file), &info) == 0; }
    bool IsFolder (const FileInfo& info)                    { return S_ISDIR (info.st_mode); }
    bool IsRegular (const FileInfo& info)                   { return S_ISREG (info.st_mode); }
    bool IsCharDevice (const FileInfo& info)                { return S_ISCHR (info.st_mode); }
    // Opened without waiting: a FIFO waits for its other end, a device may be slow to open.
    std::FILE* OpenNative (const NativePath& path, const char* mode)
    {
        const bool both = std::strchr (mode, '+') != nullptr;
        int flags = O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
        switch (mode[0])
        {
            case 'r': flags |= both ? O_RDWR : O_RDONLY; break;
            case 'w': flags |= (both ? O_RDWR : O_WRONLY) | O_CREAT | O_TRUNC; break;
            case 'a': flags |= (both ? O_RDWR : O_WRONLY) | O_CREAT | O_APPEND; break;
            default:  return nullptr;
        }
        const int fd = ::open (path.c_str(), flags, 0666);
        if (fd < 0)
            return nullptr;
        const int status = ::fcntl (fd, F_GETFL);
        std::FILE* file = status >= 0 && ::fcntl (fd, F_SETFL, status & ~O_NONBLOCK) == 0 ? ::fdopen (fd, mode) : nullptr;
        if (file == nullptr)
            ::close (fd);
        return file;
    }
    bool StatLink (const NativePath& path, FileInfo& info)  { return ::lstat (path.c_str(), &info) == 0; }
    bool Unlink (const NativePath& path)                    { return ::unlink (path.c_str()) == 0; }
    int SeekEnd (std::FILE* file)                           { return ::fseeko (file, 0, SEEK_END); }
    int64_t Tell (std::FILE* file)                          { return (int64_t) ::ftello (file); }
    void Rewind (std::FILE* file)                           { ::fseeko (file, 0, SEEK_SET); }
#endif
}

std::FILE* OpenFileW (const wchar_t* path, const char* mode)
{
    if (path == nullptr)
        return nullptr;
    return OpenFileW (ToString (path), mode);
}

std::FILE* OpenFileW (const juce::String& path, const char* mode)
{
    if (path.isEmpty() || mode == nullptr)
        return nullptr;

    std::FILE* file = OpenNative (ToNativePath (path), mode);
    if (file == nullptr)
        return nullptr;

    // Looked at before anything is read or written: only a regular file (or a
    // link to one) is read; a write may also go to a character device (/dev/null).
    const bool writes = mode[0] != 'r' || std::strchr (mode, '+') != nullptr;
    FileInfo info {};
    if (! StatOpenFile (file, info) || ! (IsRegular (info) || (writes && IsCharDevice (info))))
    {
        std::fclose (file);
        return nullptr;
    }
    return file;
}

bool DeleteFileW (const wchar_t* path)
{
    if (path == nullptr || path[0] == 0)
        return false;

    const auto native = ToNativePath (ToString (path));
    FileInfo info {};
    if (! StatLink (native, info))
        return errno == ENOENT;
    if (IsFolder (info))
        return false;
    return Unlink (native) || errno == ENOENT;
}

uint32_t GetTickCount()
{
    const auto now = std::chrono::steady_clock::now().time_since_epoch();
    return (uint32_t) (uint64_t) std::chrono::duration_cast<std::chrono::milliseconds> (now).count();
}

void SleepMs (uint32_t milliseconds)
{
    std::this_thread::sleep_for (std::chrono::milliseconds (milliseconds));
}

juce::String GetDocumentsFolder()
{
    auto path = juce::File::getSpecialLocation (juce::File::userDocumentsDirectory).getFullPathName();
    while (path.length() > 1 && path.endsWithChar (juce::File::getSeparatorChar()))
        path = path.dropLastCharacters (1);
    return path;
}

int64_t FileSize64 (std::FILE* file)
{
    if (file == nullptr)
        return -1;

    FileInfo info {};
    int64_t size = -1;
    if (StatOpenFile (file, info) && IsRegular (info))
    {
        size = (int64_t) info.st_size;
    }
    else if (SeekEnd (file) == 0)
    {
        size = Tell (file);
    }
    Rewind (file);
    return size;
}
