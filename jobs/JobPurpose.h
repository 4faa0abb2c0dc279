#pragma once
// What the update flow is run for: the update "Program" starts, or, once the
// driver is found, a read of a flash range or a verify that writes nothing.
#include <cstdint>
#include <juce_core/juce_core.h>

enum class JobPurpose
{
    Update,   ///< the workflow that fits the module writes the image and verifies it
    Read,     ///< a flash range is read into a file
    Verify    ///< the ranges the fitting workflow would write are read back and compared
};

/** A flash range to read into a file. Offset and length are in bytes. */
struct ReadRequest
{
    juce::String path;     ///< the file to write
    int page = 0;          ///< flash page (64 K words)
    int64_t offset = 0;    ///< byte offset in the page's flash; even
    int64_t length = 0;    ///< bytes; even; 0 to the end of the flash
};
