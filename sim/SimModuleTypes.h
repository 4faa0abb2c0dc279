#pragma once
// Settings, command kinds and records of the simulated sound module.
#include <chrono>
#include <cstdint>
#include <vector>
#include <juce_core/juce_core.h>

/** The firmware the module runs. */
enum class SimMode
{
    Application,   ///< normal firmware: answers the application probe, can restart into the loader
    Loader         ///< loader: answers the loader probe, takes a driver and flash commands
};

/** What the module received, by kind. */
enum class SimCommand : int
{
    ApplicationProbe,   ///< 05 06
    Restart,            ///< 05 08 03
    LoaderProbe,        ///< 7D 08 i 01
    LoadDriver,         ///< 7D 03
    DriverBlock,        ///< 7D 01 + data, after load driver
    WriteStart,         ///< 7D 02 a3 a2 a1 a0 00
    ProgramBlock,       ///< 7D 01 + data, after write start
    StrayBlock,         ///< 7D 01 + data with no transfer started
    EraseSector,        ///< 7D 04 a3 a2 a1 a0
    CheckFlash,         ///< 7D 05 vh vl
    ReadBlock,          ///< 7D 02 a3 a2 a1 a0 01
    Continue,           ///< 7D 00 00
    Unknown,            ///< anything else (not SysEx, other header or command)
    Count               ///< number of kinds (not a kind)
};

/** Delays between a command and the module's answer. Zero for tests. */
struct SimLatencies
{
    std::chrono::microseconds probe { 0 };      ///< identity replies
    std::chrono::microseconds blockAck { 0 };   ///< per data block (driver or program)
    std::chrono::microseconds check { 0 };      ///< flash check
    std::chrono::microseconds erase { 0 };      ///< per sector erase
    std::chrono::microseconds read { 0 };       ///< per read block, until its first chunk

    /** A module behind USB-MIDI with a fast NOR chip: probe 1 ms, block
        acknowledgement 4 ms, check 2 ms, sector erase 100 ms, read 3 ms. */
    static SimLatencies Realistic()
    {
        using std::chrono::microseconds;
        SimLatencies l;
        l.probe = microseconds (1000);
        l.blockAck = microseconds (4000);
        l.check = microseconds (2000);
        l.erase = microseconds (100000);
        l.read = microseconds (3000);
        return l;
    }
};

/** How a module is built. */
struct SimModuleConfig
{
    juce::String inputName { "Sim Sound Module" };    ///< its port the host reads from
    juce::String outputName { "Sim Sound Module" };   ///< its port the host writes to
    SimMode startMode = SimMode::Loader;              ///< the firmware it runs when added
    int fsFlag = 1;                       ///< 7th byte of the loader identity: 1 FS (read blocks carry the trailer), 0 HS, -1 absent; other values are sent as they are and mean HS
    juce::String chipName { "SIM29GL064" };           ///< its flash chip; the driver's flash name must equal it
    std::vector<int> chipPages { 0 };                 ///< flash page of each chip (byte base page << 17)
    int restartAbsenceMs = 100;           ///< time it is off the bus after the restart command
    int portsInsertedOnReturn = 0;        ///< other port pairs that appear before it when it comes back
    int readChunkGroups = 0;              ///< 8-byte groups per read chunk; 0: the whole block in one chunk
    bool announceChunks = true;           ///< chunks announce the next one (m = 1); false: m = 0 and wait for Continue
    size_t driverCapacity = 1u << 20;     ///< driver bytes it can hold; blocks beyond get status 2
    bool keepCommandLog = true;           ///< keep every received command in received() (counts are always kept)
    SimLatencies latencies;               ///< answer delays
};

/** One received command. */
struct SimCommandRecord
{
    SimCommand kind = SimCommand::Unknown;   ///< what it was
    SimMode mode = SimMode::Loader;          ///< the firmware that received it
    std::vector<uint8_t> bytes;              ///< SysEx data bytes without F0/F7 (data blocks: only 7D 01)
};

/** One thing the module did to its flash. */
struct SimFlashOp
{
    enum Kind
    {
        Erase,         ///< a sector was erased
        Program,       ///< bytes were programmed (consecutive blocks of one write merge)
        ProgramLost    ///< blocks were acknowledged but did not take (a scripted fault)
    };
    Kind kind = Erase;        ///< what happened
    uint64_t address = 0;     ///< byte address
    uint64_t length = 0;      ///< bytes

    bool operator== (const SimFlashOp& o) const { return kind == o.kind && address == o.address && length == o.length; }
};

/** How a late read answer comes late. */
enum class SimLateAnswer
{
    Stall,    ///< the module is busy: the answer and every later one wait, then come in order
    Held      ///< the answer alone is held back on the way; later answers overtake it
};

/** Which part of a read block a damage fault spoils. */
enum class SimReadDamage
{
    Data,      ///< one data bit flipped (the trailer still matches the true data)
    Trailer    ///< one trailer bit flipped (only while the module sends a trailer)
};
