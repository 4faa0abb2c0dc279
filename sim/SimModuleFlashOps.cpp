// The loader's flash commands: driver and program blocks, sector erase,
// flash check and read blocks in chunks, over the driver's geometry.
#include "sim/SimulatedModule.h"
#include <algorithm>
#include <cstring>
#include "sim/SimDriverImage.h"
#include "sim/SimModuleWire.h"
#include "sim/SimSysExCodec.h"

using std::chrono::microseconds;
using SteadyClock = std::chrono::steady_clock;
using namespace SimWire;

namespace
{
    /** Whether any of the bytes has its top bit set (eight looked at a time). */
    bool AnyTopBitSet (const uint8_t* bytes, size_t size)
    {
        uint64_t any = 0;
        size_t i = 0;
        for (; i + 8 <= size; i += 8)
        {
            uint64_t word;
            std::memcpy (&word, bytes + i, 8);
            any |= word;
        }
        for (; i < size; ++i)
            any |= bytes[i];
        return (any & 0x8080808080808080ull) != 0;
    }
}

//==============================================================================
const std::vector<_STR_SECTOR>& SimulatedModule::sectorsLocked()
{
    if (m_geometryDirty)
    {
        m_geometryDirty = false;
        m_sectors.clear();
        int64_t count = 0;
        m_geometryOk = ! m_driver.empty()
            && ReadDriverGeometry (m_driver.data(), m_driver.size(), &count, &m_sectors) == GeometryResult::Ok
            && ! m_sectors.empty();
        if (! m_geometryOk)
            m_sectors.clear();
    }
    return m_sectors;
}

bool SimulatedModule::driverUsable()
{
    sectorsLocked();
    return m_geometryOk;
}

int64_t SimulatedModule::chipBytes()
{
    const auto& s = sectorsLocked();
    return s.empty() ? 0 : (int64_t) s.back().nStart + s.back().nSize;
}

bool SimulatedModule::chipHolding (uint64_t byteAddress, uint64_t& chipBase)
{
    const auto size = (uint64_t) chipBytes();
    for (const int page : m_config.chipPages)
    {
        const uint64_t base = (uint64_t) page << kPageShift;
        if (byteAddress >= base && byteAddress < base + size)
        {
            chipBase = base;
            return true;
        }
    }
    return false;
}

//==============================================================================
void SimulatedModule::onDataBlock (SimCommand kind, const uint8_t* d, size_t n)
{
    const auto latency = m_config.latencies.blockAck;
    uint8_t status = 0;
    if (takeFailure (kind, status))
        return sendStatus (kind, status, latency);

    const uint8_t* payload = d + 5;
    const size_t size = n - 5;
    const bool wellFormed = size == kSimEncodedBlock && ! AnyTopBitSet (payload, size);
    if (kind == SimCommand::StrayBlock || ! wellFormed)
        return sendStatus (kind, 2, latency);

    auto& block = m_block;
    block.clear();
    SimDecode8to7 (payload, size, block);

    if (kind == SimCommand::DriverBlock)
    {
        if (m_driver.size() + block.size() > m_config.driverCapacity)
            return sendStatus (kind, 2, latency);
        m_driver.insert (m_driver.end(), block.begin(), block.end());
        m_geometryDirty = true;
        return sendStatus (kind, 0, latency);
    }

    // A program block: needs a usable driver and an address on a chip.
    uint64_t base = 0;
    if (! driverUsable() || ! chipHolding (m_programAddress, base))
        return sendStatus (kind, 2, latency);
    const uint64_t chipEnd = base + (uint64_t) chipBytes();
    const uint64_t length = std::min<uint64_t> (block.size(), chipEnd - m_programAddress);
    if (m_loseBlocks > 0)
    {
        --m_loseBlocks;
        addOp (SimFlashOp::ProgramLost, m_programAddress, length, true);
    }
    else
    {
        m_flash.program (m_programAddress, block.data(), (size_t) length);
        addOp (SimFlashOp::Program, m_programAddress, length, true);
    }
    m_lastWasProgram = true;
    m_programAddress += kSimBlockBytes;
    sendStatus (kind, 0, latency);
}

void SimulatedModule::onErase (const uint8_t* d)
{
    const auto kind = SimCommand::EraseSector;
    const auto latency = m_config.latencies.erase;
    m_lastWasProgram = false;
    uint8_t status = 0;
    if (takeFailure (kind, status))
        return sendStatus (kind, status, latency);

    const uint64_t address = (uint64_t) SimReadWordAddress (d + 5) * 2;
    uint64_t base = 0;
    if (! driverUsable() || ! chipHolding (address, base))
        return sendStatus (kind, 2, latency);
    const auto& sectors = sectorsLocked();
    const auto offset = (int64_t) (address - base);
    const auto it = std::lower_bound (sectors.begin(), sectors.end(), offset,
                                      [] (const _STR_SECTOR& s, int64_t v) { return s.nStart < v; });
    if (it == sectors.end() || it->nStart != offset)
        return sendStatus (kind, 2, latency);
    m_flash.erase (address, (uint64_t) it->nSize);
    addOp (SimFlashOp::Erase, address, (uint64_t) it->nSize, false);
    sendStatus (kind, 0, latency);
}

void SimulatedModule::onCheck (const uint8_t* d)
{
    const auto kind = SimCommand::CheckFlash;
    const auto latency = m_config.latencies.check;
    uint8_t status = 0;
    if (takeFailure (kind, status))
        return sendStatus (kind, status, latency);

    if (! driverUsable())
        return sendStatus (kind, 2, latency);   // no driver to run the check
    const int page = ((d[5] & 0x7F) << 7) | (d[6] & 0x7F);
    const bool nameMatches = SimDriverFlashName (m_driver.data(), m_driver.size()) == m_config.chipName.toStdString();
    const bool chipThere = std::find (m_config.chipPages.begin(), m_config.chipPages.end(), page)
                           != m_config.chipPages.end();
    sendStatus (kind, nameMatches && chipThere ? 0 : 1, latency);
}

void SimulatedModule::onRead (const uint8_t* d)
{
    const auto kind = SimCommand::ReadBlock;
    auto latency = m_config.latencies.read;
    m_lastWasProgram = false;
    m_readPending = false;

    // A late answer: a stalled module is busy for longer, a held answer leaves later alone.
    ++m_readsSeen;
    microseconds hold { 0 };
    for (auto it = m_lateReads.begin(); it != m_lateReads.end(); ++it)
        if (it->read == m_readsSeen)
        {
            (it->how == SimLateAnswer::Stall ? latency : hold) += it->delay;
            m_lateReads.erase (it);
            break;
        }
    uint8_t status = 0;
    if (takeFailure (kind, status))
        return sendStatus (kind, status, latency);

    const uint64_t address = (uint64_t) SimReadWordAddress (d + 5) * 2;
    uint64_t base = 0;
    if (! driverUsable() || ! chipHolding (address, base))
        return sendStatus (kind, 2, latency);

    const bool withTrailer = m_config.fsFlag == 1;
    const size_t size = kSimBlockBytes + (withTrailer ? kSimTrailerBytes : 0);
    m_block.resize (size);
    m_flash.read (address, m_block.data(), kSimBlockBytes);
    if (withTrailer)
        SimReadTrailer (m_block.data(), m_block.data() + kSimBlockBytes);
    if (m_damageData > 0)
    {
        --m_damageData;
        m_block[(size_t) (address / 2) % kSimBlockBytes] ^= 0x10;
    }
    if (withTrailer && m_damageTrailer > 0)
    {
        --m_damageTrailer;
        m_block[kSimBlockBytes + 1] ^= 0x01;
    }

    m_readEncoded.clear();
    SimEncode8to7 (m_block.data(), size, m_readEncoded);
    m_readChunkBytes = m_config.readChunkGroups > 0 ? (size_t) m_config.readChunkGroups * 8 : m_readEncoded.size();
    m_readAnnounced = m_config.announceChunks;

    microseconds delay;
    if (! beginAnswer (kind, latency, delay))
        return;
    m_readPos = 0;
    m_readPending = true;
    m_hold = hold;
    if (m_readAnnounced)
        while (m_readPending)
            sendNextChunk (delay);
    else
        sendNextChunk (delay);
    m_hold = microseconds (0);
}

void SimulatedModule::sendNextChunk (microseconds delay)
{
    const size_t end = std::min (m_readEncoded.size(), m_readPos + m_readChunkBytes);
    const bool last = end == m_readEncoded.size();
    m_chunk.assign ({ 0x00, 0x20, 0x54, kLoader, 0x01, (uint8_t) (! last && m_readAnnounced ? 1 : 0) });
    m_chunk.insert (m_chunk.end(), m_readEncoded.begin() + (long) m_readPos, m_readEncoded.begin() + (long) end);
    sendNow (m_chunk, delay);
    m_readPos = end;
    m_readPending = ! last;
}

void SimulatedModule::onContinue()
{
    if (! m_readPending || m_readAnnounced)
        return;   // nothing waits for it
    microseconds delay;
    if (beginAnswer (SimCommand::Continue, microseconds (0), delay))
        sendNextChunk (delay);
}
