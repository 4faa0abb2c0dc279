// The panel's notification handler: connection state, file drops, job
// progress, step completion and the update flow's phase machine.
#include "app/MainComponent.h"
#include "store/shared/ProgramHooks.h"
#include "store/shared/ProgramGlobals.h"
#include "store/shared/Notifications.h"
#include "platform/SystemCalls.h"

namespace
{
    const juce::Colour kSearchingColour (128, 0, 0);
    const juce::Colour kConnectedColour (0, 0, 255);
    constexpr uint32_t kSwitchPauseMs = 3600;   // from the restart command to the loader probe
    constexpr int kSearchCycles = Communication::kSearchCycles;   // unanswered probe cycles before the time-out box
}

void MainComponent::handleMessage (const juce::Message& message)
{
    const auto* m = AsNotify (message);
    if (m == nullptr)
        return;
    m->Taken();
    ReportPhase();
    switch (m->intParameter1)
    {
        case kNotFoundMessage:
        case kConnectedMessage:
        case kTwoDevicesMessage:
        case kPresenceMessage:
        case kFileDropMessage:
            OnConnectionMessage (*m);
            break;
        case kStepStartMessage:
        case kProgressMessage:
        case kStepDoneMessage:
        case kModeSwitchMessage:
            OnJobMessage (*m);
            break;
        default:
            break;
    }
    ReportPhase();
}

//==============================================================================
void MainComponent::OnConnectionMessage (const NotifyMessage& m)
{
    switch (m.intParameter1)
    {
        case kNotFoundMessage:
            // Counted up to the bound and no further: while the box waits for an
            // open file dialog, the 8-bit count must not wrap round to zero. A
            // module that restarted into its loader is reported only once it has
            // been away as long as a search may last (the link counts those cycles).
            if (m.intParameter2 == Communication::kLoaderNotBack)
                g_nSearchTicks = kSearchCycles + 1;
            else if (g_nSearchTicks <= kSearchCycles)
                g_nSearchTicks = (uint8_t) (g_nSearchTicks + 1);
            ShowSearching();
            // A box would open beneath an open file dialog: it waits for the
            // first unanswered cycle after the dialog.
            if (g_nSearchTicks > kSearchCycles && ! m_bChoosingFile)
            {
                m_JobRunner.GetLink().StopTimer();
                ShowOutcomeBox ({ JobOutcome::Kind::TimedOut, 0, -1, kTimeOutText });
                m_JobRunner.GetLink().Reset();
                g_nSearchTicks = 0;
            }
            break;

        case kConnectedMessage:
            ShowConnected (m.intParameter2 != 0);
            m_ProgramButton->setEnabled (true);
            if (m_pObserver != nullptr)
                m_pObserver->OnConnected (m.intParameter2 != 0);
            break;

        case kTwoDevicesMessage:
            // Under an open file dialog the warning waits for the next cycle that finds both.
            if (! m_bChoosingFile)
                ShowMessageBox (juce::MessageBoxIconType::WarningIcon, "Warning", juce::String::fromUTF8 (kTwoDevicesText));
            break;

        case kPresenceMessage:
            m_ReconnectButton->setEnabled (false);
            break;

        case kFileDropMessage:
            // The path is released with the message whichever branch runs. While
            // an update runs its file stays what it is, as "Browse..." leaves it.
            if (m.intParameter2 == kFileDropCode)
                if (auto* path = m.payloadAs<TextPayload>())
                    if (path->text.isNotEmpty() && MayChooseFile())
                    {
                        SetFileName (path->text);
                        // A dropped file is measured as "Browse..." measures it.
                        MeasureChosenFile();
                    }
            break;

        default:
            break;
    }
}

void MainComponent::ShowSearching()
{
    ShowStatus (m_bNoLogo ? "QVM Connecting..." : "Vorlenz module is connecting...", kSearchingColour);
    m_ProgramButton->setEnabled (false);
}

void MainComponent::ShowConnected (bool fs)
{
    g_nSearchTicks = 0;
    if (m_bNoLogo)
        ShowStatus (juce::String ("QVM Connected.") + (fs ? "(FS)" : "(HS)"), kConnectedColour);
    else
        ShowStatus ("Vorlenz module connected.", kConnectedColour);
}

//==============================================================================
void MainComponent::RestartConnection()
{
    m_SwitchPause.Cancel();
    m_PacePause.Cancel();
    m_JobRunner.GetLink().Reset();
    m_ProgramButton->setEnabled (true);
}

void MainComponent::OnJobMessage (const NotifyMessage& m)
{
    switch (m.intParameter1)
    {
        case kStepStartMessage:
            if (m.intParameter2 == 0)
            {
                EnableTypeCombos (false);
                break;
            }
            if (m.intParameter3 == 0)
            {
                // An error stopped the job: nothing of it may later count as completed.
                m_nJobKind = 0;
                m_bRetrying = 0;
                m_bAutoPace = false;
                g_bEraseOnly = 0;
                RestartConnection();
                m_dProgress = 0.0;
            }
            m_JobRunner.ClearSteps();
            EnableTypeCombos (true);
            break;

        case kProgressMessage:
            OnProgress (m);
            break;

        case kModeSwitchMessage:
            OnModeSwitch (m.intParameter2);
            break;

        case kStepDoneMessage:
        {
            if (m.intParameter2 == Communication::kLostBytes)
            {
                OnLostBytes (static_cast<ErrorCode> (m.intParameter3));
                break;
            }
            // A step-finished notification with no step running belongs to nothing.
            const auto* step = m_JobRunner.GetCurrentStep();
            if (step == nullptr)
                break;
            if (m.intParameter2 == 1 && m_JobPurpose == JobPurpose::Verify)
            {
                StopVerifyAtDifference();
                break;
            }
            if (m.intParameter2 == 1)
            {
                StepDownForCompare();
                m_bRetrying = 1;
                m_JobRunner.Retry();
                break;
            }
            m_AutoPace.StepFinished();
            if (step->nKind == kStepCheck)
            {
                if (m.intParameter2 == Communication::kDoneInPlace)
                {
                    // In place: neither erased, nor programmed, nor read back.
                    OnRangeInPlace (*step);
                    if (m_JobRunner.SkipChecked())
                        RunPhaseMachine();
                    break;
                }
                m_nWrittenBytes += step->nData;   // it differs: it is written
            }
            if (step->nKind == kStepCompare)
                m_bRetrying = 0;
            if (AdvanceJob())
                RunPhaseMachine();
            break;
        }

        default:
            break;
    }
}

void MainComponent::OnProgress (const NotifyMessage& m)
{
    const int kind = m.intParameter2;
    if (kind == 0)
    {
        m_ProgressBar->setVisible (false);
        return;
    }
    m_ProgressBar->setVisible (true);

    auto* record = m.payloadAs<ProgressRecord>();
    const auto* step = m_JobRunner.GetCurrentStep();
    const auto ratio = [this] (int64_t done)
    {
        return m_nTotalBytes > 0 ? juce::jlimit (0.0, 1.0, (double) done / (double) m_nTotalBytes) : 0.0;
    };

    if (kind == 1)
    {
        if (g_bEraseOnly)
        {
            m_ProgressBar->setColour (juce::ProgressBar::foregroundColourId, juce::Colour (255, 0, 0));
            m_ProgressBar->setTextToDisplay ("Erasing...");
            if (record != nullptr)
            {
                m_dProgress = ratio (m_nDoneBytes);
                ReportProgress ("erasing", m_nDoneBytes);
            }
        }
    }
    else if (kind == 2)
    {
        if (record != nullptr)
        {
            if (m_bRetrying == 0 && step != nullptr
                && (step->nKind == kStepEraseProgram || step->nKind == kStepProgram))
            {
                m_ProgressBar->setColour (juce::ProgressBar::foregroundColourId, juce::Colour (0, 255, 0));
                m_ProgressBar->setTextToDisplay ("Writing...");
                m_dProgress = ratio ((int64_t) m_nDoneBytes + record->done);
                ReportProgress ("writing", (int64_t) m_nDoneBytes + record->done);
            }
        }
        else if (g_bEraseOnly && (step == nullptr || step->nKind != kStepSendDriver))
        {
            m_ProgressBar->setColour (juce::ProgressBar::foregroundColourId, juce::Colour (0, 255, 0));
            g_nWaitDots = (uint8_t) (g_nWaitDots + 1);
            static const char* const dots[] = { "Waiting.", "Waiting..", "Waiting..." };
            m_ProgressBar->setTextToDisplay (dots[g_nWaitDots % 3]);
        }
    }
    else if (kind == 3 && record != nullptr && step != nullptr && step->nKind == kStepCheck)
    {
        // The bar counts what is checked as well as what is written.
        if (step->nFill == Communication::kFillFile && ! g_bEraseOnly)
        {
            m_ProgressBar->setTextToDisplay ("Checking...");
            m_dProgress = ratio ((int64_t) m_nDoneBytes + record->done);
            ReportProgress ("checking", (int64_t) m_nDoneBytes + record->done);
        }
    }
    else if (kind == 3 && record != nullptr && m_JobPurpose != JobPurpose::Update)
    {
        ShowReadProgress (record->done);
    }
}

void MainComponent::OnModeSwitch (int argument)
{
    auto& link = m_JobRunner.GetLink();
    if (argument == 1)
    {
        // Back in its loader. The status line keeps what it said before the
        // restart: nothing on screen changes while the module restarts.
        g_nSearchTicks = 0;
        link.ClosePorts();
        BeginAutoPace();
        TryDriverEntry();
        return;
    }
    link.RequestUpdateMode();
    // The module restarts meanwhile. The window goes on running; the link's
    // timer stays stopped, so that nothing else goes out before the probe.
    link.StopTimer();
    m_SwitchPause.Start (kSwitchPauseMs, [&link] { return link.QuitIfRequested(); }, [this] { ProbeRestartedModule(); });
}

void MainComponent::ProbeRestartedModule()
{
    // A reset during the pause ended the switch: the link searches afresh by itself.
    if (g_nSwitchState != 2)
        return;
    // The module has restarted: it is searched for until its loader answers.
    auto& link = m_JobRunner.GetLink();
    link.ClosePorts();
    link.FindDevices();
    link.ProbeLoader();
}

bool MainComponent::AdvanceJob()
{
    if (const auto* s = m_JobRunner.GetCurrentStep())
    {
        if (s->nKind == kStepEraseProgram && m_bRetrying == 0)
            m_nDoneBytes += UnitBytes() * s->nArg3;
        if (s->nKind == kStepRead && m_JobPurpose != JobPurpose::Update)
        {
            m_nDoneBytes += UnitBytes() * s->nArg2;
            ShowReadProgress (0);
        }
        if (g_bEraseOnly)
        {
            if (s->nKind == kStepErase)
            {
                g_bRestartProgress = 1;
                if (m_bRetrying == 0)
                    m_nDoneBytes += UnitBytes() * s->nArg3;
            }
            else if (s->nKind == kStepProgram)
            {
                if (g_bRestartProgress)
                {
                    g_bRestartProgress = 0;
                    m_dProgress = 0.0;
                    m_nDoneBytes = m_nPassInPlaceBytes;   // sectors found in place count as done
                }
                if (m_bRetrying == 0)
                    m_nDoneBytes += UnitBytes() * s->nArg3;
            }
        }
    }
    return m_JobRunner.RunNext();
}

//==============================================================================
void MainComponent::RunPhaseMachine()
{
    auto& link = m_JobRunner.GetLink();
    switch (g_nJobPhase.load())
    {
        case 1:
        {
            // The driver search: the next entry of the driver folder.
            if (SeekDriverEntry (true))
            {
                TryDriverEntry();
                return;
            }
            link.StopTimer();
            ShowErrorCode (kErrNoDriverFits);
            RestartConnection();
            FindCloseListing (g_hFind);
            g_hFind = nullptr;
            return;
        }

        case 2:
            FindCloseListing (g_hFind);
            g_hFind = nullptr;
            link.StopTimer();
            m_FileOffsetEditor->setText ("0", true);
            m_FlashOffsetEditor->setText ("0", true);
            m_WriteLengthEditor->setText ("0", true);
            m_MCUCombo->setText (juce::String(), juce::dontSendNotification);
            m_FlashTypeCombo->setText (juce::String(), juce::dontSendNotification);
            m_MCUCombo->setText (g_strMCUName, juce::sendNotification);
            g_nJobPhase = 3;
            return;

        case 3:
        {
            m_nInPlaceBytes = 0;
            m_nWrittenBytes = 0;
            m_InPlaceSectors.clear();
            g_strFlashName = m_FlashTypeCombo->getText();
            g_bEraseOnly = 0;
            if (g_strFlashName == "S29GL256x2_R" && m_JobPurpose != JobPurpose::Read)
            {
                g_bEraseOnly = 1;
                g_bRestartProgress = 1;
                for (auto* e : { m_FileOffsetEditor, m_FlashOffsetEditor, m_WriteLengthEditor, m_FlashPageEditor })
                    e->setText ("0", true);
                m_WorkPhase = FlowPhase::EraseChip1;
                StartEraseJob();
                if (m_nJobKind == 1 && m_JobRunner.GetCurrentStep() != nullptr)
                    g_nJobPhase = 5;
                else
                    FailUpdateFlow();
                return;
            }
            bool started = true;
            m_WorkPhase = FlowPhase::Update;
            if (m_JobPurpose == JobPurpose::Read)
                StartReadJob();
            else if (g_nFileSize <= 0x60000)
                StartFileJob();
            else if (g_strMCUName == "QVM428")
                StartQvm428Job();
            else if (g_strMCUName == "QVM410")
                StartQvm410Job();
            else
                started = false;
            if (started && m_nJobKind == 1 && m_JobRunner.GetCurrentStep() != nullptr)
            {
                g_nJobPhase = 8;
                return;
            }
            if (! started)
            {
                // The update would otherwise end without a word.
                const auto why = kNoUpdateFitsStart + g_strMCUName + kNoUpdateFitsEnd;
                m_Logger.Write (why);
                link.StopTimer();
                ShowOutcomeBox ({ JobOutcome::Kind::Error, 0, -1, why });
            }
            FailUpdateFlow();
            return;
        }

        case 5:
            g_nJobPhase = 6;
            g_bRestartProgress = 0;
            m_WorkPhase = FlowPhase::ProgramChip1;
            StartProgramJob();
            if (m_JobRunner.GetCurrentStep() == nullptr)
                FailUpdateFlow();
            return;

        case 6:
            g_bEraseOnly = 1;
            g_bRestartProgress = 1;
            // The second chip's half of the image: word 0x1000000 is byte 0x2000000.
            m_FileOffsetEditor->setText (m_bWordMode ? "1000000" : "2000000", true);
            m_FlashOffsetEditor->setText ("0", true);
            m_WriteLengthEditor->setText ("0", true);
            m_FlashPageEditor->setText ("400", true);
            m_WorkPhase = FlowPhase::EraseChip2;
            StartEraseJob();
            if (m_nJobKind == 1 && m_JobRunner.GetCurrentStep() != nullptr)
                g_nJobPhase = 7;
            else
                FailUpdateFlow();
            return;

        case 7:
            m_WorkPhase = FlowPhase::ProgramChip2;
            StartProgramJob();
            g_nJobPhase = 8;
            g_bRestartProgress = 0;
            if (m_JobRunner.GetCurrentStep() == nullptr)
                FailUpdateFlow();
            return;

        default:
            EndJob();
            return;
    }
}

void MainComponent::FailUpdateFlow()
{
    // A workflow that stopped (or none that fits) leaves no job running: the
    // phase goes back to 0 with the connection restarted, never stays non-zero.
    m_nJobKind = 0;
    g_bEraseOnly = 0;
    if (g_nJobPhase != 0 || ! g_bPortsOpen)
        RestartConnection();
    g_nJobPhase = 0;
}

void MainComponent::EndJob()
{
    PostJobEnd();
    m_JobRunner.ClearSteps();
    if (m_nJobKind != 1)
        return;

    DeleteScratchFiles();
    m_nStartTick = GetTickCount() - m_nStartTick;
    const uint32_t t = m_nStartTick, s = t / 1000;
    JobOutcome done { JobOutcome::Kind::Done, 0, -1, kCompletedText };
    if (OnlyChangedJob())
    {
        done.inPlaceBytes = m_nInPlaceBytes;
        done.writtenBytes = m_nWrittenBytes;
        m_Logger.Write (OnlyChangedSummary (m_nInPlaceBytes, m_nWrittenBytes) + "\n");
    }
    if (m_bAutoPace)
    {
        // Remembered for the port only when it changed, and only once it has carried a whole job.
        done.foundPace = m_AutoPace.Current();
        if (! (m_AutoPace.Current() == m_AutoPace.Start()) && m_strPacePort.isNotEmpty())
        {
            m_Preset.SetFoundPace (m_strPacePort, SysExPaceText (m_AutoPace.Current()));
            m_Logger.Write ("Pacing " + SysExPaceText (m_AutoPace.Current()) + " found for " + m_strPacePort.quoted()
                            + ": it is used first next time.\n");
        }
        m_bAutoPace = false;
    }
    m_Logger.Print ("%02d:%02d:%02d.%03d\n", (int) (s / 3600), (int) ((s % 3600) / 60), (int) (s % 60), (int) (t % 1000));
    m_nJobKind = 0;
    m_JobRunner.GetLink().StopTimer();
    // The box runs no loop of its own: on Linux a quit asked for right after a
    // nested loop, inside the same message, can be missed by the program's loop,
    // which then never ends. The quit is asked for when the box is closed.
    ReportOutcome (done);
    ShowErrorBoxThen (done.text, [] { RequestApplicationQuit(); });
}

void MainComponent::OnRangeInPlace (const _STR_JOB_STEP& step)
{
    m_nInPlaceBytes += step.nData;
    // Counted as done as its erase or its program would have been.
    if (step.nFill == Communication::kFillFile || g_bEraseOnly)
        m_nDoneBytes += UnitBytes() * step.nArg3;
    if (g_bEraseOnly)
        m_InPlaceSectors.insert (((int64_t) step.nArg0 << 32) + UnitBytes() * (int64_t) step.nArg2);
    m_dProgress = m_nTotalBytes > 0 ? juce::jlimit (0.0, 1.0, (double) m_nDoneBytes / (double) m_nTotalBytes) : 0.0;
    ReportProgress ("checking", m_nDoneBytes);
}
