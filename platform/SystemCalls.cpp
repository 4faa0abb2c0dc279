#include "platform/SystemCalls.h"
#include "platform/Paths.h"

#include <cerrno>
#include <chrono>
#include <thread>
#include <sys/stat.h>
#include <unistd.h>

namespace
{
    std::string ToNativePath (const juce::String& path)
    {
        return StringToNativeName (path);   // names are bytes here: UTF-8 and any carried bytes
    }
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

    const auto native = ToNativePath (path);
    struct stat info {};
    if (::stat (native.c_str(), &info) == 0 && S_ISDIR (info.st_mode))
        return nullptr;

    std::FILE* file = std::fopen (native.c_str(), mode);
    if (file == nullptr)
        return nullptr;

    // The path may have been swapped for a folder between the two looks.
    if (::fstat (::fileno (file), &info) != 0 || S_ISDIR (info.st_mode))
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
    struct stat info {};
    if (::lstat (native.c_str(), &info) != 0)
        return errno == ENOENT;
    if (S_ISDIR (info.st_mode))
        return false;
    return ::unlink (native.c_str()) == 0 || errno == ENOENT;
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

    struct stat info {};
    int64_t size = -1;
    if (::fstat (::fileno (file), &info) == 0 && S_ISREG (info.st_mode))
    {
        size = (int64_t) info.st_size;
    }
    else if (::fseeko (file, 0, SEEK_END) == 0)
    {
        size = (int64_t) ::ftello (file);
    }
    ::fseeko (file, 0, SEEK_SET);
    return size;
}

int64_t ReadFileAt (std::FILE* file, int64_t offset, void* buffer, int64_t size)
{
    if (file == nullptr || offset < 0 || size < 0)
        return -1;
    auto* out = static_cast<char*> (buffer);
    int64_t done = 0;
    while (done < size)
    {
        const auto got = ::pread (::fileno (file), out + done, (size_t) (size - done), (off_t) (offset + done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}
