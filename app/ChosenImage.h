#pragma once
// The checks "Program" and "Browse..." make on the chosen image file: its
// "BD" marker and its size.
#include <cstdint>
#include <cstdio>
#include <juce_core/juce_core.h>
#include "store/shared/Troubles.h"

/** Size of an image that fills a whole 192 MiB flash. */
constexpr int64_t kFullImageSize = 0x0C000000;

/** Where an image carries its "BD" marker. */
struct ImageMarkers
{
    int nCount = 0;   ///< marker places found: 0, 1 or 2
    int nBank = 0;    ///< 0: the marker at 0xFFF8; 1: the one at 0x3FFF8 (it wins when both are there)
};

/** Reads the two marker places (0xFFF8 and 0x3FFF8) of an open image. A place
    the file does not reach holds no marker. */
ImageMarkers ReadImageMarkers (std::FILE* image);

/** Size in bytes of the file at a path; -1 when it cannot be opened (missing,
    no permission, a folder, or a path longer than the 259 characters a path
    buffer holds: cutting it could name another file). */
int64_t MeasureImageFile (const juce::String& path);

/** Opens the chosen image for reading; null when MeasureImageFile could not
    measure it or its size cannot be used. */
std::FILE* OpenChosenImage (const juce::String& path);

/** What "Program" checks in the chosen image before anything is sent: 0 when it
    opens and carries its marker (then `bank` is the place, as in ImageMarkers),
    else the error code that stops the update: 23 when it cannot be opened (or its
    size cannot be used), 24 when it has no "BD" marker. */
ErrorCode CheckImageFile (const juce::String& path, int& bank);

/** Whether a measured size can be used: sizes are kept in 32 bits, so a file
    of 2 GiB or more cannot. */
bool IsUsableImageSize (int64_t size);
