#pragma once
// A scratch folder for the files a fuzz target writes: in memory (/dev/shm)
// when the machine has it, else in the temporary folder. Removed at exit.
#include <cstddef>
#include <cstdint>
#include <juce_core/juce_core.h>

/** The process's scratch folder, created on first use. */
const juce::File& FuzzScratchFolder();
/** Writes bytes as the whole content of a file of the scratch folder and returns it. */
juce::File WriteScratchFile (const juce::String& name, const void* data, size_t size);
/** Makes a file of the scratch folder exactly `size` bytes long without writing
    them (a sparse file); false when the file system refuses. */
bool MakeSparseScratchFile (const juce::String& name, int64_t size);
