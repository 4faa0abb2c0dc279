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

/** Draws the badge of the logo (without the name) into `box`; its pins
    stand out of the box by 4/44 of its width on both sides. */
void DrawBadge (juce::Graphics& g, juce::Rectangle<float> box);

/** Where the badge lies in a square icon of `size` pixels, pins included. */
juce::Rectangle<float> BadgeBox (float size);

/** The badge as an SVG picture of `size` x `size` units: the same shapes. */
juce::String BadgeSvg (int size);
