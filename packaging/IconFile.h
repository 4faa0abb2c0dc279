#pragma once
// The Windows icon file format (.ico), for the programs' icon resource.
#include <vector>
#include <juce_graphics/juce_graphics.h>

/** An .ico file holding each image (square, 1 to 256 pixels a side) as one
    32-bit entry: a bitmap with its transparency mask below 256 pixels, PNG at 256. */
juce::MemoryBlock EncodeIco (const std::vector<juce::Image>& images);
