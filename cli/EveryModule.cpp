#include "cli/EveryModule.h"
#include <memory>
#include <vector>
#include "cli/EventPrinter.h"
#include "cli/EventReplay.h"
#include "cli/ExitStatus.h"
#include "cli/Interrupt.h"
#include "cli/ModuleBoard.h"
#include "cli/ModuleChild.h"
#include "cli/ModulePlan.h"
#include "cli/ModuleSummary.h"
#include "cli/PortFilter.h"
#include "cli/PortsCommand.h"

namespace
{
    constexpr int kRedrawMs = 200;

    double NowMs() { return juce::Time::getMillisecondCounterHiRes(); }

    /** One module and its process. */
    struct ModuleRun
    {
        ModuleTarget target;
        ModuleResult result;
        std::unique_ptr<ModuleChild> child;
        std::unique_ptr<EventPrinter> printer;   // its events, when they are printed (no board)
        double startMs = 0;
        juce::String lastLine;                   // the last line it printed that was no event
    };

    /** The command line of the process that works on the module behind `port`. */
    juce::StringArray ChildArguments (const CliOptions& o, const juce::String& port)
    {
        juce::StringArray args { juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName(),
                                 "--json", "--port", port, "--no-log", "--verbose" };
        if (o.dataFolder != juce::File())
            args.addArray ({ "--data", o.dataFolder.getFullPathName() });
        if (o.simulate)
            args.add ("--simulate");
        if (o.simulatedFlash != juce::File())
            args.addArray ({ "--simulate-flash", o.simulatedFlash.getFullPathName() });
        if (o.simulatedModules > 1)
            args.addArray ({ "--simulate-modules", juce::String (o.simulatedModules) });
        if (o.simulatedUnplug > 0)
            args.addArray ({ "--simulate-unplug", juce::String (o.simulatedUnplug) });
        if (o.simulatedLostAnswers > 0)
            args.addArray ({ "--simulate-lost-answers", juce::String (o.simulatedLostAnswers) });
        if (o.simulatedLateRead > 0)
            args.addArray ({ "--simulate-late-read", juce::String (o.simulatedLateRead) + ":" + juce::String (o.simulatedLateMs) });
        if (o.simulatedLossyBuffer > 0)
            args.addArray ({ "--simulate-lossy-buffer", juce::String (o.simulatedLossyBuffer) });
        if (o.pace)
            args.addArray ({ "--pace", PaceChoiceText (*o.pace) });
        if (o.onlyChanged)
            args.add (*o.onlyChanged ? "--only-changed" : "--full");
        args.addArray ({ o.command, "--", juce::File::getCurrentWorkingDirectory().getChildFile (o.arguments[0]).getFullPathName() });
        return args;
    }

    class EveryModuleRun
    {
    public:
        EveryModuleRun (const CliOptions& o, EventPrinter& top) : options (o), printer (top)
        {
            const auto style = EventPrinter::StyleFor (o.json);
            useBoard = style == EventPrinter::Style::Terminal && ! o.quiet && ! o.verbose;
            lineStyle = style == EventPrinter::Style::Terminal ? EventPrinter::Style::Lines : style;
        }

        /** Plans, runs and waits for every module; the exit status. */
        int Run (const std::vector<ModuleTarget>& targets)
        {
            juce::StringArray labels;
            for (auto& t : targets)
            {
                auto& run = runs.emplace_back();
                run.target = t;
                run.result.port = t.port.isNotEmpty() ? t.port : t.input.identifier;
                run.result.label = t.Label();
                run.printer = std::make_unique<EventPrinter> (lineStyle, options.quiet, options.verbose);
                run.printer->SetPort (run.result.port, run.result.label);
                run.printer->RecordInRunLog();
                labels.add (run.result.label);
            }
            if (useBoard)
                board = std::make_unique<ModuleBoard> (stdout, labels);

            for (size_t i = 0; i < runs.size(); ++i)
                Start ((int) i);
            if (board != nullptr)
                board->Draw();
            WaitForAll();
            if (board != nullptr)
                board->Draw();

            std::vector<ModuleResult> results;
            for (auto& run : runs)
                results.push_back (run.result);
            Summarise (results);
            return WasInterrupted() ? CliExit::kInterrupted : OverallStatus (results);
        }

    private:
        void Start (int i)
        {
            auto& run = runs[(size_t) i];
            if (run.target.refusal.isNotEmpty())
            {
                // Refused before anything is sent to it.
                Finish (i, CliExit::kFailed, run.target.refusal, true);
                return;
            }
            run.child = std::make_unique<ModuleChild>();
            run.startMs = NowMs();
            if (! run.child->Start (ChildArguments (options, run.target.processPort), wake))
            {
                run.child.reset();
                Finish (i, CliExit::kFailed, "its kestrava-cli process could not be started", false);
            }
        }

        void WaitForAll()
        {
            bool stopAsked = false;
            double lastDraw = NowMs();
            for (;;)
            {
                bool running = false;
                for (size_t i = 0; i < runs.size(); ++i)
                    running = Poll ((int) i) || running;
                if (! running)
                    return;
                // Ctrl-C: every process is stopped as a single run is.
                if (WasInterrupted() && ! stopAsked)
                {
                    stopAsked = true;
                    for (auto& run : runs)
                        if (run.child != nullptr)
                            run.child->AskToStop();
                }
                if (board != nullptr && NowMs() - lastDraw >= kRedrawMs)
                {
                    board->Draw();
                    lastDraw = NowMs();
                }
                wake.wait (kRedrawMs);
            }
        }

        /** Takes what module `i` printed; whether its process still runs. */
        bool Poll (int i)
        {
            auto& run = runs[(size_t) i];
            if (run.child == nullptr)
                return false;
            const bool ended = run.child->OutputEnded();   // before the lines: they are all in once it is set
            for (auto& line : run.child->TakeLines())
                Take (i, line);
            if (! ended)
                return true;
            const int status = run.child->Wait();
            run.child.reset();
            juce::String reason = run.result.reason;
            if (status != CliExit::kOk && reason.isEmpty())
                reason = status == CliExit::kInterrupted ? juce::String ("interrupted")
                       : run.lastLine.isNotEmpty()        ? run.lastLine
                                                          : "ended with status " + juce::String (status);
            Finish (i, status, status == CliExit::kOk ? juce::String() : reason, false);
            return false;
        }

        /** One line of module `i`'s process: an event, or text (its standard error). */
        void Take (int i, const juce::String& line)
        {
            auto& run = runs[(size_t) i];
            const auto event = juce::JSON::parse (line);
            const auto kind = event["event"].toString();
            if (! event.isObject() || kind.isEmpty())
            {
                if (line.trim().isNotEmpty())
                    run.lastLine = line.trim();
                return;
            }
            if (kind == "error")
            {
                run.result.code = juce::jmax (run.result.code, (int) event["code"]);
                const juce::String program ("kestrava-cli: ");
                const auto text = event["text"].toString().trimEnd();
                run.result.reason = text.startsWith (program) ? text.substring (program.length()) : text;
            }
            else if (kind == "done" && (int) event["status"] == CliExit::kDifferent)
            {
                run.result.reason = event["text"].toString().trimEnd();
            }
            if (board == nullptr)
            {
                ReplayEvent (event, *run.printer);
                return;
            }
            if (kind == "connected")
                board->Phase (i, "connected");
            else if (kind == "phase")
                board->Phase (i, event["phase"].toString());
            else if (kind == "progress")
                board->Progress (i, (int64_t) (juce::int64) event["done"], (int64_t) (juce::int64) event["total"]);
            else if (kind == "error" || kind == "warning")
                board->PrintAbove (stderr, run.result.label + ": " + (kind == "warning" ? "Warning: " : "")
                                               + event["text"].toString().trimEnd());
        }

        void Finish (int i, int status, const juce::String& reason, bool refused)
        {
            auto& run = runs[(size_t) i];
            auto& r = run.result;
            r.status = status;
            r.refused = refused;
            r.reason = reason;
            r.seconds = refused ? 0.0 : (NowMs() - run.startMs) / 1000.0;
            r.endOrder = refused ? 0 : ++ended;
            if (refused || run.startMs == 0)
                run.printer->Error (0, "kestrava-cli: " + (refused ? "refused: " : juce::String()) + reason);
            if (board != nullptr)
                board->End (i, ResultWord (r) + (reason.isNotEmpty() ? ": " + reason : juce::String())
                                   + (refused ? juce::String() : " (" + ProgressMeter::Minutes ((int) (r.seconds + 0.5)) + ")"));
        }

        void Summarise (const std::vector<ModuleResult>& results)
        {
            if (EventPrinter::StyleFor (options.json) == EventPrinter::Style::Json)
            {
                printer.Emit ("summary", SummaryFields (results));
                return;
            }
            if (options.quiet)
            {
                if (OverallStatus (results) != CliExit::kOk)
                    printer.Error (0, "kestrava-cli: " + SummarySentence (results));
                return;
            }
            for (auto& line : SummaryLines (results))
                printer.Record ({}, line, {});
        }

        const CliOptions& options;
        EventPrinter& printer;
        bool useBoard = false;
        EventPrinter::Style lineStyle = EventPrinter::Style::Lines;
        juce::WaitableEvent wake;             // the reading threads signal it: it outlives them
        std::vector<ModuleRun> runs;
        std::unique_ptr<ModuleBoard> board;
        int ended = 0;
    };
}

int RunEveryModule (const CliOptions& options, std::shared_ptr<MidiPortSource> source)
{
    EventPrinter printer (EventPrinter::StyleFor (options.json), options.quiet, options.verbose);

    // Two --port texts that select one port would reach its module twice.
    auto probed = source;
    if (! options.ports.isEmpty())
    {
        probed = std::make_shared<PortFilter> (source, options.ports);
        if (const auto why = SharedSelection (options.ports, probed->listPorts()); why.isNotEmpty())
        {
            PrintUsageError (options.command, why);
            return CliExit::kUsage;
        }
    }

    const auto watch = ProbePorts (probed);
    if (watch == nullptr)
    {
        printer.Error (0, "kestrava-cli: interrupted; the ports are closed");
        return CliExit::kInterrupted;
    }
    // Each process names its module's ports among all the ports there are.
    const auto targets = PlanModules (source->listPorts(), watch->Answers());
    if (targets.empty())
    {
        printer.Error (0, "kestrava-cli: no module answered the probe", FindExitStatus (CliExit::kNoModule));
        return CliExit::kNoModule;
    }
    if (! options.quiet)
        printer.Record ({}, juce::String (targets.size()) + (targets.size() == 1 ? " module answers." : " modules answer."), {});
    return EveryModuleRun (options, printer).Run (targets);
}
