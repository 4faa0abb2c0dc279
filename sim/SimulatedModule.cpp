// The module's firmware: what it receives, in which mode, and how it answers.
#include "sim/SimulatedModule.h"
#include <algorithm>
#include <cstring>
#include "sim/SimModuleWire.h"
#include "sim/SimSysExCodec.h"

using std::chrono::microseconds;
using SteadyClock = std::chrono::steady_clock;
using namespace SimWire;

namespace
{
    /** Mixes one command into a running hash, eight bytes at a time, its length last. */
    uint64_t HashCommand (uint64_t hash, const uint8_t* d, size_t n)
    {
        constexpr uint64_t kPrime = 0x100000001B3ull;
        hash = (hash ^ 0xCBF29CE484222325ull) * kPrime;
        size_t i = 0;
        for (; i + 8 <= n; i += 8)
        {
            uint64_t word;
            std::memcpy (&word, d + i, 8);
            hash = (hash ^ word) * kPrime;
            hash ^= hash >> 29;
        }
        for (; i < n; ++i)
            hash = (hash ^ d[i]) * kPrime;
        return (hash ^ (uint64_t) n) * kPrime;
    }
}

SimulatedModule::SimulatedModule (SimModuleConfig config)
    : BusDevice (config.inputName, config.outputName),
      m_config (std::move (config)),
      m_mode (m_config.startMode)
{
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
    if (kind != SimCommand::ApplicationProbe && kind != SimCommand::LoaderProbe)
        m_commandHash = HashCommand (m_commandHash, d, n);
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
    if (plan.armed && plan.letThrough > 0)
    {
        --plan.letThrough;
    }
    else if (plan.armed)
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
// sent; `delay` receives the time from now until it leaves. The module starts
// on a command when the host put it on the bus: the time the bus and this
// model take to hand it over is not added to the host's.
bool SimulatedModule::beginAnswer (SimCommand kind, microseconds latency, microseconds& delay)
{
    const auto now = SteadyClock::now();
    const auto sent = sentAt();
    const auto start = sent == SteadyClock::time_point {} || sent > now ? now : sent;
    m_busyUntil = std::max (m_busyUntil, start) + latency;
    m_busyTotal += latency;
    delay = std::chrono::duration_cast<microseconds> (std::max (m_busyUntil, now) - now);
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
    auto message = juce::MidiMessage::createSysExMessage (data.data(), (int) data.size());
    ++m_replies;
    if (m_hold.count() > 0)
    {
        // Held back on the way: queued only later, behind what the module sends meanwhile.
        const uint64_t token = m_vanishToken;
        runLater (delay + m_hold, [this, token, message]
        {
            const std::lock_guard<std::mutex> guard (m_lock);
            if (token == m_vanishToken)
                sendToHost (message);
        });
        return;
    }
    sendToHost (std::move (message), delay);
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
