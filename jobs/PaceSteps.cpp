// "auto" pacing in the update flow: the pace an update starts at, the step
// down when the module's answers show that bytes were lost on the way, and
// the pace remembered for the port once the update has completed.
#include "app/MainComponent.h"
#include "platform/Wine.h"

namespace
{
    /** How long the module's answers to a message cut short are waited out
        before the group runs again: they must not count for the new upload. */
    constexpr uint32_t kCutMessageSettleMs = 300;

    juce::String PaceWords (SysExPace pace)
    {
        if (pace.IsOff())
            return "each SysEx whole";
        return juce::String::formatted ("each SysEx in pieces of at most %d bytes, %d ms apart (pacing %s)",
                                        pace.pieceBytes, pace.gapMs, SysExPaceText (pace).toRawUTF8());
    }
}

void MainComponent::BeginAutoPace()
{
    m_PacePause.Cancel();
    // Under Wine, and on macOS (JUCE's outputs), every SysEx goes whole whatever the pace: nothing to step down.
#if defined(__APPLE__)
    m_bAutoPace = false;
#else
    m_bAutoPace = CurrentPaceChoice().automatic && ! RunningUnderWine();
#endif
    if (! m_bAutoPace)
        return;
    m_strPacePort = m_JobRunner.GetLink().GetBoundOutputName();
    m_AutoPace.Begin (ParseSysExPace (m_Preset.GetFoundPace (m_strPacePort)).value_or (SysExPace {}));
    ReportPace (PaceReport::What::Start, 0);
}

void MainComponent::ReportPace (PaceReport::What what, int code, const char* stoppedBecause)
{
    PaceReport report;
    report.what = what;
    report.pace = m_AutoPace.Current();
    report.code = code;
    report.port = m_strPacePort;
    report.remembered = what == PaceReport::What::Start && ! report.pace.IsOff();

    juce::String line;
    const auto lost = code == kErrCompareFailed ? juce::String ("A block read back differed from the image on an interface that loses bytes")
                                                : "Bytes were lost on the way to the module (Error Code " + juce::String (code) + ")";
    switch (what)
    {
        case PaceReport::What::Start:
            line = "Pacing auto for " + report.port.quoted() + ": "
                 + (report.remembered ? "starting with the pace found for it before, " + PaceWords (report.pace) + "."
                                      : juce::String ("each SysEx is sent whole until bytes are lost on the way."));
            break;
        case PaceReport::What::Slower:
            line = lost + ": from now on " + PaceWords (report.pace) + "; the step runs again from its driver upload.";
            break;
        case PaceReport::What::Floor:
            line = lost + " even at the slowest pace, " + SysExPaceText (report.pace)
                 + ": the interface cannot carry the update. Use another interface, or connect the module directly by USB.";
            break;
        case PaceReport::What::Stopped:
            line = "The module did not take a data block (Error Code " + juce::String (code) + "), and " + stoppedBecause
                 + ": no slower pace is tried.";
            break;
    }
    m_Logger.Write (line + "\n");
    if (m_pObserver != nullptr)
        m_pObserver->OnPace (report);
}

void MainComponent::OnLostBytes (ErrorCode code)
{
    auto& link = m_JobRunner.GetLink();
    const auto fail = [this, &link, code] (bool atSlowestPace)
    {
        link.StopTimer();
        JobOutcome outcome { JobOutcome::Kind::Error, code, -1, juce::String::formatted ("Error Code %d\n", (int) code) };
        outcome.lostAtSlowestPace = atSlowestPace;
        ShowOutcomeBox (outcome);
        DeliverStop();
    };
    if (! m_bAutoPace || m_JobRunner.GetCurrentStep() == nullptr)
        return fail (false);
    // An unplugged module loses everything, whatever the pace.
    const bool gone = link.IsBoundOutputGone();
    const auto verdict = gone ? CAutoPace::Verdict::Bound : m_AutoPace.StepDown (juce::Time::getMillisecondCounterHiRes());
    if (verdict != CAutoPace::Verdict::Slower)
    {
        const bool floor = verdict == CAutoPace::Verdict::Floor;
        ReportPace (floor ? PaceReport::What::Floor : PaceReport::What::Stopped, code,
                    gone ? "the module's port has gone" : "the losses went on for too long");
        return fail (floor);
    }
    ReportPace (PaceReport::What::Slower, code);
    // The module may still be inside the message that lost bytes: it is ended,
    // and its answers waited out, before the group's driver goes again.
    link.EndCutMessage();
    m_PacePause.Start (kCutMessageSettleMs, [&link] { return link.QuitIfRequested(); }, [this, fail]
    {
        if (! m_JobRunner.RetryFromDriver())
            fail (false);
    });
}

void MainComponent::StepDownForCompare()
{
    // Only an interface known to lose bytes (the update runs paced) is suspected
    // of a changed block: on one that has lost nothing, a failed compare points at
    // the flash or the read-back, which no pace mends.
    if (! m_bAutoPace || m_AutoPace.Current().IsOff())
        return;
    if (m_AutoPace.StepDown (juce::Time::getMillisecondCounterHiRes()) == CAutoPace::Verdict::Slower)
        ReportPace (PaceReport::What::Slower, kErrCompareFailed);
}
