#pragma once
// Fixed-size path buffers as the program keeps them: at most 259 characters
// and a terminator, filled with bounded copy and append.
#include <cstddef>
#include <string>
#include <vector>
#include <juce_core/juce_core.h>

constexpr int kMaxPath = 260;

/** Copies src into dst (kMaxPath units), cutting it at 259 characters. */
void PathCopy (wchar_t* dst, const wchar_t* src);
/** Appends src to dst (kMaxPath units), cutting the result at 259 characters. */
void PathAppend (wchar_t* dst, const wchar_t* src);
/** Copies a JUCE string into dst (kMaxPath units), cut at 259 characters. */
void PathCopy (wchar_t* dst, const juce::String& src);
/** Bounded copy between narrow buffers of the given capacity. */
void NarrowCopy (char* dst, const char* src, size_t capacity);
/** The native path separator as a one-character wide string. */
const wchar_t* PathSeparator();
/** A JUCE string from a wide buffer. */
juce::String ToString (const wchar_t* text);
/** Narrow (UTF-8 on this platform) text to a JUCE string. */
juce::String NarrowToWide (const char* text);
/** Narrow bytes to a JUCE string: valid UTF-8 is decoded, any other byte is
    taken as Latin-1; the text ends at the first NUL or after `length` bytes. */
juce::String NarrowBytesToString (const char* bytes, size_t length);
/** Narrow bytes to code points, decoded like NarrowBytesToString but keeping
    NUL characters and every byte up to `length`. */
void DecodeNarrowBytes (const char* bytes, size_t length, std::vector<juce::juce_wchar>& out);

/** A file name as a system that names files by bytes gives it, carried whole:
    valid UTF-8 is decoded, and every other byte becomes one of the code points
    U+DC80 to U+DCFF, which no text holds, so the name can be opened again. */
juce::String NativeNameToString (const char* bytes, size_t length);
/** The bytes of a path for such a system's file calls: the exact inverse of
    NativeNameToString (text as UTF-8, the carried bytes as themselves). */
std::string StringToNativeName (const juce::String& path);
/** A name for the log: carried bytes that are no text are shown as \xNN. */
juce::String DisplayName (const juce::String& name);
