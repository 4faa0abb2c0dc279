// MakeIcons: the program's icon, the badge of our logo, for the desktop:
//   MakeIcons <folder>
// writes <folder>/hicolor/<N>x<N>/apps/kestrava.png for the usual sizes and
// <folder>/hicolor/scalable/apps/kestrava.svg, the same shapes as SVG.
#include "demo/datagen/DemoLogo.h"
#include "demo/datagen/WriteGenerated.h"
#include <juce_gui_basics/juce_gui_basics.h>
#include <iostream>

namespace
{
    bool Write (const juce::File& file, const juce::MemoryBlock& data)
    {
        return WriteGenerated ("MakeIcons", file, data);
    }
}

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: MakeIcons <folder>\n";
        return 2;
    }
    juce::ScopedJuceInitialiser_GUI juce;
    const auto hicolor = juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]).getChildFile ("hicolor");

    bool ok = true;
    for (const int size : { 16, 24, 32, 48, 64, 128, 256 })
    {
        juce::Image image (juce::Image::ARGB, size, size, true, juce::SoftwareImageType());
        {
            juce::Graphics g (image);
            DrawBadge (g, BadgeBox ((float) size));
        }
        const auto name = juce::String (size) + "x" + juce::String (size);
        ok = Write (hicolor.getChildFile (name).getChildFile ("apps/kestrava.png"), EncodePng (image)) && ok;
    }
    const auto svg = BadgeSvg (64);
    ok = Write (hicolor.getChildFile ("scalable/apps/kestrava.svg"), juce::MemoryBlock (svg.toRawUTF8(), svg.getNumBytesAsUTF8())) && ok;
    return ok ? 0 : 1;
}
