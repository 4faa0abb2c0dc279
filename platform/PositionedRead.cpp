#include "platform/PositionedRead.h"

#include <cerrno>
#if defined (_WIN32)
 #include <io.h>
 #include <windows.h>
#else
 #include <unistd.h>
#endif

namespace
{
#if defined (_WIN32)
    /** One read at an offset. ReadFile with an offset moves the file's
        pointer, which is put back, so the stream finds it where it was. */
    int64_t ReadAt (int fd, char* out, int64_t size, int64_t offset)
    {
        const auto handle = reinterpret_cast<HANDLE> (::_get_osfhandle (fd));
        if (handle == INVALID_HANDLE_VALUE)
            return -1;
        LARGE_INTEGER zero {}, before {};
        if (! ::SetFilePointerEx (handle, zero, &before, FILE_CURRENT))
            return -1;
        OVERLAPPED at {};
        at.Offset = (DWORD) (uint64_t) offset;
        at.OffsetHigh = (DWORD) ((uint64_t) offset >> 32);
        DWORD got = 0;
        const DWORD want = (DWORD) (size < (int64_t) (1u << 30) ? size : (int64_t) (1u << 30));
        const bool ok = ::ReadFile (handle, out, want, &got, &at) != 0;
        ::SetFilePointerEx (handle, before, nullptr, FILE_BEGIN);
        if (! ok)
            return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
        return (int64_t) got;
    }
#else
    int64_t ReadAt (int fd, char* out, int64_t size, int64_t offset)
    {
        for (;;)
        {
            const auto got = ::pread (fd, out, (size_t) size, (off_t) offset);
            if (got < 0 && errno == EINTR)
                continue;
            return (int64_t) got;
        }
    }
#endif
}

int64_t ReadFileAt (std::FILE* file, int64_t offset, void* buffer, int64_t size)
{
    if (file == nullptr || offset < 0 || size < 0)
        return -1;
    auto* out = static_cast<char*> (buffer);
    int64_t done = 0;
    while (done < size)
    {
        const auto got = ReadAt (::fileno (file), out + done, size - done, offset + done);
        if (got < 0)
            return -1;
        if (got == 0)
            break;
        done += got;
    }
    return done;
}
