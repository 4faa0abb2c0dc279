#pragma once
// The progress of one phase as a line shows it: the phase, the percentage,
// the bytes done and in all, the rate and the time left.
#include <cstdint>
#include <juce_core/juce_core.h>

class ProgressMeter
{
public:
    /** A new phase: nothing done yet. */
    void Phase (const juce::String& name);
    /** Bytes done of `total`; the rate counts from the first call of the phase. */
    void Progress (int64_t done, int64_t total);

    /** The phase's name. */
    const juce::String& PhaseName() const { return m_strPhase; }
    /** Whole percent done, 0 to 100. */
    int Percent() const;
    /** Whether any progress came in this phase. */
    bool HasProgress() const { return m_nTotal > 0 || m_nDone > 0; }
    /** "update   42%  448.0 KiB of 1.06 MiB  304.8 KiB/s  0:02 left", or "done in" at
        the end; without `bytes` the bytes done and in all are left out. */
    juce::String Text (bool bytes = true) const;

    /** Bytes as the lines show them: "512 B", "4.0 KiB", "1.06 MiB". */
    static juce::String Bytes (int64_t n);
    /** Seconds as minutes and seconds: "2:05". */
    static juce::String Minutes (int seconds);

private:
    juce::String m_strPhase;
    int64_t m_nDone = 0, m_nTotal = 0;
    double m_dStartMs = 0;          // when the progress of this phase began
    int64_t m_nStartDone = 0;
};
