#pragma once
// Replacing a file in one step: the new contents go to a temporary file in
// the same folder, which is flushed to disk and then renamed over the old one.
// Readers see either the old file or the new one, never a part of either.
#include <cstddef>
#include <juce_core/juce_core.h>

/** Writes `size` bytes as the new contents of the file at `path` (created
    when missing; its folder is not created). A file or folder marked
    read-only (no write permission bits) is refused. Returns false when the
    file could not be replaced; the old file is then exactly as it was. */
bool WriteFileAtomically (const juce::String& path, const void* data, size_t size);

/** The absolute file for a path; a relative path is taken from the current folder. */
juce::File AbsoluteFile (const juce::String& path);
