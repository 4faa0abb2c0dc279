#include "DemoImages.h"
#include "DemoPattern.h"

juce::MemoryBlock BuildPatternedImage (int size, uint32_t seed, const juce::String& title)
{
    juce::MemoryBlock image ((size_t) size);
    auto* bytes = static_cast<uint8_t*> (image.getData());
    FillPattern (bytes, image.getSize(), 0, seed);

    const auto text = (title + "\n").toStdString();
    for (size_t i = 0; i < text.size() && i < image.getSize(); ++i)
        bytes[i] = (uint8_t) text[i];
    return image;
}

juce::MemoryBlock BuildSampleImage (int size)
{
    auto image = BuildPatternedImage (size, 0x5EED0B1Eu, "Kestrava demo sound bank image, free sample data");
    auto* bytes = static_cast<uint8_t*> (image.getData());

    bytes[kMarkerOffset] = 'B';
    bytes[kMarkerOffset + 1] = 'D';

    // Only the first place holds the marker, so the first boot-area order is used.
    if (size > kSecondMarkerOffset + 1 && bytes[kSecondMarkerOffset] == 'B' && bytes[kSecondMarkerOffset + 1] == 'D')
        bytes[kSecondMarkerOffset + 1] = 'd';
    return image;
}
