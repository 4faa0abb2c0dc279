#include "link/MidiInputFeed.h"

MidiInputFeed::MidiInputFeed (MidiInPort* port, MidiInHandler* handler, const std::atomic<bool>& stopped, size_t sysExBound)
    : m_pPort (port), m_pHandler (handler), m_bStopped (stopped), m_Assembler (sysExBound)
{
    m_Emit = [this] (const uint8_t* bytes, int size)
    {
        ReportDropped();   // a drop is told before the messages that came after it
        if (! m_bStopped)
            m_pHandler->handleIncomingMidiMessage (m_pPort, juce::MidiMessage (bytes, size, 0.0));
    };
}

void MidiInputFeed::Feed (const uint8_t* bytes, size_t size)
{
    m_Assembler.Feed (bytes, size, m_Emit);
    ReportDropped();
}

void MidiInputFeed::ReportDropped()
{
    for (const bool oversized : { false, true })
    {
        auto& seen = oversized ? m_nOversizedSeen : m_nDamagedSeen;
        const auto now = oversized ? m_Assembler.OversizedSysEx() : m_Assembler.DamagedSysEx();
        for (; seen < now; ++seen)
            if (! m_bStopped)
                m_pHandler->handleDroppedSysEx (m_pPort, oversized);
    }
}

void MidiInputFeed::DropDamaged()
{
    m_Assembler.DropDamaged();
    ReportDropped();
}
