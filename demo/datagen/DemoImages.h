#pragma once
// Stand-in images of the demo's data folder: the sample image to program and
// the two boot images of the model workflows.
#include <cstdint>
#include <juce_core/juce_core.h>

/** Offset of the first place the image marker "BD" can sit. */
constexpr int kMarkerOffset = 0xFFF8;

/** Offset of the second place the image marker can sit. */
constexpr int kSecondMarkerOffset = 0x3FFF8;

/** Size of each stand-in boot image (boot2.bin, flashpgm.bin). */
constexpr int kBootImageSize = 0x20000;

/** A patterned image of `size` bytes that starts with a readable `title` line. */
juce::MemoryBlock BuildPatternedImage (int size, uint32_t seed, const juce::String& title);

/** The sample image: patterned, `size` bytes, the marker at 0xFFF8 only. */
juce::MemoryBlock BuildSampleImage (int size);
