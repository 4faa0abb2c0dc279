// MakeDemoData: writes KestravaDemo's data folder into the folder given on the
// command line (the folder of the demo program):
//   Drivers/               sample flash drivers, one .bin file each
//   QvDoc/Logo.PNG         the logo drawn in the panel
//   QvDoc/boot2.bin        boot image of the QVM410 update
//   QvDoc/flashpgm.bin     boot image of the QVM428 update
//   QvDoc/Special.bin      flash driver uploaded by the QVM410 update
//   QvDoc/Special418.bin   flash driver uploaded by the QVM428 update
//   Sample.bin             an image to program, with its "BD" marker
// Help.pdf, the user's guide, is made from docs/help beside it. Everything
// else is generated here; nothing is copied from elsewhere. "Drivers" is
// written afresh each time, so it never holds stale files; QvDoc/config.ini and
// the scratch files of a run are left alone.
#include "DemoChip.h"
#include "datagen/DemoDrivers.h"
#include "datagen/DemoImages.h"
#include "datagen/DemoLogo.h"
#include "datagen/WriteGenerated.h"
#include <juce_gui_basics/juce_gui_basics.h>
#include <iostream>

namespace
{
bool Write (const juce::File& file, const juce::MemoryBlock& data)
{
    return WriteGenerated ("MakeDemoData", file, data);
}

bool WriteDrivers (const juce::File& folder)
{
    folder.deleteRecursively();
    bool ok = true;
    for (const auto& spec : DemoDriverSpecs())
        ok = Write (folder.getChildFile (spec.fileName), BuildDriverFile (spec)) && ok;
    return ok;
}

bool WriteQvDoc (const juce::File& folder)
{
    bool ok = Write (folder.getChildFile ("Logo.PNG"), EncodePng (DrawLogo()));
    ok = Write (folder.getChildFile ("boot2.bin"),
                BuildPatternedImage (kBootImageSize, 0xB0072410u, "Kestrava demo boot image for QVM410")) && ok;
    ok = Write (folder.getChildFile ("flashpgm.bin"),
                BuildPatternedImage (kBootImageSize, 0xB0072428u, "Kestrava demo boot image for QVM428")) && ok;
    for (const auto& spec : DemoSpecialDriverSpecs())
        ok = Write (folder.getChildFile (spec.fileName), BuildDriverFile (spec)) && ok;
    return ok;
}
} // namespace

int main (int argc, char** argv)
{
    if (argc != 2)
    {
        std::cerr << "usage: MakeDemoData <data folder>\n";
        return 2;
    }

    // Fonts and images need JUCE's GUI side set up; no display is opened.
    juce::ScopedJuceInitialiser_GUI juce;

    const juce::File root (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    bool ok = WriteDrivers (root.getChildFile ("Drivers"));
    ok = WriteQvDoc (root.getChildFile ("QvDoc")) && ok;
    ok = Write (root.getChildFile (DemoChip::kSampleImageFile), BuildSampleImage (DemoChip::kSampleImageSize)) && ok;
    return ok ? 0 : 1;
}
