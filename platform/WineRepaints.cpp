// JUCE 7 on Windows collects a window's repaints and hands them to Windows on
// the display's vertical blank (IDXGIOutput::WaitForVBlank). Wine 8 does not
// implement that wait, so under Wine a window would never be drawn again
// after its first paint. There, and only there, a timer carries the pending
// repaints out instead.
#include "platform/WineRepaints.h"

#include <juce_gui_basics/juce_gui_basics.h>
#include "platform/Wine.h"

namespace
{
    class PendingRepaints : public juce::Timer
    {
        void timerCallback() override
        {
            for (int i = juce::ComponentPeer::getNumPeers(); --i >= 0;)
                if (auto* peer = juce::ComponentPeer::getPeer (i))
                    peer->performAnyPendingRepaintsNow();
        }
    };
}

std::unique_ptr<juce::Timer> MakeRepaintTimerUnderWine()
{
    if (! RunningUnderWine())
        return nullptr;
    auto timer = std::make_unique<PendingRepaints>();
    timer->startTimerHz (30);
    return timer;
}
