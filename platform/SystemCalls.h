#pragma once
#include <cstdint>
#include <cstdio>
#include <juce_core/juce_core.h>

/** Opens a file by a wide path with an fopen mode ("rb", "wb"); null on failure.
    Folders are refused. */
std::FILE* OpenFileW (const wchar_t* path, const char* mode);
/** Opens a file by a JUCE path string; null on failure. */
std::FILE* OpenFileW (const juce::String& path, const char* mode);
/** Deletes a file; a missing file is no error. Returns true when the file is gone. */
bool DeleteFileW (const wchar_t* path);
/** Milliseconds since an arbitrary start, 32 bits, wrapping like a tick counter. */
uint32_t GetTickCount();
/** Blocks the calling thread for the given milliseconds. */
void SleepMs (uint32_t milliseconds);
/** The user's documents folder without a trailing separator, or empty. */
juce::String GetDocumentsFolder();
/** Opens a document with the desktop's opener, never running the file itself
    and never through a shell; true when the opener was started (callers ignore
    the result). No child process is left behind to be waited for. */
bool OpenDocument (const wchar_t* path);
/** Size of an open file in bytes (64-bit), leaving the position at the start;
    -1 when it cannot be told. */
int64_t FileSize64 (std::FILE* file);
/** Reads up to `size` bytes from `offset` of an open file without using or
    moving its stream position (a positioned read). Returns the bytes read,
    fewer only at the end of the file, or -1 on an error. */
int64_t ReadFileAt (std::FILE* file, int64_t offset, void* buffer, int64_t size);
