#include "cli/PortsCommand.h"
#include <algorithm>
#include "store/shared/ProgramHooks.h"
#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/PortWatch.h"
#include "link/Communication.h"

namespace
{
    constexpr int kRepliesMs = 800;     // replies to the later of the two probes come within this
    constexpr int kLongestMs = 4000;    // probing never takes longer

    /** Ends the loop once both probes have been answered or could have been. */
    class ProbeWait : private juce::Timer
    {
    public:
        explicit ProbeWait (PortWatch& w) : watch (w), start (juce::Time::getMillisecondCounter()) { startTimer (50); }
        ~ProbeWait() override { stopTimer(); }

    private:
        void timerCallback() override
        {
            const auto elapsed = juce::Time::getMillisecondCounter() - start;
            const bool noPorts = elapsed >= (juce::uint32) kRepliesMs && watch.Ports().empty();
            if (watch.MsSinceBothProbes() >= kRepliesMs || elapsed >= (juce::uint32) kLongestMs || noPorts || WasInterrupted())
            {
                stopTimer();
                juce::MessageManager::getInstance()->stopDispatchLoop();
            }
        }

        PortWatch& watch;
        const juce::uint32 start;
    };

    juce::String Describe (const PortWatch::Port& p)
    {
        const auto route = p.route.isEmpty() ? juce::String() : " (" + p.route + ")";
        if (! p.opened)
            return "not opened" + route;
        if (p.answer.isEmpty())
            return "no answer" + route;
        return "answers in " + p.answer + " mode" + (p.answer == "loader" ? (p.fs ? " (FS)" : " (HS)") : "") + route;
    }
}

std::shared_ptr<PortWatch> ProbePorts (std::shared_ptr<MidiPortSource> source)
{
    auto watch = std::make_shared<PortWatch> (std::move (source));
    SetMidiPortSource (watch);
    SetQuitHook ([] { juce::MessageManager::getInstance()->stopDispatchLoop(); });
    {
        // The device link probes as it always does; the watch notes who answers.
        Communication link;
        link.Connect();
        ProbeWait wait (*watch);
        juce::MessageManager::getInstance()->runDispatchLoop();
        link.Shutdown();
    }
    SetQuitHook (nullptr);
    SetMidiPortSource (nullptr);
    return WasInterrupted() ? nullptr : watch;
}

int RunPortsCommand (EventPrinter& printer, std::shared_ptr<MidiPortSource> source)
{
    const auto watch = ProbePorts (std::move (source));
    if (watch == nullptr)
    {
        printer.Error (0, "kestrava-cli: interrupted; the ports are closed");
        return CliExit::kInterrupted;
    }

    const auto ports = watch->Ports();
    // Identical cards have identical names: the identifier (what --port takes) tells them apart.
    const auto shown = [&ports] (const PortWatch::Port& p)
    {
        const auto alike = std::count_if (ports.begin(), ports.end(), [&p] (const PortWatch::Port& o) { return o.name == p.name; });
        return alike > 1 ? p.name + " (" + p.identifier + ")" : p.name;
    };
    int width = 0;
    for (auto& p : ports)
        width = std::max (width, shown (p).length());
    for (auto& p : ports)
    {
        juce::NamedValueSet f;
        f.set ("name", p.name);
        f.set ("backend", p.backend);
        f.set ("identifier", p.identifier);
        if (p.location.isNotEmpty())
            f.set ("location", p.location);
        f.set ("input", p.input);
        f.set ("output", p.output);
        f.set ("opened", p.opened);
        if (p.route.isNotEmpty())
            f.set ("route", p.route);
        f.set ("answer", p.answer.isEmpty() ? juce::var() : juce::var (p.answer));
        if (p.answer == "loader")
            f.set ("fs", p.fs);
        const juce::String kinds = p.input && p.output ? "in, out" : p.input ? "in" : "out";
        printer.Record ("port", shown (p).paddedRight (' ', width) + "  " + kinds.paddedRight (' ', 7) + "  " + Describe (p), f);
    }
    if (ports.empty())
        printer.Record ({}, "No MIDI ports.", {});
    return CliExit::kOk;
}
