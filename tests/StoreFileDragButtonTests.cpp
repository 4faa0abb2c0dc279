// The file drop button: which drags it takes, its colour while hovering, and
// the message a drop posts.
#include <gtest/gtest.h>
#include "store/shared/Notifications.h"
#include "store/FileDragButton.h"
#include "PlatformTestFolder.h"
#include "TestUtil.h"

using namespace storetest;

namespace
{
    struct DropListener : juce::MessageListener
    {
        void handleMessage (const juce::Message& message) override
        {
            if (const auto* n = AsNotify (message))
            {
                codes.push_back ({ n->intParameter1, n->intParameter2, n->intParameter3 });
                const auto* text = n->payloadAs<TextPayload>();
                paths.add (text != nullptr ? text->text : juce::String ("<none>"));
            }
        }
        std::vector<std::array<int, 3>> codes;
        juce::StringArray paths;
    };
}

TEST (StoreFileDragButton, TakesExactlyOneBinOrRomFile)
{
    CFileDragButton button ("new button");
    const auto one = [&button] (const char* path) { return button.isInterestedInFileDrag (juce::StringArray (path)); };

    EXPECT_TRUE (one ("/home/u/image.BIN"));
    EXPECT_TRUE (one ("/home/u/archive.rom"));
    EXPECT_TRUE (one ("/home/u/archive.Rom"));
    EXPECT_FALSE (one ("/home/u/image.bin.txt"));
    EXPECT_FALSE (one ("/home/u/image"));
    EXPECT_FALSE (one ("/home/u.bin/image"));
    EXPECT_FALSE (one ("/home/u/image."));
    EXPECT_FALSE (one ("/home/u/image.binary"));
    EXPECT_FALSE (button.isInterestedInFileDrag ({}));
    EXPECT_FALSE (button.isInterestedInFileDrag (juce::StringArray ("/a/x.bin", "/a/y.bin")));

    TestFolder dir;
    const auto folder = dir.Child ("folder.bin");
    folder.createDirectory();
    EXPECT_FALSE (one (folder.getFullPathName().toRawUTF8()));
}

TEST (StoreFileDragButton, LightsUpWhileHoveringAndPostsTheDroppedPath)
{
    CFileDragButton button ("new button");
    DropListener panel;
    button.SetDropTarget (&panel);
    const juce::StringArray files ("/data/Image.BIN");

    button.fileDragEnter (files, 3, 4);
    EXPECT_EQ (button.findColour (juce::TextButton::buttonColourId), juce::Colour (0xFF008000u));
    button.fileDragExit (files);
    EXPECT_FALSE (button.isColourSpecified (juce::TextButton::buttonColourId));

    button.fileDragEnter (files, 3, 4);
    button.filesDropped (files, 3, 4);
    EXPECT_FALSE (button.isColourSpecified (juce::TextButton::buttonColourId));
    EXPECT_TRUE (panel.codes.empty()) << "the drop is delivered later, not inside the drop call";

    ASSERT_TRUE (RunLoopUntil ([&panel] { return ! panel.codes.empty(); }));
    EXPECT_EQ (panel.codes[0], (std::array<int, 3> { kFileDropMessage, 0x6000, 0 }));
    EXPECT_EQ (panel.paths, juce::StringArray ("/data/Image.BIN"));
}

TEST (StoreFileDragButton, ADropWithoutATargetOnlyRestoresTheColour)
{
    CFileDragButton button;
    const juce::StringArray files ("/data/a.rom");
    button.fileDragEnter (files, 0, 0);
    button.filesDropped (files, 0, 0);
    EXPECT_FALSE (button.isColourSpecified (juce::TextButton::buttonColourId));
}
