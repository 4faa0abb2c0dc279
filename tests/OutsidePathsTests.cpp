// The paths that code outside this repository includes (tests of their own)
// keep working after the headers behind them moved: the old paths forward.
#include <gtest/gtest.h>
#include "app/Hooks.h"
#include "app/MainComponent.h"
#include "link/Globals.h"
#include "link/Messages.h"
#include "link/MidiPorts.h"
#include "platform/ProgramFolder.h"

TEST (OutsidePaths, OldHeadersStillDeclareTheSeams)
{
    bool quit = false;
    SetQuitHook ([&quit] { quit = true; });
    RequestApplicationQuit();
    SetQuitHook (nullptr);
    EXPECT_TRUE (quit);

    g_bQuitRequested = true;
    ResetGlobalsForTests();
    EXPECT_FALSE (g_bQuitRequested.load());

    const NotifyMessage message (kConnectedMessage, 1);
    EXPECT_EQ (message.intParameter1, kConnectedMessage);
}
