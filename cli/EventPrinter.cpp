#include "cli/EventPrinter.h"
#include <cstdlib>
#include "jobs/JobRunner.h"
#if defined(_WIN32)
 #include <io.h>
 #define KESTRAVA_ISATTY(f) _isatty (_fileno (f))
#else
 #include <unistd.h>
 #define KESTRAVA_ISATTY(f) isatty (fileno (f))
#endif

namespace
{
    double NowMs() { return juce::Time::getMillisecondCounterHiRes(); }

    void Write (std::FILE* f, const juce::String& text)
    {
        std::fputs (text.toRawUTF8(), f);
        std::fflush (f);
    }

    juce::String Bytes (int64_t n)
    {
        if (n < 1024)
            return juce::String (n) + " B";
        if (n < 1024 * 1024)
            return juce::String ((double) n / 1024.0, 1) + " KiB";
        return juce::String ((double) n / (1024.0 * 1024.0), 2) + " MiB";
    }

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

EventPrinter::EventPrinter (Style style, bool quiet, bool verbose)
    : m_Style (style), m_bQuiet (quiet), m_bVerbose (verbose)
{
}

//==============================================================================
void EventPrinter::Emit (const juce::String& event, const juce::NamedValueSet& fields)
{
    auto* object = new juce::DynamicObject();
    object->setProperty ("event", event);
    for (const auto& f : fields)
        object->setProperty (f.name, f.value);
    Write (stdout, juce::JSON::toString (juce::var (object), true) + "\n");
}

void EventPrinter::Line (const juce::String& text)
{
    ClearProgressLine();
    Write (stdout, text + "\n");
}

void EventPrinter::ClearProgressLine()
{
    if (m_bProgressShown)
        Write (stdout, "\r\x1b[K");
    m_bProgressShown = false;
}

juce::String EventPrinter::ProgressText() const
{
    const int percent = m_nTotal > 0 ? (int) juce::jlimit<int64_t> (0, 100, m_nDone * 100 / m_nTotal) : 0;
    juce::String s;
    s << m_strPhase << "  " << juce::String (percent).paddedLeft (' ', 3) << "%  "
      << Bytes (m_nDone) << " of " << Bytes (m_nTotal);
    const double seconds = (NowMs() - m_dPhaseStart) / 1000.0;
    const double rate = seconds > 0.2 ? (double) (m_nDone - m_nPhaseStartDone) / seconds : 0.0;
    const auto minutes = [] (int t) { return juce::String (t / 60) + ":" + juce::String (t % 60).paddedLeft ('0', 2); };
    if (rate > 0)
        s << "  " << Bytes ((int64_t) rate) << "/s";
    if (m_nTotal > 0 && m_nDone >= m_nTotal)
        s << "  done in " << minutes ((int) (seconds + 0.5));
    else if (rate > 0)
        s << "  " << minutes ((int) ((double) (m_nTotal - m_nDone) / rate + 0.5)) << " left";
    return s;
}

void EventPrinter::DrawProgressLine()
{
    Write (stdout, "\r" + ProgressText() + "\x1b[K");
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
        Write (stdout, "\n");   // the last phase's progress stays on screen
        m_bProgressShown = false;
    }
    m_strPhase = FlowPhaseName (phase);
    m_strActivity.clear();
    m_nDone = m_nTotal = m_nPhaseStartDone = 0;
    m_dPhaseStart = NowMs();
    m_nLastStep = -1;
    if (m_bQuiet)
        return;
    if (m_Style == Style::Json)
    {
        juce::NamedValueSet f;
        f.set ("phase", m_strPhase);
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
    if (m_nTotal == 0 && m_nDone == 0)
    {
        m_dPhaseStart = NowMs();
        m_nPhaseStartDone = done;
    }
    m_strActivity = activity;
    m_nDone = done;
    m_nTotal = total;
    if (m_bQuiet)
        return;
    const int percent = total > 0 ? (int) juce::jlimit<int64_t> (0, 100, done * 100 / total) : 0;
    switch (m_Style)
    {
        case Style::Json:
            if (percent != m_nLastStep)
            {
                m_nLastStep = percent;
                juce::NamedValueSet f;
                f.set ("phase", m_strPhase);
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
                Line (m_strPhase + ": " + juce::String (percent) + "% (" + Bytes (done) + " of " + Bytes (total) + ")");
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

void EventPrinter::Tick()
{
    if (m_Style == Style::Terminal && m_bProgressShown && ! m_bQuiet)
        DrawProgressLine();
}

void EventPrinter::Log (const juce::String& text)
{
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
    Write (stderr, "Warning: " + text.trimEnd() + "\n");
}

void EventPrinter::Error (int code, const juce::String& text)
{
    if (m_Style == Style::Json)
    {
        juce::NamedValueSet f;
        if (code != 0)
            f.set ("code", code);
        f.set ("text", text.trimEnd());
        Emit ("error", f);
    }
    ClearProgressLine();
    Write (stderr, text.trimEnd() + "\n");
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
        Write (stdout, "\n");
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
