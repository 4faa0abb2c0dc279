// MakeIcons: the program's icon, the badge of our logo:
//   MakeIcons <folder>
// writes <folder>/hicolor/<N>x<N>/apps/kestrava.png for the usual sizes and
// <folder>/hicolor/scalable/apps/kestrava.svg, the same shapes as SVG, for the desktop;
//   MakeIcons --ico <file>
// writes the same sizes into one Windows icon file, for the programs' resources.
#include "demo/datagen/DemoLogo.h"
#include "demo/datagen/WriteGenerated.h"
#include "packaging/IconFile.h"
#include <juce_gui_basics/juce_gui_basics.h>
#include <cstring>
#include <iostream>

namespace
{
    bool Write (const juce::File& file, const juce::MemoryBlock& data)
    {
        return WriteGenerated ("MakeIcons", file, data);
    }

    juce::File FromWorkingFolder (const char* path)
    {
        return juce::File::getCurrentWorkingDirectory().getChildFile (path);
    }

    juce::Image Badge (int size)
    {
        juce::Image image (juce::Image::ARGB, size, size, true, juce::SoftwareImageType());
        {
            juce::Graphics g (image);
            DrawBadge (g, BadgeBox ((float) size));
        }
        return image;
    }

    constexpr int kSizes[] = { 16, 24, 32, 48, 64, 128, 256 };
    constexpr int kWindowsSizes[] = { 16, 24, 32, 48, 64, 256 };   // the usual sizes of a Windows icon
}

int main (int argc, char** argv)
{
    const bool ico = argc == 3 && std::strcmp (argv[1], "--ico") == 0;
    if (argc != 2 && ! ico)
    {
        std::cerr << "usage: MakeIcons <folder> | MakeIcons --ico <file>\n";
        return 2;
    }
    juce::ScopedJuceInitialiser_GUI juce;

    if (ico)
    {
        std::vector<juce::Image> images;
        for (const int size : kWindowsSizes)
            images.push_back (Badge (size));
        return Write (FromWorkingFolder (argv[2]), EncodeIco (images)) ? 0 : 1;
    }

    const auto hicolor = FromWorkingFolder (argv[1]).getChildFile ("hicolor");
    bool ok = true;
    for (const int size : kSizes)
    {
        const auto name = juce::String (size) + "x" + juce::String (size);
        ok = Write (hicolor.getChildFile (name).getChildFile ("apps/kestrava.png"), EncodePng (Badge (size))) && ok;
    }
    const auto svg = BadgeSvg (64);
    ok = Write (hicolor.getChildFile ("scalable/apps/kestrava.svg"), juce::MemoryBlock (svg.toRawUTF8(), svg.getNumBytesAsUTF8())) && ok;
    return ok ? 0 : 1;
}
