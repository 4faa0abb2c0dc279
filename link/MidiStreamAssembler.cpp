#include "link/MidiStreamAssembler.h"

int MidiStreamAssembler::MessageLength (uint8_t status)
{
    if (status < 0x80)
        return 0;
    if (status < 0xF0)
        return (status & 0xE0) == 0xC0 ? 2 : 3;   // program change and channel pressure carry one data byte
    switch (status)
    {
        case 0xF1: case 0xF3: return 2;
        case 0xF2: return 3;
        case 0xF6: return 1;
        case 0xF0: case 0xF4: case 0xF5: case 0xF7: return 0;   // F4, F5: undefined; F7 outside a SysEx: stray
        default:   return 1;   // real-time
    }
}

MidiStreamAssembler::MidiStreamAssembler (size_t sysExBound)
    : m_nBound (sysExBound < 2 ? 2 : sysExBound)
{
}

void MidiStreamAssembler::Restart()
{
    m_SysEx.clear();
    m_bInSysEx = false;
    m_bOversized = false;
    m_nHave = 0;
    m_nRunning = 0;
}

void MidiStreamAssembler::DropDamaged()
{
    ++m_nDamaged;
    Restart();
}

void MidiStreamAssembler::EndSysEx (bool damaged)
{
    if (damaged)
        ++m_nDamaged;
    else if (m_bOversized)
        ++m_nOversized;
    m_SysEx.clear();
    m_bInSysEx = false;
    m_bOversized = false;
}

void MidiStreamAssembler::StartStatus (uint8_t status, const Emit& emit)
{
    m_nHave = 0;
    if (status < 0xF0)
        m_nRunning = status;
    else
        m_nRunning = 0;   // system common messages end running status

    if (status == 0xF0)
    {
        m_bInSysEx = true;
        m_bOversized = false;
        m_SysEx.clear();
        m_SysEx.push_back (status);
        return;
    }
    const int length = MessageLength (status);
    if (length == 1)
    {
        emit (&status, 1);
        return;
    }
    if (length > 1)
    {
        m_Message[0] = status;
        m_nHave = 1;
        m_nNeed = length;
    }
}

void MidiStreamAssembler::TakeData (uint8_t data, const Emit& emit)
{
    if (m_bInSysEx)
    {
        if (m_SysEx.size() + 1 < m_nBound)   // room for this byte and the F7
            m_SysEx.push_back (data);
        else
            m_bOversized = true;
        return;
    }
    if (m_nHave == 0)
    {
        if (m_nRunning == 0)
            return;   // a data byte without a status: nothing to attach it to
        m_Message[0] = m_nRunning;
        m_nHave = 1;
        m_nNeed = MessageLength (m_nRunning);
    }
    m_Message[m_nHave++] = data;
    if (m_nHave == m_nNeed)
    {
        m_nHave = 0;
        emit (m_Message, m_nNeed);
    }
}

void MidiStreamAssembler::Feed (const uint8_t* bytes, size_t size, const Emit& emit)
{
    for (size_t i = 0; i < size; ++i)
    {
        const uint8_t b = bytes[i];
        if (b >= 0xF8)
        {
            emit (&b, 1);   // real-time: passes through whatever is in progress
            continue;
        }
        if (b < 0x80)
        {
            TakeData (b, emit);
            continue;
        }
        if (b == 0xF7)
        {
            if (m_bInSysEx && ! m_bOversized)
            {
                m_SysEx.push_back (b);
                emit (m_SysEx.data(), (int) m_SysEx.size());
            }
            if (m_bInSysEx)
                EndSysEx (false);
            m_nHave = 0;
            m_nRunning = 0;
            continue;
        }
        if (m_bInSysEx)
            EndSysEx (true);   // a status byte before the F7: the SysEx was cut short
        StartStatus (b, emit);
    }
}
