#pragma once
// Helpers for updates that meet a module fault at a chosen command: a module
// that arms a scripted fault just before it handles that command, the files
// the process still holds open inside a folder, and a settings file with
// sections of every kind to compare before and after.
#include <atomic>
#include <filesystem>
#include <functional>
#include <mutex>
#include <string>
#include <vector>
#include "sim/SimulatedModule.h"

namespace faultmatrix
{
/** A simulated module that runs an arming action once, on the bus thread, just
    before it handles a chosen command; the fault it arms therefore hits exactly
    that command or the answers that follow it. */
class TriggeredModule : public SimulatedModule
{
public:
    /** What arms the fault (calls the module's fault API). */
    using Arm = std::function<void (SimulatedModule&)>;

    /** A module built from the settings. */
    explicit TriggeredModule (SimModuleConfig config) : SimulatedModule (std::move (config)) {}

    /** At the first command of kind `at` that follows a command of kind `after`
        (SimCommand::Count: from the start), runs `arm` before the command is handled. */
    void ArmAt (SimCommand at, SimCommand after, Arm arm)
    {
        const std::lock_guard<std::mutex> l (m_triggerLock);
        m_at = at;
        m_after = after;
        m_seenAfter = after == SimCommand::Count;
        m_arm = std::move (arm);
        m_fired = false;
    }

    /** Forgets an arming action that has not run yet. */
    void Disarm()
    {
        const std::lock_guard<std::mutex> l (m_triggerLock);
        m_arm = nullptr;
    }

    /** Whether the arming action ran. */
    bool Fired() const { return m_fired.load(); }

protected:
    void receiveFromHost (const juce::MidiMessage& message) override
    {
        Arm toRun;
        {
            const std::lock_guard<std::mutex> l (m_triggerLock);
            const auto kind = Classify (message);
            if (m_arm != nullptr)
            {
                if (kind == m_at && m_seenAfter)
                {
                    toRun = std::move (m_arm);
                    m_arm = nullptr;
                    m_fired = true;
                }
                else if (kind == m_after)
                {
                    m_seenAfter = true;
                }
            }
        }
        if (toRun != nullptr)
            toRun (*this);
        SimulatedModule::receiveFromHost (message);
    }

private:
    /** The loader commands a trigger can stand on; everything else is Unknown. */
    static SimCommand Classify (const juce::MidiMessage& m)
    {
        if (! m.isSysEx() || m.getSysExDataSize() < 5)
            return SimCommand::Unknown;
        const auto* d = m.getSysExData();
        const int n = m.getSysExDataSize();
        if (d[0] != 0x00 || d[1] != 0x20 || d[2] != 0x54 || d[3] != 0x7D)
            return SimCommand::Unknown;
        switch (d[4])
        {
            case 0x03: return SimCommand::LoadDriver;
            case 0x04: return SimCommand::EraseSector;
            case 0x05: return SimCommand::CheckFlash;
            case 0x02:
                if (n >= 10)
                    return d[9] == 0x01 ? SimCommand::ReadBlock : SimCommand::WriteStart;
                return SimCommand::Unknown;
            default:   return SimCommand::Unknown;
        }
    }

    std::mutex m_triggerLock;
    SimCommand m_at = SimCommand::Unknown;
    SimCommand m_after = SimCommand::Count;
    bool m_seenAfter = false;
    Arm m_arm;
    std::atomic<bool> m_fired { false };
};

/** Paths inside `folder` that the process holds open (its /proc/self/fd links). */
inline std::vector<std::string> OpenFilesInside (const juce::File& folder)
{
    namespace fs = std::filesystem;
    std::error_code ec;
    auto root = fs::weakly_canonical (fs::path (folder.getFullPathName().toStdString()), ec).string();
    if (root.empty())
        root = folder.getFullPathName().toStdString();
    root += "/";
    std::vector<std::string> open;
    for (const auto& link : fs::directory_iterator ("/proc/self/fd", ec))
    {
        std::error_code e;
        const auto target = fs::read_symlink (link.path(), e).string();
        if (! e && target.compare (0, root.size(), root) == 0)
            open.push_back (target);
    }
    return open;
}

/** A settings file as a person leaves it: the global count, the last-used
    values, one preset, and a section the program does not know. */
inline const char* SeededConfig()
{
    return "[GlobleInfo]\n"
           "TotalPreset=1\n"
           "[LastSave]\n"
           "PresetName=LastSave\n"
           "MCUName=QVM410\n"
           "FlashName=KV29F064\n"
           "FlashPage=0\n"
           "NameWrite=\n"
           "FileOffset=0\n"
           "WriteLength=0\n"
           "FlashOffset=0\n"
           "NameRead=/tmp/read.bin\n"
           "ReadOffset=0\n"
           "ReadLength=0\n"
           "UserWordAddress=1\n"
           "BeepWhenDone=0\n"
           "ReadAndCheckAfterWrite=0\n"
           "[Preset0]\n"
           "PresetName=Bench\n"
           "MCUName=QVM428\n"
           "FlashName=KV29F064\n"
           "FlashPage=0\n"
           "NameWrite=/tmp/bench.bin\n"
           "FileOffset=0\n"
           "WriteLength=20000\n"
           "FlashOffset=0\n"
           "NameRead=/tmp/bench-read.bin\n"
           "ReadOffset=0\n"
           "ReadLength=0\n"
           "UserWordAddress=1\n"
           "BeepWhenDone=1\n"
           "ReadAndCheckAfterWrite=1\n"
           "[Workshop]\n"
           "Owner=bench two\n"
           "Note=keep this\n";
}
} // namespace faultmatrix
