// What the panel tells a front end without the window: the flow's phase,
// the steps, the progress bar's bytes, the log pane's text and how the job ended.
#include "app/MainComponent.h"
#include "store/shared/ProgramHooks.h"
#include "store/shared/ProgramGlobals.h"

void MainComponent::SetJobObserver (JobObserver* observer)
{
    m_pObserver = observer;
    m_JobRunner.SetObserver (observer);
    if (observer != nullptr)
    {
        m_LogEditor->SetMirror ([observer] (const juce::String& text) { observer->OnLogText (text); });
        // The link opens the boxes of its own errors.
        m_JobRunner.GetLink().SetErrorListener ([this] (int code, const juce::String& text)
                                                { ReportOutcome ({ JobOutcome::Kind::Error, code, -1, text }); });
    }
    else
    {
        m_LogEditor->SetMirror (nullptr);
        m_JobRunner.GetLink().SetErrorListener (nullptr);
    }
}

FlowPhase MainComponent::CurrentFlowPhase() const
{
    if (g_nSwitchState != 0)
        return FlowPhase::Loader;
    const int phase = g_nJobPhase.load();
    if (phase == 0)
        return FlowPhase::Idle;
    if (phase == 1)
        return FlowPhase::DriverSearch;
    // From phase 3 on, the phase of the work the phase machine has started.
    if (phase == 2 || (phase == 3 && m_nJobKind != 1))
        return FlowPhase::DriverFound;
    if (m_JobPurpose == JobPurpose::Read)
        return FlowPhase::Read;
    if (m_JobPurpose == JobPurpose::Verify)
        return FlowPhase::Verify;
    return m_WorkPhase;
}

void MainComponent::ReportPhase()
{
    const auto phase = CurrentFlowPhase();
    if (phase == m_LastPhase)
        return;
    m_LastPhase = phase;
    if (m_pObserver != nullptr)
        m_pObserver->OnPhase (phase);
}

void MainComponent::ReportProgress (const char* activity, int64_t done)
{
    if (m_pObserver != nullptr)
        m_pObserver->OnProgress (activity, done, m_nTotalBytes);
}

void MainComponent::ReportOutcome (const JobOutcome& outcome)
{
    if (m_pObserver != nullptr)
        m_pObserver->OnOutcome (outcome);
}

void MainComponent::ShowOutcomeBox (const JobOutcome& outcome)
{
    ReportOutcome (outcome);
    ShowErrorBox (outcome.text);
}

void MainComponent::ShowErrorCode (ErrorCode code)
{
    ShowOutcomeBox ({ JobOutcome::Kind::Error, code, -1, juce::String::formatted ("Error Code %d\n", (int) code) });
}
