// kestrava-cli run as a process against the simulated module: an update,
// then verifies and a read in later runs that see the same flash through
// --simulate-flash, --json events in order, failures with their statuses,
// and --all on several simulated modules, one process each.
#include <cstdlib>
#include <map>
#include <gtest/gtest.h>
#include <juce_core/juce_core.h>
#include "tests/PlatformTestFolder.h"
#include "store/RunLog.h"

namespace
{
    /** What one run of the program gave. */
    struct CliRun
    {
        int status = -1;          ///< exit status; -1: it did not end within the bound
        juce::String output;      ///< stdout and stderr together
    };

    /** Runs kestrava-cli with these arguments and waits for its end. */
    CliRun RunCli (const juce::StringArray& args, int boundMs = 120000)
    {
        juce::StringArray command (KESTRAVA_CLI_PATH);
        command.addArray (args);
        juce::ChildProcess process;
        CliRun run;
        if (! process.start (command, juce::ChildProcess::wantStdOut | juce::ChildProcess::wantStdErr))
            return run;
        run.output = process.readAllProcessOutput();
        if (process.waitForProcessToFinish (boundMs))
            run.status = (int) process.getExitCode();
        else
            process.kill();
        return run;
    }

    /** A data folder with the demo's drivers and fixed files, and images in it. */
    struct CliFolder
    {
        CliFolder()
        {
            const juce::File demo (KESTRAVA_BINARY_DIR "/demo");
            demo.getChildFile ("Drivers").copyDirectoryTo (folder.Child ("Drivers"));
            demo.getChildFile ("QvDoc").copyDirectoryTo (folder.Child ("QvDoc"));
            // The runs log into this folder's state folder, never the user's.
            setenv ("XDG_STATE_HOME", folder.Child ("state").getFullPathName().toRawUTF8(), 1);
        }

        /** The log the runs append to. */
        juce::String Log() const { return folder.Child ("state/kestrava/kestrava.log").loadFileAsString(); }

        /** An image of patterned bytes, "BD" at 0xFFF8 unless `marker` is false,
            and the byte at `flip` (if any) inverted. */
        juce::String Image (const juce::String& name, int size, bool marker = true, int flip = -1) const
        {
            juce::MemoryBlock data ((size_t) size);
            auto* p = static_cast<uint8_t*> (data.getData());
            for (int i = 0; i < size; ++i)
                p[i] = (uint8_t) ((i * 131 + (i >> 9) * 7 + 5) & 0xFF);
            if (marker)
            {
                p[0xFFF8] = 'B';
                p[0xFFF9] = 'D';
            }
            if (flip >= 0)
                p[flip] = (uint8_t) ~p[flip];
            return folder.WriteBytes (name, data.getData(), data.getSize()).getFullPathName();
        }

        /** The options every run against the simulated module takes. */
        juce::StringArray Simulated() const
        {
            return { "--data", folder.Get().getFullPathName(), "--simulate-flash", folder.Child ("flash.img").getFullPathName() };
        }

        storetest::TestFolder folder;
    };

    /** A run against the simulated module and how it must end. */
    struct Expected
    {
        const char* what;          ///< for the failure message
        juce::StringArray args;    ///< command and its arguments
        int status;                ///< exit status
        const char* says;          ///< text the output holds
    };

    /** Runs `e` with the folder's simulated module; whether it ended as expected. */
    ::testing::AssertionResult EndsAsExpected (const CliFolder& f, const Expected& e, CliRun& run)
    {
        auto args = f.Simulated();
        args.addArray (e.args);
        run = RunCli (args);
        if (run.status != e.status || ! run.output.contains (e.says))
            return ::testing::AssertionFailure() << e.what << ": status " << run.status << "\n" << run.output;
        return ::testing::AssertionSuccess();
    }

    /** Every line of `output` that is a JSON object, parsed. */
    std::vector<juce::var> JsonEvents (const juce::String& output)
    {
        std::vector<juce::var> events;
        juce::StringArray lines;
        lines.addLines (output);
        for (auto& line : lines)
            if (line.startsWith ("{"))
                events.push_back (juce::JSON::parse (line));
        return events;
    }

    /** The phases, in order, with "connected" first and "done" last, and
        progress only inside the update phase. */
    ::testing::AssertionResult EventsInOrder (const std::vector<juce::var>& events)
    {
        juce::StringArray seen;
        for (auto& e : events)
        {
            if (! e.isObject())
                return ::testing::AssertionFailure() << "a line that is no JSON object";
            const auto kind = e["event"].toString();
            if (kind == "phase")
                seen.add ("phase " + e["phase"].toString());
            else if (kind == "progress" && ! seen.contains ("progress"))
                seen.add (seen[seen.size() - 1] == "phase update" ? "progress" : "progress outside the update");
            else if (kind == "connected" || kind == "done")
                seen.add (kind + (kind == "done" ? " " + e["status"].toString() : juce::String()));
        }
        const juce::StringArray expected { "connected", "phase loader", "phase driver search", "phase driver found",
                                           "phase update", "progress", "done 0" };
        if (seen != expected)
            return ::testing::AssertionFailure() << "events: " << seen.joinIntoString (", ");
        return ::testing::AssertionSuccess();
    }
}

TEST (CliProcess, AnUpdateIsSeenByVerifiesAndAReadInLaterRuns)
{
    CliFolder f;
    // Above 0x60000 bytes: the model update with its boot image, zero blocks and special driver.
    const auto image = f.Image ("image.bin", 0x70000);
    const auto other = f.Image ("other.bin", 0x70000, true, 0x6A001);
    const auto out = f.folder.Child ("out.bin").getFullPathName();

    const Expected steps[] = {
        { "update", { "--json", "update", image }, 0, "It is Completed,Please Restart Device" },
        { "the same image, only what changed", { "--json", "--only-changed", "update", image }, 0, "already in place" },
        { "verify another image", { "verify", other }, 1, "first at byte 0x6A001 of the image" },
        { "verify the image", { "verify", image }, 0, "The module holds the image." },
        { "read it back", { "read", out, "--offset", "0", "--length", "0x70000" }, 0, "Read 0x70000 bytes" },
        // Unplugged while programming, then sent again: only what is not yet in place is written.
        { "another image, cut off", { "--simulate-unplug", "1", "update", other }, 7, "Error Code 7" },
        { "resumed, only what changed", { "--json", "--only-changed", "update", other }, 0, "already in place" },
        { "verify the other image", { "verify", other }, 0, "The module holds the image." },
    };
    for (const auto& s : steps)
    {
        CliRun run;
        ASSERT_TRUE (EndsAsExpected (f, s, run));
        if (s.args.contains ("--json"))
        {
            const auto events = JsonEvents (run.output);
            EXPECT_TRUE (EventsInOrder (events)) << run.output;
            if (s.args.contains ("--only-changed"))
            {
                // Every byte of the image (and the 64 KiB boot image) counted, less than a full update written.
                const auto& done = events.back();
                EXPECT_EQ ((juce::int64) done["in_place_bytes"] + (juce::int64) done["written_bytes"], 0x80000) << run.output;
                EXPECT_LT ((juce::int64) done["written_bytes"], 0x80000) << run.output;
            }
        }
    }
    EXPECT_TRUE (juce::File (out).hasIdenticalContentTo (juce::File (image)));

    // OnlyChanged of config.ini is the default, --full and --only-changed override it; the file keeps the key as written.
    const auto config = f.folder.Child ("QvDoc/config.ini");
    ASSERT_TRUE (config.replaceWithText ("[Update]\nOnlyChanged=1\n", false, false, "\n"));
    const Expected defaults[] = {
        { "the settings' only what changed", { "update", other }, 0, "already in place" },
        { "--full overrides them", { "--full", "update", other }, 0, "It is Completed,Please Restart Device" },
        { "both", { "--full", "--only-changed", "update", other }, 64, "--only-changed and --full exclude each other" },
    };
    for (const auto& d : defaults)
    {
        CliRun run;
        EXPECT_TRUE (EndsAsExpected (f, d, run));
        EXPECT_EQ (run.output.contains ("already in place"), d.args[0] == "update") << run.output;
    }
    EXPECT_TRUE (config.loadFileAsString().contains ("[Update]\nOnlyChanged=1\n"));
}

TEST (CliProcess, FailuresAndLostAnswersExitWithTheirStatus)
{
    CliFolder f;
    // The image is checked before anything waits for a module: here none answers.
    const juce::String noModule ("--port=no module by this name");
    const auto image = f.Image ("image.bin", 0x20000);
    const Expected cases[] = {
        { "an image without its marker", { noModule, "update", f.Image ("plain.bin", 0x20000, false) }, 24, "Error Code 24" },
        { "no such image", { noModule, "verify", f.folder.Child ("missing.bin").getFullPathName() }, 23, "Error Code 23" },
        { "an odd read offset", { "read", "out.bin", "--offset", "1001" }, 64, "must be even" },
        { "a command that does not exist", { "erase" }, 64, "no command named 'erase'" },
        { "update without an image", { "update" }, 64, "update takes one IMAGE" },
        { "a length that is no number", { "read", "--length", "12g" }, 64, "--length takes a hexadecimal value" },
        { "a pace that is no pace", { "--pace", "256", "ports" }, 64, "--pace takes auto, BYTES:MS" },
        { "a late read without its delay", { "--simulate-late-read", "3", "ports" }, 64, "--simulate-late-read takes N:MS" },
        { "only what changed of a verify", { "--only-changed", "verify", image }, 64, "--only-changed is for update" },
        // Probe answers lost right after "Program" cost nothing; a module that never
        // answers again ends after a minute of unanswered cycles.
        { "one answer lost", { "--simulate-lost-answers", "1", "update", image }, 0, "It is Completed,Please Restart Device" },
        { "two answers lost", { "--simulate-lost-answers=2", "update", image }, 0, "It is Completed,Please Restart Device" },
        // An interface that loses bytes: "auto" steps down once and says what it found.
        { "pacing auto on a lossy interface", { "--simulate-lossy-buffer", "384", "--pace", "auto", "update", image }, 0,
          "Paced 255:85 (found automatically).\nIt is Completed,Please Restart Device" },
        { "no answer after \"Program\"", { "--simulate-lost-answers", "999", "update", image }, 69, "Time Out,Please Check Help." },
        // Every error is followed by its cause and the first thing to try, also as JSON fields.
        { "the cause after the code", { noModule, "update", f.Image ("other.bin", 0x20000, false) }, 24,
          "Error Code 24\nCause: The chosen file is not an image for this module" },
        { "the cause as JSON", { noModule, "--json", "update", f.Image ("third.bin", 0x20000, false) }, 24,
          "\"remedy\": \"Choose the image file meant for the module" },
        { "explain one code", { "explain", "7" }, 0, "  First try:  Turn on automatic pacing, Pace=auto" },
        { "explain a code never shown", { "explain", "12" }, 64, "no error code or exit status 12" },
    };
    for (const auto& c : cases)
    {
        CliRun run;
        EXPECT_TRUE (EndsAsExpected (f, c, run));
    }

    // The runs left their logs in the state folder, the last few of them, with
    // the boxes and their causes; the data folder gained nothing.
    EXPECT_FALSE (f.folder.Child ("QvDoc/kestrava.log").exists());
    const auto log = f.Log();
    int runs = 0;
    for (int at = log.indexOf (RunLog::kRunMark); at >= 0; at = log.indexOf (at + 1, RunLog::kRunMark))
        ++runs;
    EXPECT_GE (runs, 5) << log;
    EXPECT_LE (runs, RunLog::kKeptRuns) << log;
    for (const char* says : { "kestrava-cli V3.00", "MIDI ports: in \"", "[box] Time Out,Please Check Help.",
                              "Cause: No module answered for about a minute.", "[box] Error Code 24" })
        EXPECT_TRUE (log.contains (says)) << says << "\n" << log;
    EXPECT_FALSE (log.contains ("kestrava-cli explain")) << "explain keeps no log";
}

TEST (CliProcess, HelpAnywhereOnTheLinePrintsTheCommandsHelp)
{
    struct Case
    {
        juce::StringArray args;
        const char* usage;   // how the help printed begins
    };
    const Case cases[] = {
        { { "update", "--help" }, "Usage: kestrava-cli [OPTIONS] update IMAGE" },
        { { "update", "-h" }, "Usage: kestrava-cli [OPTIONS] update IMAGE" },
        { { "--all", "update", "image.bin", "--pace", "bad", "-h" }, "Usage: kestrava-cli [OPTIONS] update IMAGE" },
        { { "verify", "--help" }, "Usage: kestrava-cli [OPTIONS] verify IMAGE" },
        { { "--data", "update", "read", "-h", "--no-such-option" }, "Usage: kestrava-cli [OPTIONS] read" },
        { { "ports", "extra", "--help" }, "Usage: kestrava-cli [OPTIONS] ports" },
        { { "explain", "7", "-h" }, "Usage: kestrava-cli [--json] explain" },
        { { "help", "verify", "--help" }, "Usage: kestrava-cli [OPTIONS] verify IMAGE" },
        { { "--help" }, "kestrava-cli: update, read back" },
        { { "--", "--help" }, nullptr },   // after "--" it is a word: no such command
    };
    for (const auto& c : cases)
    {
        const auto run = RunCli (c.args);
        SCOPED_TRACE ((c.args.joinIntoString (" ") + "\n" + run.output).toStdString());
        EXPECT_EQ (run.status, c.usage != nullptr ? 0 : 64);
        EXPECT_TRUE (c.usage == nullptr || run.output.startsWith (c.usage));
    }
}

TEST (CliProcess, AllUpdatesEveryModuleInAProcessOfItsOwnAndOneThatFailsStopsNoOther)
{
    CliFolder f;
    // Three modules alike but for their ports' identifiers; the second is
    // unplugged for good after 64 KiB of the image's 128 KiB group.
    const auto image = f.Image ("image.bin", 0x30000);
    auto args = f.Simulated();
    args.addArray ({ "--simulate-modules", "3", "--simulate-unplug", "2", "--json", "update", "--all", image });
    const auto run = RunCli (args);

    std::map<juce::String, juce::var> ends;   // each module's "done", by port
    juce::var summary;
    for (auto& e : JsonEvents (run.output))
    {
        if (e["event"] == "summary")
            summary = e;
        else
            ASSERT_TRUE (e["port"].toString().startsWith ("bus:")) << "an event without its port: " << juce::JSON::toString (e, true);
        if (e["event"] == "done")
            ends[e["port"].toString()] = e;
    }
    ASSERT_EQ (ends.size(), 3u) << run.output;
    ASSERT_TRUE (summary.isObject()) << run.output;
    int failed = 0;
    for (auto& [port, done] : ends)
        if ((int) done["status"] != 0)
        {
            ++failed;
            EXPECT_EQ (port, "bus:3") << run.output;   // the second module: the bus lists a sound card first
            EXPECT_GT ((int) done["status"], 1);
            EXPECT_EQ (run.status, (int) done["status"]) << "the exit status is the failed module's error code";
        }
    EXPECT_EQ (failed, 1) << run.output;
    EXPECT_EQ ((int) summary["status"], run.status);
    EXPECT_TRUE (summary["text"].toString().startsWith ("2 of 3 modules hold the image. Failed: Kestrava Demo Module (bus:3) (Error Code "))
        << summary["text"].toString();
    for (auto& e : JsonEvents (run.output))
    {
        if (e["event"] == "error")
            EXPECT_TRUE (e["cause"].toString().isNotEmpty()) << juce::JSON::toString (e, true);
    }

    // One log for the run, written by this process: each module's lines carry its port.
    const auto log = f.Log();
    EXPECT_EQ (log.indexOf (RunLog::kRunMark), log.lastIndexOf (RunLog::kRunMark)) << log;
    EXPECT_TRUE (log.contains ("Kestrava Demo Module (bus:3): Error Code ")) << log;
    EXPECT_TRUE (log.contains ("Kestrava Demo Module (bus:2): ")) << log;

    // The others hold the image, the unplugged one not all of it; piped, the summary's table says so.
    // Each process takes the pace it is given: behind interfaces that lose bytes each finds its own,
    // and the port's pace is remembered once.
    args = f.Simulated();
    args.addArray ({ "--simulate-modules", "3", "--simulate-lossy-buffer", "384", "--pace", "auto", "verify", "--all", image });
    const auto verify = RunCli (args);
    EXPECT_EQ (verify.status, 1) << verify.output;
    EXPECT_TRUE (verify.output.contains ("Kestrava Demo Module (bus:2)  completed")) << verify.output;
    EXPECT_TRUE (verify.output.contains ("Kestrava Demo Module (bus:3)  different")) << verify.output;
    EXPECT_TRUE (verify.output.contains ("Kestrava Demo Module (bus:4)  completed")) << verify.output;
    const auto settings = f.folder.Child ("QvDoc/config.ini").loadFileAsString();
    EXPECT_EQ (settings.indexOf ("Found.Kestrava Demo Module=255:85"), settings.lastIndexOf ("Found.")) << settings;
    EXPECT_NE (settings.indexOf ("Found.Kestrava Demo Module=255:85"), -1) << settings;

    // Two --port texts that reach one module are refused before anything is sent.
    args = f.Simulated();
    args.addArray ({ "--simulate-modules", "3", "--port", "bus:2", "--port", "Demo", "update", image });
    const auto twice = RunCli (args);
    EXPECT_EQ (twice.status, 64) << twice.output;
    EXPECT_TRUE (twice.output.contains ("--port 'bus:2' and --port 'Demo' both select Kestrava Demo Module (bus:2)")) << twice.output;
}

TEST (CliProcess, AReadReplyThatComesLateChangesNoCommandsResult)
{
    // The image ends in 64 KiB of erased flash; the module holds it but for its
    // last block. The answer to one read request of the 32 that read it back
    // comes 1.2 s late: had it counted for the next block, each block after it
    // would have been read as the one before, the last one never.
    CliFolder f;
    juce::MemoryBlock bytes;
    juce::File (f.Image ("image.bin", 0x20000)).loadFileAsData (bytes);
    auto* p = static_cast<uint8_t*> (bytes.getData());
    std::fill (p + 0x10000, p + 0x20000, (uint8_t) 0xFF);
    const auto image = f.folder.WriteBytes ("image.bin", p, bytes.getSize()).getFullPathName();
    std::fill (p + 0x1F000, p + 0x20000, (uint8_t) 0x5A);
    const auto held = f.folder.WriteBytes ("held.bin", p, bytes.getSize()).getFullPathName();
    const auto out = f.folder.Child ("out.bin").getFullPathName();

    const Expected steps[] = {
        { "the module takes the image but for its last block", { "update", held }, 0, "It is Completed,Please Restart Device" },
        { "verify", { "--simulate-late-read", "20:1200", "verify", image }, 1, "first at byte 0x1F000 of the image" },
        { "read", { "--simulate-late-read", "20:1200", "read", out, "--offset", "0", "--length", "20000" }, 0, "Read 0x20000 bytes" },
        { "update --all, the first module late", { "--simulate-modules", "3", "--simulate-late-read", "20:1200", "update", "--all", image },
          0, "All 3 modules hold the image." },
    };
    for (const auto& s : steps)
    {
        CliRun run;
        ASSERT_TRUE (EndsAsExpected (f, s, run));
    }
    EXPECT_TRUE (juce::File (out).hasIdenticalContentTo (juce::File (held)));
}

#if defined(__linux__)
TEST (CliProcess, WithoutADisplayTheWindowedProgramsSayItInOneLineAndTheirListingsStillWork)
{
    struct Case { const char* program; const char* option; int status; };
    const Case cases[] = {
        { KESTRAVA_APP_PATH, "", 1 },  { KESTRAVA_APP_PATH, "--list-midi", 0 },
        { KESTRAVA_APP_PATH, "--version", 0 },  { KESTRAVA_APP_PATH, "--help", 0 },
        { KESTRAVA_DEMO_PATH, "", 1 }, { KESTRAVA_DEMO_PATH, "--list-midi", 0 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (juce::String (c.program) + " " + c.option);
        // Only standard error is kept; the shell reports the status, a crash included (128 + signal).
        juce::StringArray command { "env", "-u", "DISPLAY", "-u", "WAYLAND_DISPLAY", "sh", "-c",
                                    "\"$0\" $1 2>&1 >/dev/null; echo \"status=$?\"", c.program, c.option };
        juce::ChildProcess process;
        ASSERT_TRUE (process.start (command, juce::ChildProcess::wantStdOut));
        const auto output = process.readAllProcessOutput();
        ASSERT_TRUE (process.waitForProcessToFinish (60000));
        auto lines = juce::StringArray::fromLines (output.trimEnd());
        ASSERT_FALSE (lines.isEmpty());
        EXPECT_EQ (lines[lines.size() - 1], "status=" + juce::String (c.status)) << output;
        lines.remove (lines.size() - 1);
        if (c.status != 0)
        {
            ASSERT_EQ (lines.size(), 1) << output;
            EXPECT_TRUE (lines[0].contains ("no display could be opened")) << output;
            EXPECT_TRUE (lines[0].contains ("kestrava-cli")) << output;
            EXPECT_TRUE (lines[0].contains ("README")) << output;
        }
    }
}
#endif
