#include "cli/ProgressMeter.h"

namespace
{
    double NowMs() { return juce::Time::getMillisecondCounterHiRes(); }
}

juce::String ProgressMeter::Bytes (int64_t n)
{
    if (n < 1024)
        return juce::String (n) + " B";
    if (n < 1024 * 1024)
        return juce::String ((double) n / 1024.0, 1) + " KiB";
    return juce::String ((double) n / (1024.0 * 1024.0), 2) + " MiB";
}

juce::String ProgressMeter::Minutes (int seconds)
{
    return juce::String (seconds / 60) + ":" + juce::String (seconds % 60).paddedLeft ('0', 2);
}

void ProgressMeter::Phase (const juce::String& name)
{
    m_strPhase = name;
    m_nDone = m_nTotal = m_nStartDone = 0;
    m_dStartMs = NowMs();
}

void ProgressMeter::Progress (int64_t done, int64_t total)
{
    if (! HasProgress())
    {
        m_dStartMs = NowMs();
        m_nStartDone = done;
    }
    m_nDone = done;
    m_nTotal = total;
}

int ProgressMeter::Percent() const
{
    return m_nTotal > 0 ? (int) juce::jlimit<int64_t> (0, 100, m_nDone * 100 / m_nTotal) : 0;
}

juce::String ProgressMeter::Text (bool bytes) const
{
    juce::String s;
    s << m_strPhase << "  " << juce::String (Percent()).paddedLeft (' ', 3) << "%";
    if (bytes)
        s << "  " << Bytes (m_nDone) << " of " << Bytes (m_nTotal);
    const double seconds = (NowMs() - m_dStartMs) / 1000.0;
    const double rate = seconds > 0.2 ? (double) (m_nDone - m_nStartDone) / seconds : 0.0;
    if (rate > 0)
        s << "  " << Bytes ((int64_t) rate) << "/s";
    if (m_nTotal > 0 && m_nDone >= m_nTotal)
        s << "  done in " << Minutes ((int) (seconds + 0.5));
    else if (rate > 0)
        s << "  " << Minutes ((int) ((double) (m_nTotal - m_nDone) / rate + 0.5)) << " left";
    return s;
}
