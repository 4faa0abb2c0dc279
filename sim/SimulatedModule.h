#pragma once
// A simulated sound module on the virtual MIDI bus: application firmware and
// loader, driver upload and flash check, a sparse NOR flash over one or more
// chips, records of what it received and did, and scripted faults.
// Every public call is safe from any thread; commands are handled on the
// bus thread.
#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <vector>
#include "sim/BusDevice.h"
#include "sim/SimFlash.h"
#include "sim/SimModuleTypes.h"
#include "store/DriverFile.h"

class SimulatedModule : public BusDevice
{
public:
    /** A module built from the settings; it appears once added to a bus. */
    explicit SimulatedModule (SimModuleConfig config = {});
    ~SimulatedModule() override = default;

    //==== settings and state =================================================
    /** The settings it was built with, as changed by the setters below. */
    SimModuleConfig config() const;
    /** The firmware it runs now. */
    SimMode mode() const;
    /** Switches the firmware at once (no restart, no absence). */
    void setMode (SimMode mode);
    /** Replaces the answer delays. */
    void setLatencies (const SimLatencies& latencies);
    /** Replaces the FS flag byte of the loader identity (-1: absent). */
    void setFsFlag (int fsFlag);
    /** How long it stays away after the restart command (-1: for good). */
    void setRestartAbsence (int milliseconds);
    /** Replaces the read chunking (8-byte groups per chunk, 0: one chunk; m = 1 or Continue). */
    void setReadChunking (int groupsPerChunk, bool announceChunks);

    //==== flash and driver ===================================================
    /** The flash bytes of a byte range (0xFF where erased). */
    std::vector<uint8_t> readFlash (uint64_t byteAddress, size_t length) const;
    /** Stores bytes in the flash as they are (no NOR rule), for test setup. */
    void preloadFlash (uint64_t byteAddress, const std::vector<uint8_t>& bytes);
    /** Erases the whole flash. */
    void eraseWholeFlash();
    /** 4 KiB flash pages holding anything but erased bytes. */
    size_t flashPagesInUse() const;
    /** Keeps the flash in a sparse file (see SimFlash::saveTo); false when it cannot be written. */
    bool saveFlash (const juce::File& file) const;
    /** Takes the flash from a file saveFlash wrote (none: erased); false when it cannot be read. */
    bool loadFlash (const juce::File& file);
    /** Driver bytes received since the last load driver command (whole blocks). */
    std::vector<uint8_t> driver() const;
    /** Sectors of one chip as the uploaded driver describes them; empty without a valid driver. */
    std::vector<_STR_SECTOR> geometry() const;

    //==== records ============================================================
    /** Commands of a kind received so far (also in a mode that ignores them). */
    int receivedCount (SimCommand kind) const;
    /** Every received command, in order (when the log is kept). */
    std::vector<SimCommandRecord> received() const;
    /** The received commands of one kind, in order. */
    std::vector<SimCommandRecord> received (SimCommand kind) const;
    /** Erases and programmed ranges, in order. */
    std::vector<SimFlashOp> operations() const;
    /** Messages sent to the host so far (each read chunk counts). */
    int repliesSent() const;
    /** Time the module spent busy: the sum of the answer delays it modelled. */
    std::chrono::microseconds busyTime() const;
    /** A hash of every command received, bytes and order, the identity probes left
        out (how many of them come depends on when the host started). */
    uint64_t commandHash() const;
    /** Forgets the received commands, the operations and the counters above. */
    void clearRecords();

    //==== scripted faults ====================================================
    /** The next `count` answers of any kind are not sent (the work is still done). */
    void silenceNextReplies (int count);
    /** The next `count` commands of a kind are carried out but not answered. */
    void dropNextReplies (SimCommand kind, int count = 1);
    /** The next `count` commands of a kind (DriverBlock, CheckFlash, EraseSector,
        ProgramBlock, ReadBlock) are answered with this status and not carried out. */
    void failNext (SimCommand kind, uint8_t status, int count = 1);
    /** The next `count` read blocks are sent damaged. */
    void damageNextReads (SimReadDamage what, int count = 1);
    /** The answer to a read block comes `delay` late: the read block after the next
        `after` ones (0: the next one). Several may be scripted at once. */
    void delayRead (int after, std::chrono::milliseconds delay, SimLateAnswer how = SimLateAnswer::Stall);
    /** The next `count` program blocks are acknowledged but leave the flash unchanged. */
    void loseNextProgramBlocks (int count);
    /** At the next command of a kind the module vanishes instead of answering;
        with returnAfterMs >= 0 it comes back then, running `returnMode`. */
    void vanishAtNext (SimCommand kind, int returnAfterMs = -1,
                       SimMode returnMode = SimMode::Application, int portsInsertedBefore = 0);
    /** Lets `count` more commands of a kind through, then vanishes for good at the next one. */
    void vanishAfter (SimCommand kind, int count);
    /** Vanishes now (unplugged; driver and transfer state are lost); with
        returnAfterMs >= 0 it comes back then, running `returnMode`. */
    void vanish (int returnAfterMs = -1, SimMode returnMode = SimMode::Application,
                 int portsInsertedBefore = 0);
    /** Comes back now (if vanished), running `mode`, after newly inserted ports. */
    void comeBack (SimMode mode, int portsInsertedBefore = 0);
    /** Cancels every scripted fault that has not fired yet. */
    void clearFaults();

protected:
    void receiveFromHost (const juce::MidiMessage& message) override;

private:
    static constexpr int kKinds = (int) SimCommand::Count;
    enum class Transfer { None, Driver, Program };

    struct VanishPlan
    {
        bool armed = false;
        int returnAfterMs = -1;
        SimMode returnMode = SimMode::Application;
        int portsInsertedBefore = 0;
        int letThrough = 0;    // commands of the kind handled before it fires
    };

    SimCommand classify (const uint8_t* d, size_t n) const;
    void record (SimCommand kind, const uint8_t* d, size_t n);
    void handleApplication (SimCommand kind);
    void handleLoader (SimCommand kind, const uint8_t* d, size_t n);
    void onDataBlock (SimCommand kind, const uint8_t* d, size_t n);
    void onErase (const uint8_t* d);
    void onCheck (const uint8_t* d);
    void onRead (const uint8_t* d);
    void onContinue();
    void sendNextChunk (std::chrono::microseconds delay);
    bool takeFailure (SimCommand kind, uint8_t& status);
    bool beginAnswer (SimCommand kind, std::chrono::microseconds latency, std::chrono::microseconds& delay);
    void answer (SimCommand kind, std::vector<uint8_t> data, std::chrono::microseconds latency);
    void sendStatus (SimCommand kind, uint8_t status, std::chrono::microseconds latency);
    void sendNow (const std::vector<uint8_t>& data, std::chrono::microseconds delay);
    void addOp (SimFlashOp::Kind kind, uint64_t address, uint64_t length, bool mayMerge);
    bool driverUsable();
    const std::vector<_STR_SECTOR>& sectorsLocked();
    int64_t chipBytes();
    bool chipHolding (uint64_t byteAddress, uint64_t& chipBase);
    void vanishLocked (int returnAfterMs, SimMode returnMode, int portsInsertedBefore);
    void comeBackLocked (SimMode mode, int portsInsertedBefore);
    void loseVolatileState();

    mutable std::mutex m_lock;
    SimModuleConfig m_config;
    SimMode m_mode;
    SimFlash m_flash;

    // Loader RAM: lost when the module restarts or vanishes.
    std::vector<uint8_t> m_driver;
    bool m_geometryDirty = true;
    bool m_geometryOk = false;
    std::vector<_STR_SECTOR> m_sectors;
    Transfer m_transfer = Transfer::None;
    uint64_t m_programAddress = 0;
    bool m_lastWasProgram = false;                  // the last operation is a program of this write
    std::vector<uint8_t> m_readEncoded;             // the read block being answered, encoded
    size_t m_readPos = 0;                           // its next chunk starts here
    size_t m_readChunkBytes = 0;
    bool m_readAnnounced = true;
    bool m_readPending = false;                     // chunks remain to be sent
    std::vector<uint8_t> m_block;                   // scratch: one decoded or read block
    std::vector<uint8_t> m_chunk;                   // scratch: one outgoing chunk

    // Records.
    std::array<int, kKinds> m_counts {};
    std::vector<SimCommandRecord> m_log;
    std::vector<SimFlashOp> m_ops;
    int m_replies = 0;
    std::chrono::microseconds m_busyTotal { 0 };
    std::chrono::steady_clock::time_point m_busyUntil {};
    uint64_t m_commandHash = 0;

    // Faults.
    int m_silence = 0;
    std::array<int, kKinds> m_drop {};
    std::array<int, kKinds> m_fail {};
    std::array<uint8_t, kKinds> m_failStatus {};
    std::array<VanishPlan, kKinds> m_vanishAt {};
    int m_damageData = 0;
    int m_damageTrailer = 0;
    int m_loseBlocks = 0;
    struct LateRead
    {
        int read = 0;                       // the read block it is for (as m_readsSeen counts them)
        std::chrono::microseconds delay {};
        SimLateAnswer how = SimLateAnswer::Stall;
    };
    std::vector<LateRead> m_lateReads;
    int m_readsSeen = 0;                      // read blocks received (records cleared or not)
    std::chrono::microseconds m_hold { 0 };   // the answer being sent is held back this long
    uint64_t m_vanishToken = 0;    // a scheduled return only fires for the latest vanish
};
