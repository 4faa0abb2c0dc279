#include "link/winmm/WinMmStream.h"

WinMmStream::WinMmStream (MidiInPort* port, MidiInHandler* handler, const std::atomic<bool>& stopped, size_t sysExBound)
    : m_Feed (port, handler, stopped, sysExBound)
{
}

void WinMmStream::ShortMessage (uint32_t packed)
{
    const uint8_t bytes[3] = { (uint8_t) packed, (uint8_t) (packed >> 8), (uint8_t) (packed >> 16) };
    // Only as many bytes as the status says: the rest of the number is not part of it.
    const int length = MidiStreamAssembler::MessageLength (bytes[0]);
    if (length > 0)
        m_Feed.Feed (bytes, (size_t) length);
}

void WinMmStream::LongData (const uint8_t* bytes, size_t size)
{
    m_Feed.Feed (bytes, size);
}

void WinMmStream::LongError()
{
    m_Feed.DropDamaged();
}
