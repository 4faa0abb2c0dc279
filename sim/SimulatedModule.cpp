#include "sim/SimulatedModule.h"
#include <algorithm>
#include "sim/SimDriverImage.h"
#include "sim/SimSysExCodec.h"

using std::chrono::microseconds;
using SteadyClock = std::chrono::steady_clock;

namespace
{
    constexpr uint8_t kApp = 0x05;
    constexpr uint8_t kLoader = 0x7D;
    constexpr uint64_t kPageShift = 17;   // a flash page is 64 K words

    std::vector<uint8_t> Header (uint8_t device, uint8_t command)
    {
        return { 0x00, 0x20, 0x54, device, command };
    }
}

SimulatedModule::SimulatedModule (SimModuleConfig config)
    : BusDevice (config.inputName, config.outputName),
      m_config (std::move (config)),
      m_mode (m_config.startMode)
{
}

//==============================================================================
SimModuleConfig SimulatedModule::config() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return m_config;
}

SimMode SimulatedModule::mode() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return m_mode;
}

void SimulatedModule::setMode (SimMode mode)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    if (m_mode != mode)
        loseVolatileState();
    m_mode = mode;
}

void SimulatedModule::setLatencies (const SimLatencies& latencies)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_config.latencies = latencies;
}

void SimulatedModule::setFsFlag (int fsFlag)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_config.fsFlag = fsFlag;
}

void SimulatedModule::setReadChunking (int groupsPerChunk, bool announceChunks)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_config.readChunkGroups = std::max (0, groupsPerChunk);
    m_config.announceChunks = announceChunks;
}

//==============================================================================
std::vector<uint8_t> SimulatedModule::readFlash (uint64_t byteAddress, size_t length) const
{
    std::vector<uint8_t> out (length);
    const std::lock_guard<std::mutex> guard (m_lock);
    m_flash.read (byteAddress, out.data(), length);
    return out;
}

void SimulatedModule::preloadFlash (uint64_t byteAddress, const std::vector<uint8_t>& bytes)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_flash.load (byteAddress, bytes.data(), bytes.size());
}

void SimulatedModule::eraseWholeFlash()
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_flash.clear();
}

size_t SimulatedModule::flashPagesInUse() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return m_flash.usedPages();
}

std::vector<uint8_t> SimulatedModule::driver() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return m_driver;
}

std::vector<_STR_SECTOR> SimulatedModule::geometry() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    std::vector<_STR_SECTOR> sectors;
    int64_t count = 0;
    if (m_driver.empty()
        || ReadDriverGeometry (m_driver.data(), m_driver.size(), &count, &sectors) != GeometryResult::Ok)
        return {};
    return sectors;
}

//==============================================================================
int SimulatedModule::receivedCount (SimCommand kind) const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    const int k = (int) kind;
    return k >= 0 && k < kKinds ? m_counts[(size_t) k] : 0;
}

std::vector<SimCommandRecord> SimulatedModule::received() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return m_log;
}

std::vector<SimCommandRecord> SimulatedModule::received (SimCommand kind) const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    std::vector<SimCommandRecord> out;
    for (const auto& r : m_log)
        if (r.kind == kind)
            out.push_back (r);
    return out;
}

std::vector<SimFlashOp> SimulatedModule::operations() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return m_ops;
}

int SimulatedModule::repliesSent() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return m_replies;
}

microseconds SimulatedModule::busyTime() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return m_busyTotal;
}

void SimulatedModule::clearRecords()
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_counts.fill (0);
    m_log.clear();
    m_ops.clear();
    m_lastWasProgram = false;
    m_replies = 0;
    m_busyTotal = microseconds (0);
}

//==============================================================================
void SimulatedModule::silenceNextReplies (int count)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_silence = std::max (0, count);
}

void SimulatedModule::dropNextReplies (SimCommand kind, int count)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    if ((int) kind >= 0 && (int) kind < kKinds)
        m_drop[(size_t) kind] = std::max (0, count);
}

void SimulatedModule::failNext (SimCommand kind, uint8_t status, int count)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    if ((int) kind >= 0 && (int) kind < kKinds)
    {
        m_fail[(size_t) kind] = std::max (0, count);
        m_failStatus[(size_t) kind] = (uint8_t) (status & 0x7F);
    }
}

void SimulatedModule::damageNextReads (SimReadDamage what, int count)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    (what == SimReadDamage::Data ? m_damageData : m_damageTrailer) = std::max (0, count);
}

void SimulatedModule::loseNextProgramBlocks (int count)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_loseBlocks = std::max (0, count);
}

void SimulatedModule::vanishAtNext (SimCommand kind, int returnAfterMs, SimMode returnMode, int portsInsertedBefore)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    if ((int) kind >= 0 && (int) kind < kKinds)
        m_vanishAt[(size_t) kind] = { true, returnAfterMs, returnMode, portsInsertedBefore };
}

void SimulatedModule::vanish (int returnAfterMs, SimMode returnMode, int portsInsertedBefore)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    vanishLocked (returnAfterMs, returnMode, portsInsertedBefore);
}

void SimulatedModule::comeBack (SimMode mode, int portsInsertedBefore)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    ++m_vanishToken;   // a return still scheduled no longer fires
    comeBackLocked (mode, portsInsertedBefore);
}

void SimulatedModule::clearFaults()
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_silence = 0;
    m_drop.fill (0);
    m_fail.fill (0);
    m_vanishAt.fill (VanishPlan());
    m_damageData = m_damageTrailer = m_loseBlocks = 0;
}

//==============================================================================
void SimulatedModule::loseVolatileState()
{
    m_driver.clear();
    m_geometryDirty = true;
    m_transfer = Transfer::None;
    m_lastWasProgram = false;
    m_readPending = false;
}

void SimulatedModule::vanishLocked (int returnAfterMs, SimMode returnMode, int portsInsertedBefore)
{
    const uint64_t token = ++m_vanishToken;
    loseVolatileState();
    unplug();
    if (returnAfterMs >= 0)
        runLater (std::chrono::milliseconds (returnAfterMs), [this, token, returnMode, portsInsertedBefore]
        {
            const std::lock_guard<std::mutex> guard (m_lock);
            if (token == m_vanishToken)
                comeBackLocked (returnMode, portsInsertedBefore);
        });
}

void SimulatedModule::comeBackLocked (SimMode mode, int portsInsertedBefore)
{
    if (isPresent())
        return;
    loseVolatileState();
    m_mode = mode;
    plugIn (portsInsertedBefore);
}

//==============================================================================
SimCommand SimulatedModule::classify (const uint8_t* d, size_t n) const
{
    if (n < 5 || d[0] != 0x00 || d[1] != 0x20 || d[2] != 0x54)
        return SimCommand::Unknown;
    const uint8_t device = d[3], command = d[4];
    if (device == kApp)
    {
        if (command == 0x06 && n == 5)
            return SimCommand::ApplicationProbe;
        if (command == 0x08 && n == 6 && d[5] == 0x03)
            return SimCommand::Restart;
        return SimCommand::Unknown;
    }
    if (device != kLoader)
        return SimCommand::Unknown;
    switch (command)
    {
        case 0x08: return n == 7 && d[6] == 0x01 ? SimCommand::LoaderProbe : SimCommand::Unknown;
        case 0x03: return n == 5 ? SimCommand::LoadDriver : SimCommand::Unknown;
        case 0x01:
            return m_transfer == Transfer::Driver  ? SimCommand::DriverBlock
                 : m_transfer == Transfer::Program ? SimCommand::ProgramBlock
                                                   : SimCommand::StrayBlock;
        case 0x02:
            if (n == 10 && d[9] == 0x00) return SimCommand::WriteStart;
            if (n == 10 && d[9] == 0x01) return SimCommand::ReadBlock;
            return SimCommand::Unknown;
        case 0x04: return n == 9 ? SimCommand::EraseSector : SimCommand::Unknown;
        case 0x05: return n == 7 ? SimCommand::CheckFlash : SimCommand::Unknown;
        case 0x00: return n == 6 && d[5] == 0x00 ? SimCommand::Continue : SimCommand::Unknown;
        default:   return SimCommand::Unknown;
    }
}

void SimulatedModule::record (SimCommand kind, const uint8_t* d, size_t n)
{
    ++m_counts[(size_t) kind];
    if (! m_config.keepCommandLog)
        return;
    SimCommandRecord r;
    r.kind = kind;
    r.mode = m_mode;
    const bool dataBlock = kind == SimCommand::DriverBlock || kind == SimCommand::ProgramBlock
                        || kind == SimCommand::StrayBlock;
    r.bytes.assign (d, d + (dataBlock ? std::min<size_t> (n, 5) : n));
    m_log.push_back (std::move (r));
}

void SimulatedModule::receiveFromHost (const juce::MidiMessage& message)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    if (! message.isSysEx())
    {
        record (SimCommand::Unknown, nullptr, 0);
        return;
    }
    const auto* d = message.getSysExData();
    const auto n = (size_t) message.getSysExDataSize();
    const SimCommand kind = classify (d, n);
    record (kind, d, n);

    auto& plan = m_vanishAt[(size_t) kind];
    if (plan.armed)
    {
        const VanishPlan p = plan;
        plan = VanishPlan();
        vanishLocked (p.returnAfterMs, p.returnMode, p.portsInsertedBefore);
        return;
    }

    if (m_mode == SimMode::Application)
        handleApplication (kind);
    else
        handleLoader (kind, d, n);
}

void SimulatedModule::handleApplication (SimCommand kind)
{
    if (kind == SimCommand::ApplicationProbe)
    {
        auto reply = Header (kApp, 0x06);
        reply.push_back (0x00);
        answer (kind, std::move (reply), m_config.latencies.probe);
    }
    else if (kind == SimCommand::Restart)
    {
        vanishLocked (m_config.restartAbsenceMs, SimMode::Loader, m_config.portsInsertedOnReturn);
    }
    // The application firmware ignores everything else.
}

void SimulatedModule::handleLoader (SimCommand kind, const uint8_t* d, size_t n)
{
    switch (kind)
    {
        case SimCommand::LoaderProbe:
        {
            auto reply = Header (kLoader, 0x09);
            reply.push_back (d[5]);
            if (m_config.fsFlag >= 0)
                reply.push_back ((uint8_t) (m_config.fsFlag & 0x7F));
            answer (kind, std::move (reply), m_config.latencies.probe);
            break;
        }
        case SimCommand::LoadDriver:
            m_driver.clear();
            m_geometryDirty = true;
            m_transfer = Transfer::Driver;
            m_lastWasProgram = false;
            break;
        case SimCommand::WriteStart:
            m_transfer = Transfer::Program;
            m_programAddress = (uint64_t) SimReadWordAddress (d + 5) * 2;
            m_lastWasProgram = false;
            break;
        case SimCommand::DriverBlock:
        case SimCommand::ProgramBlock:
        case SimCommand::StrayBlock:
            onDataBlock (kind, d, n);
            break;
        case SimCommand::EraseSector: onErase (d); break;
        case SimCommand::CheckFlash:  onCheck (d); break;
        case SimCommand::ReadBlock:   onRead (d); break;
        case SimCommand::Continue:    onContinue(); break;
        default: break;   // the loader ignores the application's commands and garbage
    }
}

//==============================================================================
bool SimulatedModule::takeFailure (SimCommand kind, uint8_t& status)
{
    auto& left = m_fail[(size_t) kind];
    if (left <= 0)
        return false;
    --left;
    status = m_failStatus[(size_t) kind];
    return true;
}

// Accounts the module's busy time for one answer and decides whether it is
// sent; `delay` receives the time from now until it leaves.
bool SimulatedModule::beginAnswer (SimCommand kind, microseconds latency, microseconds& delay)
{
    const auto now = SteadyClock::now();
    m_busyUntil = std::max (m_busyUntil, now) + latency;
    m_busyTotal += latency;
    delay = std::chrono::duration_cast<microseconds> (m_busyUntil - now);
    if (m_silence > 0)
    {
        --m_silence;
        return false;
    }
    auto& drop = m_drop[(size_t) kind];
    if (drop > 0)
    {
        --drop;
        return false;
    }
    return true;
}

void SimulatedModule::sendNow (const std::vector<uint8_t>& data, microseconds delay)
{
    sendToHost (juce::MidiMessage::createSysExMessage (data.data(), (int) data.size()), delay);
    ++m_replies;
}

void SimulatedModule::answer (SimCommand kind, std::vector<uint8_t> data, microseconds latency)
{
    microseconds delay;
    if (beginAnswer (kind, latency, delay))
        sendNow (data, delay);
}

void SimulatedModule::sendStatus (SimCommand kind, uint8_t status, microseconds latency)
{
    auto reply = Header (kLoader, 0x00);
    reply.push_back (status);
    answer (kind, std::move (reply), latency);
}

void SimulatedModule::addOp (SimFlashOp::Kind kind, uint64_t address, uint64_t length, bool mayMerge)
{
    if (mayMerge && m_lastWasProgram && ! m_ops.empty())
    {
        auto& last = m_ops.back();
        if (last.kind == kind && last.address + last.length == address)
        {
            last.length += length;
            return;
        }
    }
    m_ops.push_back ({ kind, address, length });
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
    uint8_t high = 0;
    for (size_t i = 0; i < size; ++i)
        high |= payload[i];
    const bool wellFormed = size == kSimEncodedBlock && (high & 0x80) == 0;
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
    const auto latency = m_config.latencies.read;
    m_lastWasProgram = false;
    m_readPending = false;
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
    if (m_readAnnounced)
        while (m_readPending)
            sendNextChunk (delay);
    else
        sendNextChunk (delay);
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
