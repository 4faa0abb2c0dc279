#include "HelpPdf.h"
#include "PdfPage.h"

juce::MemoryBlock BuildHelpPdf()
{
    const juce::Colour heading (0xff0b5f6b), body (0xff1d2935), note (0xff5b6b78);
    const float text = 10.5f, gap = 7.0f;

    PdfPage page (56.0f);
    page.AddParagraph ("Kestrava: updating a sound module", 20.0f, true, heading, 4.0f);
    page.AddParagraph ("Kestrava puts a new flash image (firmware, boot code and sounds) into a sound module "
                       "over its MIDI connection. This page tells how to run an update and what to do when "
                       "one fails.", text, false, body, 12.0f);

    page.AddParagraph ("1. Connect the module", 13.0f, true, heading, 3.0f);
    page.AddParagraph ("Connect the module to the computer with its USB MIDI cable, switch it on and start Kestrava. "
                       "The status line at the top of the window shows whether a module has been found: it reads "
                       "\"connecting...\" while Kestrava searches and \"connected.\" once the module answers. "
                       "Keep the module switched on and connected until the update has finished. Only one module "
                       "may be connected at a time.", text, false, body, gap);

    page.AddParagraph ("2. Choose the image", 13.0f, true, heading, 3.0f);
    page.AddParagraph ("Press \"Browse...\" and choose the update image, a file ending in .bin or .rom. You can also "
                       "drop the file on the \"Browse...\" button. The chosen file is shown below the status line.",
                       text, false, body, gap);

    page.AddParagraph ("3. Press \"Program\"", 13.0f, true, heading, 3.0f);
    page.AddParagraph ("Kestrava first checks that the file is an image for a module. If the module is running its "
                       "normal firmware, Kestrava switches it into its loader; the module disappears for a few "
                       "seconds and comes back. Kestrava then tries the flash drivers of its \"Drivers\" folder one "
                       "after another until one recognises the module's flash chip.", text, false, body, gap);
    page.AddParagraph ("The progress bar now shows the work: erasing, writing, and reading back. Every part that is "
                       "written is read back and compared with the image; a part that does not compare is written "
                       "again. Do not disconnect the module or switch it off while the bar runs.", text, false, body, gap);
    page.AddParagraph ("When everything has been written and checked, Kestrava shows \"It is Completed,Please Restart "
                       "Device\". Close the box: Kestrava ends. Switch the module off and on again to start the new "
                       "firmware.", text, false, body, gap);

    page.AddParagraph ("4. When something goes wrong", 13.0f, true, heading, 3.0f);
    page.AddParagraph ("A failure stops the update and shows a box with \"Error Code\" and a number. Close it; "
                       "Kestrava searches for the module again and you can press \"Program\" once more. In general:",
                       text, false, body, 4.0f);
    page.AddParagraph ("- 5, 6, 7: the module reported a fault or stopped answering. Check the cable and the power.",
                       text, false, body, 2.0f);
    page.AddParagraph ("- 8, 14, 15, 21, 22: no usable flash driver fits the module. Check the \"Drivers\" folder.",
                       text, false, body, 2.0f);
    page.AddParagraph ("- 9, 10, 11, 20: the written data could not be read back and confirmed. Check that the disk "
                       "has free space, then try again.", text, false, body, 2.0f);
    page.AddParagraph ("- 16, 17, 19: the image could not be written into the module's flash as it is.",
                       text, false, body, 2.0f);
    page.AddParagraph ("- 23, 24: the chosen file cannot be opened, or it is not an image for a module.",
                       text, false, body, 2.0f);
    page.AddParagraph ("- 2, 3, 4, 25, 26: a file that Kestrava needs is missing from its \"QvDoc\" folder. "
                       "Reinstall Kestrava.", text, false, body, gap);
    page.AddParagraph ("If no module answers for about a minute, \"Time Out,Please Check Help.\" appears. Check the "
                       "cable, switch the module off and on, and close the box: the search starts again.",
                       text, false, body, 16.0f);

    page.AddParagraph ("Kestrava is free software under the GNU General Public License, version 3 or later.",
                       9.0f, false, note, 0.0f);

    jassert (page.Fits());
    return page.Build ("Kestrava help");
}
