#pragma once
// Helpers for whole updates through the real panel: module settings, running
// the loop until the update ends while watching the progress bar, the
// module's record of erased and programmed ranges, and the panel's idle state.
#include <cmath>
#include <cstring>
#include <functional>
#include <utility>
#include <vector>
#include <gtest/gtest.h>
#include "tests/PanelHarness.h"

namespace flow
{
/** The completion box's text. */
inline const juce::String kCompleted ("It is Completed,Please Restart Device\n");

/** A byte range: address and length. */
using Range = std::pair<uint64_t, uint64_t>;

/** Settings of a module like the harness's, with its chip and the pages its chips sit at. */
inline SimModuleConfig ModuleConfig (SimMode mode, int fsFlag = 1, const juce::String& chip = "KV29F064",
                                     std::vector<int> chipPages = { 0 })
{
    SimModuleConfig c;
    c.startMode = mode;
    c.fsFlag = fsFlag;
    c.chipName = chip;
    c.chipPages = std::move (chipPages);
    c.restartAbsenceMs = 200;
    c.portsInsertedOnReturn = 1;
    return c;
}

/** The ranges the module programmed, in order (writes of several blocks are one range). */
inline std::vector<Range> Programmed (const SimulatedModule& m)
{
    std::vector<Range> out;
    for (const auto& op : m.operations())
        if (op.kind == SimFlashOp::Program)
            out.push_back ({ op.address, op.length });
    return out;
}

/** The sector addresses the module erased, in order. */
inline std::vector<uint64_t> Erased (const SimulatedModule& m)
{
    std::vector<uint64_t> out;
    for (const auto& op : m.operations())
        if (op.kind == SimFlashOp::Erase)
            out.push_back (op.address);
    return out;
}

/** Sector addresses from `from` up to `to` in steps of `size`. */
inline std::vector<uint64_t> Sectors (uint64_t from, uint64_t to, uint64_t size)
{
    std::vector<uint64_t> out;
    for (uint64_t a = from; a < to; a += size)
        out.push_back (a);
    return out;
}

/** Whether the flash holds `bytes[from, from + n)` at `flashAddress`; names the first difference. */
inline ::testing::AssertionResult FlashHolds (const SimulatedModule& m, uint64_t flashAddress,
                                              const std::vector<uint8_t>& bytes, size_t from, size_t n)
{
    if (from + n > bytes.size())
        return ::testing::AssertionFailure() << "range beyond the file";
    const auto flash = m.readFlash (flashAddress, n);
    if (std::memcmp (flash.data(), bytes.data() + from, n) == 0)
        return ::testing::AssertionSuccess();
    size_t i = 0;
    while (flash[i] == bytes[from + i])
        ++i;
    return ::testing::AssertionFailure() << "flash at 0x" << std::hex << (flashAddress + i) << " holds 0x"
                                         << (int) flash[i] << ", the file 0x" << (int) bytes[from + i];
}

/** Whether the flash holds one byte value over a range. */
inline bool FlashIsAll (const SimulatedModule& m, uint64_t flashAddress, size_t n, uint8_t value)
{
    for (auto b : m.readFlash (flashAddress, n))
        if (b != value)
            return false;
    return true;
}

/** What the progress bar showed while the loop ran. */
struct ProgressWatch
{
    double last = 0.0;          ///< the last value seen
    double highest = 0.0;       ///< the highest value seen
    bool wentBack = false;      ///< a value below an earlier one was seen (before the end)
    bool invalid = false;       ///< a value outside 0..1 or not a number was seen
};

/** Runs the loop until the panel has shown `boxCount` boxes in all, watching the
    progress bar and calling `onTick` on every turn. False after the bound. */
inline bool RunUntilBoxes (PanelHarness& h, size_t boxCount, int boundMs, ProgressWatch* watch = nullptr,
                           const std::function<void()>& onTick = {})
{
    return RunLoopUntil ([&]
    {
        if (watch != nullptr && h.boxes.size() < boxCount)
        {
            const double p = h.panel->GetProgress();
            if (std::isnan (p) || p < 0.0 || p > 1.0)
                watch->invalid = true;
            else
            {
                if (p < watch->last)
                    watch->wentBack = true;
                watch->last = p;
                watch->highest = std::max (watch->highest, p);
            }
        }
        if (onTick)
            onTick();
        return h.boxes.size() >= boxCount;
    }, boundMs);
}

/** Sees the clicks of a button and whether the module showed as connected then
    (the connection state changes only on the message thread, between messages). */
struct ClickProbe : juce::Button::Listener
{
    int clicks = 0;            ///< clicks seen
    bool connected = false;    ///< the module showed as connected at the last click
    /** Counts the click. */
    void buttonClicked (juce::Button*) override
    {
        ++clicks;
        connected = g_bConnected.load();
    }
};

/** Presses "Program" as a user would once the module shows as connected, and again
    when the click came between two probe cycles, when "Program" does nothing.
    Returns whether a click reached a connected panel (or showed a box). */
inline ::testing::AssertionResult Press (PanelHarness& h)
{
    auto* button = h.panel->GetProgramButton();
    ClickProbe probe;
    button->addListener (&probe);
    bool tookEffect = false;
    for (int attempt = 0; attempt < 5 && ! tookEffect; ++attempt)
    {
        if (! h.WaitConnected (15000))
            break;
        const int clicks = probe.clicks;
        const auto boxes = h.boxes.size();
        h.PressProgram();
        RunLoopUntil ([&] { return probe.clicks > clicks; }, 3000);
        tookEffect = probe.clicks > clicks && (probe.connected || h.boxes.size() > boxes);
    }
    button->removeListener (&probe);
    if (! tookEffect)
        return ::testing::AssertionFailure() << "\"Program\" never reached a connected panel";
    return ::testing::AssertionSuccess();
}

/** Whether the update flow is at rest: no update phase, no step running or waiting. */
inline ::testing::AssertionResult FlowAtRest (PanelHarness& h)
{
    if (g_nJobPhase != 0)
        return ::testing::AssertionFailure() << "update phase " << (int) g_nJobPhase.load();
    auto& runner = h.panel->GetJobRunner();
    if (runner.GetCurrentStep() != nullptr || runner.GetNextIndex() < runner.GetStepCount())
        return ::testing::AssertionFailure() << "a step is running or waiting";
    return ::testing::AssertionSuccess();
}

/** Whether the panel has come back after a failure: the update flow at rest, the
    module connected and "Program" enabled again; after a stopped job also the
    type lists enabled again (the driver search's own ends only restart the connection). */
inline ::testing::AssertionResult BackToConnected (PanelHarness& h, bool afterStoppedJob = true, int boundMs = 15000)
{
    if (! h.WaitConnected (boundMs))
        return ::testing::AssertionFailure() << "not connected again; status \"" << h.panel->GetStatusText() << "\"";
    if (auto rest = FlowAtRest (h); ! rest)
        return rest;
    if (afterStoppedJob && (! h.panel->GetMCUCombo()->isEnabled() || ! h.panel->GetFlashTypeCombo()->isEnabled()))
        return ::testing::AssertionFailure() << "the type lists stay disabled";
    if (h.panel->GetProgress() != 0.0)
        return ::testing::AssertionFailure() << "progress " << h.panel->GetProgress();
    return ::testing::AssertionSuccess();
}

/** The texts of the boxes shown so far, one per line (for failure messages). */
inline std::string BoxTexts (const PanelHarness& h)
{
    juce::String s;
    for (auto& b : h.boxes)
        s << "[" << b.text.trimEnd() << "] ";
    return s.toStdString();
}

/** The state of the update flow, the panel and the module, for a failure message. */
inline std::string Diagnose (const PanelHarness& h, const SimulatedModule* m = nullptr)
{
    juce::String s;
    s << "phase " << (int) g_nJobPhase.load() << ", status \"" << h.panel->GetStatusText() << "\", step "
      << h.panel->GetJobRunner().GetNextIndex() << " of " << h.panel->GetJobRunner().GetStepCount()
      << ", boxes " << BoxTexts (h);
    if (m != nullptr)
        s << ", module: drivers " << m->receivedCount (SimCommand::LoadDriver) << ", checks "
          << m->receivedCount (SimCommand::CheckFlash) << ", erases " << m->receivedCount (SimCommand::EraseSector)
          << ", blocks " << m->receivedCount (SimCommand::ProgramBlock) << ", reads " << m->receivedCount (SimCommand::ReadBlock);
    s << "\nlog:\n" << h.panel->GetLogText().getLastCharacters (2000);
    return s.toStdString();
}

/** Whether the log holds the last workflow's text alone, as its Clear left it: the
    range check's note on the length (written as the workflow started, so after the
    Clear), its first step's "Sending flash driver...\n", and at the end the elapsed
    time "hh:mm:ss.mmm". */
inline bool IsJobLog (const juce::String& log)
{
    if (! log.startsWith ("Program length is set to ") || ! log.endsWithChar ('\n')
        || ! log.fromFirstOccurrenceOf ("\n", false, false).startsWith ("Sending flash driver...\n"))
        return false;
    const auto line = log.dropLastCharacters (1).fromLastOccurrenceOf ("\n", false, false);
    if (line.length() != 12)
        return false;
    for (int i = 0; i < 12; ++i)
    {
        const auto c = line[i];
        const bool sep = i == 2 || i == 5 || i == 8;
        if (sep ? c != (i == 8 ? '.' : ':') : ! juce::CharacterFunctions::isDigit (c))
            return false;
    }
    return true;
}

/** Milliseconds of an elapsed-time line "hh:mm:ss.mmm". */
inline int64_t ElapsedMs (const juce::String& log)
{
    const auto line = log.dropLastCharacters (1).fromLastOccurrenceOf ("\n", false, false);
    return ((line.substring (0, 2).getLargeIntValue() * 60 + line.substring (3, 5).getLargeIntValue()) * 60
            + line.substring (6, 8).getLargeIntValue()) * 1000 + line.substring (9, 12).getLargeIntValue();
}

/** Commands of a kind the module received before the first command of another kind. */
inline int CountBefore (const SimulatedModule& m, SimCommand kind, SimCommand before)
{
    int n = 0;
    for (const auto& r : m.received())
    {
        if (r.kind == before)
            break;
        n += r.kind == kind ? 1 : 0;
    }
    return n;
}
} // namespace flow
