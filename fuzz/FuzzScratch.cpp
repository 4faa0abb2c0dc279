#include "fuzz/FuzzScratch.h"
#include <cstdio>
#include <unistd.h>

namespace
{
    struct Scratch
    {
        juce::File folder;
        Scratch()
        {
            const juce::File shm ("/dev/shm");
            const auto base = shm.isDirectory() && shm.hasWriteAccess()
                                  ? shm
                                  : juce::File::getSpecialLocation (juce::File::tempDirectory);
            folder = base.getChildFile ("kestrava-fuzz-" + juce::String ((int) ::getpid()));
            folder.deleteRecursively();
            folder.createDirectory();
        }
        ~Scratch() { folder.deleteRecursively(); }
    };
}

const juce::File& FuzzScratchFolder()
{
    static Scratch scratch;
    return scratch.folder;
}

juce::File WriteScratchFile (const juce::String& name, const void* data, size_t size)
{
    const auto file = FuzzScratchFolder().getChildFile (name);
    std::FILE* f = std::fopen (file.getFullPathName().toRawUTF8(), "wb");
    if (f != nullptr)
    {
        if (size > 0)
            std::fwrite (data, 1, size, f);
        std::fclose (f);
    }
    return file;
}

bool MakeSparseScratchFile (const juce::String& name, int64_t size)
{
    const auto file = FuzzScratchFolder().getChildFile (name);
    std::FILE* f = std::fopen (file.getFullPathName().toRawUTF8(), "wb");
    if (f == nullptr)
        return false;
    const bool ok = ::ftruncate (::fileno (f), (off_t) size) == 0;
    std::fclose (f);
    return ok;
}
