#include "platform/AtomicFile.h"

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

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
}

juce::File AbsoluteFile (const juce::String& path)
{
    if (juce::File::isAbsolutePath (path))
        return juce::File (path);
    return juce::File::getCurrentWorkingDirectory().getChildFile (path);
}

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
