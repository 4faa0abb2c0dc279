#include "cli/EventPrinter.h"
#include <cstdlib>
#include "jobs/JobRunner.h"
#include "store/RunLog.h"
#if defined(_WIN32)
 #include <io.h>
 #define KESTRAVA_ISATTY(f) _isatty (_fileno (f))
#else
 #include <unistd.h>
 #define KESTRAVA_ISATTY(f) isatty (fileno (f))
#endif

namespace
{
    /** What a phase is called on its own line. */
    juce::String PhaseLine (FlowPhase phase)
    {
        switch (phase)
        {
            case FlowPhase::Loader:       return "Switching the module into its loader...";
            case FlowPhase::DriverSearch: return "Searching for the flash driver...";
            case FlowPhase::EraseChip1:   return "Erasing chip 1...";
            case FlowPhase::ProgramChip1: return "Programming chip 1...";
            case FlowPhase::EraseChip2:   return "Erasing chip 2...";
            case FlowPhase::ProgramChip2: return "Programming chip 2...";
            case FlowPhase::Update:       return "Updating...";
            case FlowPhase::Read:         return "Reading...";
            case FlowPhase::Verify:       return "Verifying...";
            case FlowPhase::DriverFound:
            case FlowPhase::Idle:         break;
        }
        return {};
    }
}

EventPrinter::Style EventPrinter::StyleFor (bool json)
{
    if (json)
        return Style::Json;
    const char* term = std::getenv ("TERM");
    const bool dumb = term != nullptr && juce::String (term) == "dumb";
    return KESTRAVA_ISATTY (stdout) && ! dumb ? Style::Terminal : Style::Lines;
}

EventPrinter::EventPrinter (Style style, bool quiet, bool verbose, std::FILE* out, std::FILE* err)
    : m_Style (style), m_bQuiet (quiet), m_bVerbose (verbose), m_pOut (out), m_pErr (err)
{
}

void EventPrinter::SetPort (const juce::String& port, const juce::String& label)
{
    m_strPort = port;
    m_strLabel = label;
}

void EventPrinter::Write (std::FILE* f, const juce::String& text)
{
    std::fputs (text.toRawUTF8(), f);
    std::fflush (f);
}

//==============================================================================
void EventPrinter::Emit (const juce::String& event, const juce::NamedValueSet& fields)
{
    auto* object = new juce::DynamicObject();
    object->setProperty ("event", event);
    if (m_strPort.isNotEmpty())
        object->setProperty ("port", m_strPort);
    for (const auto& f : fields)
        object->setProperty (f.name, f.value);
    Write (m_pOut, juce::JSON::toString (juce::var (object), true) + "\n");
}

void EventPrinter::Line (const juce::String& text)
{
    ClearProgressLine();
    Write (m_pOut, (m_strLabel.isEmpty() ? text : m_strLabel + ": " + text) + "\n");
}

void EventPrinter::ClearProgressLine()
{
    if (m_bProgressShown)
        Write (m_pOut, "\r\x1b[K");
    m_bProgressShown = false;
}

void EventPrinter::DrawProgressLine()
{
    Write (m_pOut, "\r" + m_Meter.Text() + "\x1b[K");
    m_bProgressShown = true;
}

//==============================================================================
void EventPrinter::Connected (bool fs)
{
    if (m_bConnected || m_bQuiet)
        return;
    m_bConnected = true;
    if (m_Style == Style::Json)
    {
        juce::NamedValueSet f;
        f.set ("fs", fs);
        Emit ("connected", f);
        return;
    }
    Line ("Module connected.");
}

void EventPrinter::Phase (FlowPhase phase)
{
    if (m_bProgressShown)
    {
        Write (m_pOut, "\n");   // the last phase's progress stays on screen
        m_bProgressShown = false;
    }
    m_Meter.Phase (FlowPhaseName (phase));
    m_strActivity.clear();
    m_nLastStep = -1;
    if (m_bQuiet)
        return;
    if (m_Style == Style::Json)
    {
        juce::NamedValueSet f;
        f.set ("phase", m_Meter.PhaseName());
        Emit ("phase", f);
        return;
    }
    if (phase == FlowPhase::DriverFound)
        Line ("Flash driver found: " + juce::File (m_strLastDriver).getFileName());
    else if (const auto text = PhaseLine (phase); text.isNotEmpty())
        Line (text);
}

void EventPrinter::Step (int index, int count, int kind, const juce::String& file, int page, int64_t offset, int64_t length)
{
    if (kind == kStepSendDriver)
        m_strLastDriver = file;
    if (m_bQuiet || m_Style != Style::Json)
        return;
    juce::NamedValueSet f;
    f.set ("index", index);
    f.set ("count", count);
    f.set ("kind", StepKindName (kind));
    if (file.isNotEmpty())
        f.set ("file", file);
    if (page >= 0)
        f.set ("page", page);
    if (offset >= 0)
        f.set ("offset", (juce::int64) offset);
    if (length >= 0)
        f.set ("length", (juce::int64) length);
    Emit ("step", f);
}

void EventPrinter::Progress (const char* activity, int64_t done, int64_t total)
{
    m_Meter.Progress (done, total);
    m_strActivity = activity;
    if (m_bQuiet)
        return;
    const int percent = m_Meter.Percent();
    switch (m_Style)
    {
        case Style::Json:
            if (percent != m_nLastStep)
            {
                m_nLastStep = percent;
                juce::NamedValueSet f;
                f.set ("phase", m_Meter.PhaseName());
                f.set ("activity", m_strActivity);
                f.set ("done", (juce::int64) done);
                f.set ("total", (juce::int64) total);
                f.set ("percent", percent);
                Emit ("progress", f);
            }
            break;
        case Style::Lines:
            if (percent / 10 != m_nLastStep)
            {
                m_nLastStep = percent / 10;
                Line (m_Meter.PhaseName() + ": " + juce::String (percent) + "% (" + ProgressMeter::Bytes (done) + " of "
                      + ProgressMeter::Bytes (total) + ")");
            }
            break;
        case Style::Terminal:
            if (percent != m_nLastStep)
            {
                m_nLastStep = percent;
                DrawProgressLine();
            }
            break;
    }
}

void EventPrinter::Pace (const PaceReport& report)
{
    if (m_bQuiet || m_Style != Style::Json)
        return;
    static const char* const what[] = { "start", "slower", "floor", "stopped" };
    juce::NamedValueSet f;
    f.set ("what", what[(int) report.what]);
    f.set ("pace", SysExPaceText (report.pace));
    if (report.port.isNotEmpty())
        f.set ("for_port", report.port);
    if (report.what == PaceReport::What::Start)
        f.set ("remembered", report.remembered);
    else
        f.set ("code", report.code);
    Emit ("pace", f);
}

void EventPrinter::Tick()
{
    if (m_Style == Style::Terminal && m_bProgressShown && ! m_bQuiet)
        DrawProgressLine();
}

void EventPrinter::Log (const juce::String& text)
{
    if (m_bRecord)
    {
        m_strRecordPartial += text;
        while (m_strRecordPartial.containsChar ('\n'))
        {
            RunLog::AppendLine (m_strLabel + ": " + m_strRecordPartial.upToFirstOccurrenceOf ("\n", false, false));
            m_strRecordPartial = m_strRecordPartial.fromFirstOccurrenceOf ("\n", false, false);
        }
    }
    if (! m_bVerbose)
        return;
    if (m_Style == Style::Json)
    {
        juce::NamedValueSet f;
        f.set ("text", text);
        Emit ("log", f);
        return;
    }
    // Whole lines only, so that the progress line can be drawn under them.
    m_strPartialLog += text;
    const bool redraw = m_bProgressShown;
    while (m_strPartialLog.containsChar ('\n'))
    {
        Line (m_strPartialLog.upToFirstOccurrenceOf ("\n", false, false));
        m_strPartialLog = m_strPartialLog.fromFirstOccurrenceOf ("\n", false, false);
    }
    if (redraw && ! m_bProgressShown)
        DrawProgressLine();
}

void EventPrinter::Warning (const juce::String& text)
{
    if (m_Style == Style::Json)
    {
        juce::NamedValueSet f;
        f.set ("text", text);
        Emit ("warning", f);
    }
    ClearProgressLine();
    Write (m_pErr, (m_strLabel.isEmpty() ? "" : m_strLabel + ": ") + "Warning: " + text.trimEnd() + "\n");
    if (m_bRecord)
        RunLog::AppendLine (m_strLabel + ": Warning: " + text.trimEnd().replace ("\n", " / "));
}

void EventPrinter::Error (int code, const juce::String& text, const Trouble* why)
{
    if (m_Style == Style::Json)
    {
        juce::NamedValueSet f;
        if (code != 0)
            f.set ("code", code);
        f.set ("text", text.trimEnd());
        if (why != nullptr)
        {
            f.set ("cause", juce::String::fromUTF8 (why->cause));
            f.set ("remedy", juce::String::fromUTF8 (why->remedy));
        }
        Emit ("error", f);
    }
    ClearProgressLine();
    const juce::String label = m_strLabel.isEmpty() ? "" : m_strLabel + ": ";
    Write (m_pErr, label + text.trimEnd() + "\n");
    const auto explained = why != nullptr ? label + juce::String::fromUTF8 (TroubleLine (*why).c_str()) : juce::String();
    if (why != nullptr)
        Write (m_pErr, explained + "\n");
    if (m_bRecord)
    {
        RunLog::AppendLine (label + text.trimEnd());
        if (why != nullptr)
            RunLog::AppendLine (explained);
    }
}

void EventPrinter::Done (int status, const juce::String& result, const juce::String& text, const juce::NamedValueSet& fields)
{
    if (m_bVerbose && m_strPartialLog.isNotEmpty() && m_Style != Style::Json)
    {
        Line (m_strPartialLog);
        m_strPartialLog.clear();
    }
    if (m_bProgressShown)
    {
        Write (m_pOut, "\n");
        m_bProgressShown = false;
    }
    if (m_Style == Style::Json)
    {
        juce::NamedValueSet f (fields);
        f.set ("status", status);
        f.set ("result", result);
        if (text.isNotEmpty())
            f.set ("text", text);
        Emit ("done", f);
        return;
    }
    if (! m_bQuiet && text.isNotEmpty())
        Line (text);
}

void EventPrinter::Record (const juce::String& event, const juce::String& line, const juce::NamedValueSet& fields)
{
    if (m_Style != Style::Json)
        Line (line);
    else if (event.isNotEmpty())
        Emit (event, fields);
}
