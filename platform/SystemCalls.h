#pragma once
// Files, time and the documents folder. DeleteFileW and GetTickCount keep the
// names of the Windows calls they stand for, so a file that includes
// <windows.h> must not include this header (nor the header this one when
// built for Windows): the Windows parts of the layer live in files of their own.
#include <cstdint>
#include <cstdio>
#include <juce_core/juce_core.h>
#include "platform/DocumentOpener.h"
#include "platform/PositionedRead.h"

/** Opens a file by a wide path with an fopen mode ("rb", "wb", "r+b"); null on
    failure. Never waits: anything but a regular file (or a link to one) is
    refused, except that a mode that writes also takes a character device. */
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
/** Size of an open file in bytes (64-bit), leaving the position at the start;
    -1 when it cannot be told. */
int64_t FileSize64 (std::FILE* file);
