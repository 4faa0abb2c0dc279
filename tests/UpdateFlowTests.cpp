// Whole updates through the real panel against the simulated module.
#include <gtest/gtest.h>
#include "tests/PanelHarness.h"

TEST (UpdateFlow, ApplicationModeModuleGetsTheQvm410UpdateWithTheMarkerPieceLast)
{
    PanelHarness h;
    auto module = h.AddModule (SimMode::Application);
    h.Start();
    ASSERT_TRUE (h.WaitConnected());

    const auto image = h.MakeImage ("image.bin", 0x100000);
    h.Choose (image);
    EXPECT_EQ (g_nFileSize.load(), 0x100000);
    h.PressProgram();

    ASSERT_TRUE (h.WaitForBox ("It is Completed,Please Restart Device\n", 120000)) << h.panel->GetLogText();
    EXPECT_EQ (h.quits.load(), 1);
    const auto flash = module->readFlash (0, 0x100000);
    EXPECT_TRUE (flash == PanelHarness::Bytes (image));
    EXPECT_EQ (h.boxes.size(), 1u);
}
