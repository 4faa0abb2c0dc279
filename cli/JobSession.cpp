#include "cli/JobSession.h"
#include "app/ChosenImage.h"
#include "store/shared/ProgramHooks.h"
#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "store/RunLog.h"
#include "store/shared/ProgramGlobals.h"

namespace
{
    constexpr int kTickMs = 100;
    constexpr double kQuitGraceMs = 2000;   // the link's timer closes the ports and quits within this

    juce::File FromWorkingFolder (const juce::String& path)
    {
        return juce::File::getCurrentWorkingDirectory().getChildFile (path);
    }

    juce::String Hex (int64_t v) { return "0x" + juce::String::toHexString (v).toUpperCase(); }
}

JobSession::JobSession (EventPrinter& printer) : m_Printer (printer) {}

JobSession::~JobSession()
{
    stopTimer();
}

int JobSession::Run (const CliOptions& options)
{
    SetMessageBoxHook ([this] (juce::MessageBoxIconType icon, const juce::String&, const juce::String& text) { OnBox (icon, text); });
    SetQuitHook ([this] { OnQuit(); });
    m_pPanel = std::make_unique<MainComponent>();
    m_pPanel->SetJobObserver (this);

    if (Prepare (options) && m_nStatus < 0)
    {
        startTimer (kTickMs);
        juce::MessageManager::getInstance()->runDispatchLoop();
        stopTimer();
        m_pPanel->GetLogText();   // the text still gathering goes to the printer
    }
    else if (m_nStatus < 0)
    {
        m_nStatus = CliExit::kUsage;
    }

    // The panel writes the settings back and its link closes every port.
    m_pPanel->SetJobObserver (nullptr);
    m_pPanel.reset();
    SetMessageBoxHook (nullptr);
    SetQuitHook (nullptr);
    if (m_nStatus != CliExit::kUsage)
        Report (m_nStatus);
    return m_nStatus;
}

bool JobSession::Prepare (const CliOptions& options)
{
    if (options.command == "read")
    {
        m_Purpose = JobPurpose::Read;
        m_Read = m_pPanel->GetReadSettings();
        if (options.arguments.size() > 0)
            m_Read.path = FromWorkingFolder (options.arguments[0]).getFullPathName();
        m_Read.offset = options.offset.value_or (m_Read.offset);
        m_Read.length = options.length.value_or (m_Read.length);
        m_Read.page = options.page.value_or (m_Read.page);

        juce::String why;
        if (m_Read.path.isEmpty())
            why = "no file to read into: name OUT (the settings give none)";
        else if (m_Read.path.length() >= kMaxPath)
            why = "the path of OUT is longer than " + juce::String (kMaxPath - 1) + " characters";
        else if (m_Read.offset % 2 != 0 || m_Read.length % 2 != 0)
            why = "--offset and --length must be even: the flash is read in 16-bit words";
        if (why.isNotEmpty())
        {
            PrintUsageError (options.command, why);
            return false;
        }
        m_pPanel->SetJobPurpose (m_Purpose, m_Read);
        return true;
    }

    // The image is chosen as "Browse..." chooses it: its path in the file label, then measured.
    m_Purpose = options.command == "verify" ? JobPurpose::Verify : JobPurpose::Update;
    m_Image = FromWorkingFolder (options.arguments[0]);
    m_pPanel->SetFileName (m_Image.getFullPathName());
    m_pPanel->MeasureChosenFile();
    m_pPanel->SetJobPurpose (m_Purpose);
    // --only-changed or --full; else the panel keeps OnlyChanged of config.ini.
    if (options.onlyChanged)
        m_pPanel->SetOnlyChanged (*options.onlyChanged);

    // What "Program" checks first, checked before anything waits for a module:
    // an image that cannot be used ends the run at once, as its box would.
    int bank = 0;
    if (const int code = CheckImageFile (m_Image.getFullPathName(), bank))
    {
        // The box the window would show, in the log file too.
        RunLog::RecordBox ("Error Code " + juce::String ((int) code) + "\n");
        m_Printer.Error (code, "Error Code " + juce::String (code), FindErrorCode (code));
        m_nStatus = code;
    }
    return true;
}

namespace
{
    /** The row of the table that explains an error outcome, or null. */
    const Trouble* TroubleOf (const JobOutcome& outcome)
    {
        if (outcome.lostAtSlowestPace)
            return &LossAtSlowestPace();
        if (outcome.code != 0)
            return FindErrorCode (outcome.code);
        if (outcome.text.startsWith (kNoOutDeviceText))
            return FindBox (BoxKind::NoOutDevice);
        if (outcome.text.startsWith (kNoUpdateFitsStart))
            return FindBox (BoxKind::NoUpdateFits);
        return nullptr;
    }
}

//==============================================================================
void JobSession::timerCallback()
{
    m_Printer.Tick();
    if (WasInterrupted())
    {
        // The device link's timer closes the ports and quits; should it not run, end here.
        const double now = juce::Time::getMillisecondCounterHiRes();
        if (m_dInterruptedAt == 0)
            m_dInterruptedAt = now;
        else if (now - m_dInterruptedAt > kQuitGraceMs)
            Finish (CliExit::kInterrupted);
        return;
    }
    if (m_bPressed || m_nStatus >= 0)
        return;

    // "Program" does something only while the module shows as connected. It is
    // pressed once the module has answered the cycle in progress, so that what
    // comes after the click starts with the next probe.
    auto* program = m_pPanel->GetProgramButton();
    if (! g_bConnected || ! program->isEnabled() || ! m_pPanel->GetJobRunner().GetLink().IsFound())
        return;
    m_bPressed = true;
    m_pPanel->buttonClicked (program);
    if (m_OnProgram)
        m_OnProgram();
    if (m_nStatus < 0 && g_nJobPhase == 0 && g_nSwitchState == 0)
        Fail ("the driver folder " + ToString (g_szDriverDir) + " cannot be read");
}

void JobSession::OnBox (juce::MessageBoxIconType icon, const juce::String& text)
{
    if (m_nStatus >= 0)
        return;
    // The log's text still gathering comes before the box's line.
    if (m_pPanel != nullptr)
        m_pPanel->GetLogText();
    if (icon == juce::MessageBoxIconType::WarningIcon)
    {
        // Two modules answer: the window warns and goes on with the first.
        m_Printer.Warning (text);
        return;
    }
    // Every box that ends a job comes after its outcome; this one told none.
    Fail (text.trimEnd());
}

void JobSession::OnOutcome (const JobOutcome& outcome)
{
    if (m_nStatus >= 0)
        return;
    if (m_pPanel != nullptr)
        m_pPanel->GetLogText();
    const auto line = outcome.text.trimEnd();
    switch (outcome.kind)
    {
        case JobOutcome::Kind::Done:
            m_strCompleted = line;
            m_nInPlaceBytes = outcome.inPlaceBytes;
            m_nWrittenBytes = outcome.writtenBytes;
            m_FoundPace = outcome.foundPace;
            Finish (CliExit::kOk);
            break;
        case JobOutcome::Kind::Different:
            m_nDifference = outcome.firstDifference;
            Finish (CliExit::kDifferent);
            break;
        case JobOutcome::Kind::TimedOut:
            m_Printer.Error (0, line, FindBox (BoxKind::TimeOut));
            Finish (CliExit::kNoModule);
            break;
        case JobOutcome::Kind::Error:
            m_Printer.Error (outcome.code, line, TroubleOf (outcome));
            Finish (outcome.code > 0 && outcome.code < CliExit::kUsage ? outcome.code : CliExit::kFailed);
            break;
    }
}

void JobSession::OnQuit()
{
    if (WasInterrupted())
        Finish (CliExit::kInterrupted);
    else if (m_nStatus < 0)
        Fail ("the program quit before the job ended");
}

void JobSession::EndedWithoutCompletion()
{
    // No outcome: the reason is in the log, as an error code (a range the driver
    // cannot take) or as its last line.
    const auto log = m_pPanel->GetLogText();
    const int at = log.lastIndexOf ("Error Code ");
    if (at >= 0)
    {
        const auto line = log.substring (at).upToFirstOccurrenceOf ("\n", false, false).trimEnd();
        const int code = line.fromFirstOccurrenceOf ("Error Code ", false, false).getIntValue();
        if (code > 0 && code < CliExit::kUsage)
        {
            m_Printer.Error (code, line, FindErrorCode (code));
            Finish (code);
            return;
        }
    }
    juce::StringArray lines;
    lines.addLines (log);
    lines.removeEmptyStrings();
    Fail (lines.isEmpty() ? juce::String ("the job stopped") : lines[lines.size() - 1].trim());
}

void JobSession::Fail (const juce::String& reason)
{
    RunLog::AppendLine ("kestrava-cli: " + reason);
    m_Printer.Error (0, "kestrava-cli: " + reason);
    Finish (CliExit::kFailed);
}

void JobSession::Finish (int status)
{
    if (m_nStatus >= 0)
        return;
    m_nStatus = status;
    juce::MessageManager::getInstance()->stopDispatchLoop();
}

//==============================================================================
void JobSession::OnConnected (bool fs)
{
    m_Printer.Connected (fs);
}

void JobSession::OnPhase (FlowPhase phase)
{
    m_pPanel->GetLogText();   // what was logged before comes first
    m_Printer.Phase (phase);
    if (phase != FlowPhase::Idle)
        m_bStarted = true;
    else if (m_bStarted && m_nStatus < 0)
        EndedWithoutCompletion();
}

void JobSession::OnStep (int index, int count, const _STR_JOB_STEP& s)
{
    const int64_t unit = m_pPanel->GetJobRunner().GetLink().IsWordMode() ? 2 : 1;
    const auto path = [] (const wchar_t* p) { return ToString (p); };
    switch (s.nKind)
    {
        case kStepSendDriver:
            m_Printer.Step (index, count, s.nKind, path (s.szPath), -1, -1, -1);
            break;
        case kStepCheckFlash:
            m_Printer.Step (index, count, s.nKind, {}, s.nValue, -1, -1);
            break;
        case kStepRead:
            m_bReadStarted = m_bReadStarted || m_Purpose == JobPurpose::Read;
            m_Printer.Step (index, count, s.nKind, path (s.szPath), s.nArg0, s.nArg1 * unit, s.nArg2 * unit);
            break;
        case kStepCompare:
            m_Printer.Step (index, count, s.nKind, path (s.szPath), -1, s.nArg0, -1);
            break;
        case kStepEraseProgram:
        case kStepProgram:
        case kStepCheck:
            m_Printer.Step (index, count, s.nKind, path (s.szPath), s.nArg0, s.nArg2 * unit, s.nArg3 * unit);
            break;
        default:
            m_Printer.Step (index, count, s.nKind, {}, s.nArg0, s.nArg2 * unit, s.nArg3 * unit);
            break;
    }
}

void JobSession::OnProgress (const char* activity, int64_t done, int64_t total)
{
    m_Printer.Progress (activity, done, total);
}

void JobSession::OnLogText (const juce::String& text)
{
    m_Printer.Log (text);
}

void JobSession::OnPace (const PaceReport& report)
{
    m_pPanel->GetLogText();   // the log's line on it comes first
    m_Printer.Pace (report);
}

//==============================================================================
void JobSession::Report (int status)
{
    juce::NamedValueSet fields;
    const auto& completed = m_strCompleted;
    if (status == CliExit::kOk && m_Purpose == JobPurpose::Read)
    {
        const juce::File out (m_Read.path);
        fields.set ("file", out.getFullPathName());
        fields.set ("bytes", out.getSize());
        m_Printer.Done (status, "completed", "Read " + Hex (out.getSize()) + " bytes of flash page " + Hex (m_Read.page)
                            + " from " + Hex (m_Read.offset) + " into " + out.getFullPathName() + ".\n" + completed, fields);
        return;
    }
    if (status == CliExit::kOk)
    {
        fields.set ("image", m_Image.getFullPathName());
        juce::String said = m_Purpose == JobPurpose::Verify ? "The module holds the image.\n" : "";
        if (m_nInPlaceBytes >= 0)
        {
            fields.set ("in_place_bytes", (juce::int64) m_nInPlaceBytes);
            fields.set ("written_bytes", (juce::int64) m_nWrittenBytes);
            said << OnlyChangedSummary (m_nInPlaceBytes, m_nWrittenBytes) << "\n";
        }
        if (m_FoundPace)
        {
            fields.set ("pace", SysExPaceText (*m_FoundPace));
            said << (m_FoundPace->IsOff() ? juce::String ("Sent whole")
                                          : "Paced " + SysExPaceText (*m_FoundPace)) << " (found automatically).\n";
        }
        m_Printer.Done (status, "completed", said + completed, fields);
        return;
    }
    if (status == CliExit::kDifferent)
    {
        fields.set ("image", m_Image.getFullPathName());
        fields.set ("first_difference", (juce::int64) m_nDifference);
        m_Printer.Done (status, "different", "The module differs from the image, first at byte " + Hex (m_nDifference)
                                                 + " of the image.", fields);
        return;
    }

    // An incomplete read file is no use to anybody.
    if (m_Purpose == JobPurpose::Read && m_bReadStarted)
        juce::File (m_Read.path).deleteFile();
    if (status == CliExit::kInterrupted)
        m_Printer.Error (0, "kestrava-cli: interrupted; the ports are closed");
    m_Printer.Done (status, status == CliExit::kInterrupted ? "interrupted" : "failed", {}, fields);
}
