#pragma once
// A device link on the virtual bus for the link's own suites: the link, the
// simulated module(s), and one timeline of everything the link reports
// (notifications, log text, boxes) in the order the message thread sees it.
#include <functional>
#include <memory>
#include <vector>
#include <gtest/gtest.h>
#include "store/shared/ProgramHooks.h"
#include "link/Communication.h"
#include "store/shared/ProgramGlobals.h"
#include "store/shared/Notifications.h"
#include "sim/SimDriverImage.h"
#include "sim/VirtualMidiBus.h"
#include "store/Logger.h"
#include "tests/TestUtil.h"

namespace linktest
{

constexpr int kLogEvent = -1;   // timeline entry holding log text
constexpr int kBoxEvent = -2;   // timeline entry holding a box's text

/** One thing the link reported. */
struct Event
{
    int code = 0;              // notification code, kLogEvent or kBoxEvent
    int arg = 0;               // second int parameter
    int third = 0;             // third int parameter
    bool hasRecord = false;    // a progress record came with it
    int done = 0, total = 0;   // the progress record
    juce::String text;         // log or box text
};

/** Everything reported, in order (message thread only). */
class Timeline
{
public:
    std::vector<Event> events;

    /** Entries with this code (and argument, unless -1) from index `from` on. */
    int Count (int code, int arg = -1, size_t from = 0) const
    {
        int n = 0;
        for (size_t i = from; i < events.size(); ++i)
            n += events[i].code == code && (arg < 0 || events[i].arg == arg) ? 1 : 0;
        return n;
    }
    /** Index of the first entry with this code and argument from `from` on; -1 when none. */
    int Find (int code, int arg = -1, size_t from = 0) const
    {
        for (size_t i = from; i < events.size(); ++i)
            if (events[i].code == code && (arg < 0 || events[i].arg == arg))
                return (int) i;
        return -1;
    }
    /** Index of the log entry that completes `text` in the log from `from` on; -1 when none. */
    int FindLog (const juce::String& text, size_t from = 0) const
    {
        juce::String log;
        for (size_t i = from; i < events.size(); ++i)
            if (events[i].code == kLogEvent)
            {
                log += events[i].text;
                if (log.contains (text))
                    return (int) i;
            }
        return -1;
    }
    /** The log text from index `from` on. */
    juce::String Log (size_t from = 0) const
    {
        juce::String log;
        for (size_t i = from; i < events.size(); ++i)
            if (events[i].code == kLogEvent)
                log += events[i].text;
        return log;
    }
    /** The box texts from index `from` on. */
    juce::StringArray Boxes (size_t from = 0) const
    {
        juce::StringArray boxes;
        for (size_t i = from; i < events.size(); ++i)
            if (events[i].code == kBoxEvent)
                boxes.add (events[i].text);
        return boxes;
    }
    /** The progress records of one kind, as {done, total} pairs. */
    std::vector<std::pair<int, int>> Progress (int kind, size_t from = 0) const
    {
        std::vector<std::pair<int, int>> out;
        for (size_t i = from; i < events.size(); ++i)
            if (events[i].code == kProgressMessage && events[i].arg == kind && events[i].hasRecord)
                out.emplace_back (events[i].done, events[i].total);
        return out;
    }
};

/** Records the link's notifications. */
class Recorder : public juce::MessageListener
{
public:
    explicit Recorder (Timeline& t) : timeline (t) {}
    void handleMessage (const juce::Message& m) override
    {
        const auto* n = AsNotify (m);
        if (n == nullptr)
            return;
        Event e;
        e.code = n->intParameter1;
        e.arg = n->intParameter2;
        e.third = n->intParameter3;
        if (auto* p = n->payloadAs<ProgressRecord>())
        {
            e.hasRecord = true;
            e.done = p->done;
            e.total = p->total;
        }
        timeline.events.push_back (e);
    }

private:
    Timeline& timeline;
};

/** A log pane that also puts each piece of text on the timeline, in its place
    among the link's notifications: each piece is posted on its own, as the
    notifications are, instead of being gathered. */
class RecordingPane : public CLogEditor
{
public:
    explicit RecordingPane (Timeline& t) : timeline (t) {}
    void Append (const juce::String& text) override
    {
        postMessage (new NotifyMessage (kLogAppendMessage, 0, 0, std::make_unique<TextPayload> (text)));
    }
    void handleMessage (const juce::Message& m) override
    {
        if (auto* n = AsNotify (m))
            if (auto* p = n->payloadAs<TextPayload>())
            {
                Event e;
                e.code = kLogEvent;
                e.text = p->text;
                timeline.events.push_back (e);
                CLogEditor::Append (p->text);
                return;
            }
        CLogEditor::handleMessage (m);
    }

private:
    Timeline& timeline;
};

/** Bytes that differ from block to block and from the erased state. */
inline std::vector<uint8_t> Pattern (size_t size, unsigned seed = 1)
{
    std::vector<uint8_t> out (size);
    for (size_t i = 0; i < size; ++i)
        out[i] = (uint8_t) ((i * 131 + (i >> 12) * 7 + seed * 29) & 0xFF);
    return out;
}

/** The chip every rig module carries, and the geometries its drivers describe. */
inline const char* const kChip = "SIM29GL064";
inline const std::vector<SimRegion> kUniform64 { { 64, 128 } };         // 128 x 64 KiB = 8 MiB
inline const std::vector<SimRegion> kBootBlocks { { 8, 8 }, { 64, 127 } };   // 135 sectors, 8 MiB

class Rig
{
public:
    /** An empty bus, a link with its log and listener, hooks set. */
    Rig()
        : folder (juce::File::createTempFile ("kestrava-link"))
    {
        ResetGlobalsForTests();
        folder.createDirectory();
        SetMessageBoxHook ([this] (juce::MessageBoxIconType, const juce::String&, const juce::String& text)
        {
            Event e;
            e.code = kBoxEvent;
            e.text = text;
            timeline.events.push_back (e);
            if (onBox)
                onBox (text);
        });
        SetQuitHook ([this] { ++quits; });
        bus = std::make_shared<VirtualMidiBus>();
        SetMidiPortSource (bus);
        pane.setSize (400, 200);
        logger.SetEditor (&pane);
        link = std::make_unique<Communication>();
        link->SetLogger (&logger);
        link->SetListener (&recorder);
        link->SetWordMode (false);
    }

    ~Rig()
    {
        link.reset();
        PumpMessages (5);
        logger.SetEditor (nullptr);
        SetMessageBoxHook (nullptr);
        SetQuitHook (nullptr);
        SetMidiPortSource (nullptr);
        bus.reset();
        folder.deleteRecursively();
        ResetGlobalsForTests();
    }

    /** A zero-latency module in loader mode (FS unless said otherwise). */
    std::shared_ptr<SimulatedModule> AddModule (SimModuleConfig c = {})
    {
        c.chipName = kChip;
        return bus->addModule (c);
    }

    /** Runs the loop until a notification with this code (and argument) was
        posted `n` times since entry `from`. */
    bool WaitFor (int code, int arg = -1, int n = 1, size_t from = 0, int boundMs = 15000)
    {
        return RunLoopUntil ([&] { return timeline.Count (code, arg, from) >= n; }, boundMs);
    }

    /** Runs the loop until the step ends: done (0 or 1) or stopped (kStepStartMessage 1). */
    bool WaitStepEnd (size_t from, int boundMs = 30000)
    {
        return RunLoopUntil ([&] { return timeline.Count (kStepDoneMessage, -1, from) > 0
                                       || timeline.Count (kStepStartMessage, 1, from) > 0; }, boundMs);
    }

    /** Starts a step and runs the loop until it ends; returns the timeline
        index where it began. `failedAtOnce` receives the start's result. */
    size_t RunStep (const std::function<bool()>& start, bool* failedAtOnce = nullptr, int boundMs = 30000)
    {
        const auto from = Mark();
        const bool failed = start();
        if (failedAtOnce != nullptr)
            *failedAtOnce = failed;
        if (! WaitStepEnd (from, boundMs))
            ADD_FAILURE() << "the step did not end; log: " << timeline.Log (from);
        if (! bus->waitForIdle())
            ADD_FAILURE() << "the bus did not settle";
        return from;
    }

    /** Runs the loop until the log holds this text (from entry `from`). */
    bool WaitLog (const juce::String& text, size_t from = 0, int boundMs = 15000)
    {
        return RunLoopUntil ([&] { return timeline.FindLog (text, from) >= 0; }, boundMs);
    }

    /** The next timeline index (for counting what happens from now on). */
    size_t Mark() const { return timeline.events.size(); }

    /** Connect, wait for the loader's answer, then act as a job would: the
        probe timer stops and the timer becomes the reply watchdog. */
    bool ConnectForJob()
    {
        const auto from = Mark();
        link->Connect();
        if (! WaitFor (kConnectedMessage, -1, 1, from))
            return false;
        link->StopTimer();
        g_nJobPhase = 3;
        return link->HasBoundPair();
    }

    /** Writes bytes to a file in the rig's folder. */
    juce::File WriteFile (const juce::String& name, const std::vector<uint8_t>& bytes)
    {
        auto f = folder.getChildFile (name);
        if (bytes.empty())
            f.replaceWithText ({});   // replaceWithData would delete the file
        else
            f.replaceWithData (bytes.data(), bytes.size());
        return f;
    }

    /** The bytes of a file (empty when missing). */
    static std::vector<uint8_t> ReadFile (const juce::File& f)
    {
        juce::MemoryBlock mb;
        f.loadFileAsData (mb);
        auto* p = static_cast<const uint8_t*> (mb.getData());
        return std::vector<uint8_t> (p, p + mb.getSize());
    }

    /** A driver file for the rig's chip with this geometry, `size` bytes long (0: as short as it gets). */
    juce::File MakeDriver (const std::vector<SimRegion>& regions, size_t size = 0, const juce::String& name = "driver.bin")
    {
        return WriteFile (name, MakeSimDriver ("SIMMCU", kChip, regions, size));
    }

    /** Uploads a driver and waits for its step to end; true when it was accepted. */
    bool UploadDriver (const juce::File& driver)
    {
        const auto from = Mark();
        if (link->SendDriver (driver.getFullPathName().toWideCharPointer()))
            return false;
        return WaitStepEnd (from) && timeline.Count (kStepDoneMessage, 0, from) == 1;
    }

    /** Connects to the loader and uploads a driver of this geometry. */
    bool ReadyForFlash (const std::vector<SimRegion>& regions = kUniform64)
    {
        return ConnectForJob() && UploadDriver (MakeDriver (regions));
    }

    juce::File folder;                             ///< scratch files of the test
    Timeline timeline;                             ///< everything the link reported
    Recorder recorder { timeline };                ///< the link's listener
    RecordingPane pane { timeline };               ///< the log pane
    CLogger logger;                                ///< the link's log
    std::shared_ptr<VirtualMidiBus> bus;           ///< the ports
    std::unique_ptr<Communication> link;           ///< the link under test
    std::function<void (const juce::String&)> onBox;   ///< extra work when a box is shown
    int quits = 0;                                 ///< quit requests seen
};

} // namespace linktest
