// Replies that come when the link no longer expects them: whatever state they
// find, they never make it send bytes it does not hold.
#include <gtest/gtest.h>
#include "tests/LinkTestRig.h"

TEST (BadInputLink, AStrayStatusAfterACompareNeverSendsAnImageThatIsGone)
{
    linktest::Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ReadyForFlash());   // 128 sectors of 64 KiB, byte units

    // An erase-only step leaves a finished plan behind.
    auto from = rig.RunStep ([&] { return rig.link->EraseRange (0, 0, 0x20000); });
    ASSERT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);

    // An empty image is refused at its start (nothing lies at the source offset)
    // and leaves the link erasing; a compare then takes up that state again.
    const auto empty = rig.folder.getChildFile ("empty.bin");
    ASSERT_TRUE (empty.create().wasOk());
    from = rig.RunStep ([&] { return rig.link->EraseAndProgramFile (0, empty.getFullPathName(), 0x1000, 0, 0); });
    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 19\n"));
    const auto image = rig.WriteFile ("image.bin", linktest::Pattern (0x1000));
    from = rig.RunStep ([&] { return rig.link->CompareFiles (image.getFullPathName(), 0, image.getFullPathName()); });
    ASSERT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);

    // A late status reply now finds the erase finished and would program: there is no image.
    module->clearRecords();
    from = rig.Mark();
    const uint8_t status[] = { 0xF0, 0x00, 0x20, 0x54, 0x7D, 0x00, 0x00, 0xF7 };
    rig.link->handleIncomingMidiMessage (nullptr, juce::MidiMessage (status, (int) sizeof (status), 0.0));
    ASSERT_TRUE (rig.WaitFor (kStepStartMessage, 1, 1, from));
    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 16\n"));
    EXPECT_EQ (module->receivedCount (SimCommand::WriteStart), 0);
    EXPECT_EQ (module->receivedCount (SimCommand::ProgramBlock), 0);
}
