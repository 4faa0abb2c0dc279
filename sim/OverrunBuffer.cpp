#include "sim/OverrunBuffer.h"
#include <algorithm>

OverrunBuffer::OverrunBuffer (size_t capacity, int bytesPerSecond)
    : m_nCapacity (capacity),
      m_PerByte (std::chrono::duration_cast<Clock::duration> (std::chrono::nanoseconds (1000000000LL / std::max (1, bytesPerSecond))))
{
}

void OverrunBuffer::Advance (Clock::time_point now, const uint8_t* bytes, size_t size, std::vector<uint8_t>& out)
{
    while (! m_Held.empty() && m_HeadLeaves <= now)
    {
        out.push_back (m_Held.front());
        m_Held.pop_front();
        if (! m_Held.empty())
            m_HeadLeaves += m_PerByte;   // the wire goes straight on with the next byte
    }
    if (size == 0)
        return;
    if (m_Held.empty())
        m_HeadLeaves = std::max (now, m_HeadLeaves) + m_PerByte;   // an idle wire starts on arrival
    const size_t taken = std::min (size, m_nCapacity - m_Held.size());
    m_Held.insert (m_Held.end(), bytes, bytes + taken);
    m_nLost += size - taken;
}

OverrunBuffer::Clock::time_point OverrunBuffer::NextLeaves() const
{
    return m_Held.empty() ? Clock::time_point::max() : m_HeadLeaves;
}
