// The module's test-facing side: settings, flash access, records and the
// scripted faults.
#include "sim/SimulatedModule.h"
#include <algorithm>

using std::chrono::microseconds;

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

void SimulatedModule::setRestartAbsence (int milliseconds)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_config.restartAbsenceMs = milliseconds;
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

bool SimulatedModule::saveFlash (const juce::File& file) const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return m_flash.saveTo (file);
}

bool SimulatedModule::loadFlash (const juce::File& file)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return m_flash.loadFrom (file);
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

uint64_t SimulatedModule::commandHash() const
{
    const std::lock_guard<std::mutex> guard (m_lock);
    return m_commandHash;
}

void SimulatedModule::clearRecords()
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_commandHash = 0;
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

void SimulatedModule::delayRead (int after, std::chrono::milliseconds delay, SimLateAnswer how)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    m_lateReads.push_back ({ m_readsSeen + std::max (0, after) + 1, delay, how });
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

void SimulatedModule::vanishAfter (SimCommand kind, int count)
{
    const std::lock_guard<std::mutex> guard (m_lock);
    if ((int) kind >= 0 && (int) kind < kKinds)
        m_vanishAt[(size_t) kind] = { true, -1, SimMode::Application, 0, std::max (0, count) };
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
    m_lateReads.clear();
}
