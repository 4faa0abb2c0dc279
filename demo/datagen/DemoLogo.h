#pragma once
// The Kestrava logo: a chip-shaped badge with a kestrel's wing beside the
// name, drawn with JUCE's software renderer on a transparent background.
#include <juce_graphics/juce_graphics.h>

/** Width of the logo picture; the panel draws it scaled into 136 x 26. */
constexpr int kLogoWidth = 272;

/** Height of the logo picture. */
constexpr int kLogoHeight = 52;

/** Draws the logo into a new ARGB image of kLogoWidth x kLogoHeight. */
juce::Image DrawLogo();

/** Encodes an image as PNG; an empty block when encoding fails. */
juce::MemoryBlock EncodePng (const juce::Image& image);
