// The log sink and pane: text arrives in order, as formatted, from any thread.
#include <gtest/gtest.h>
#include <atomic>
#include <sys/stat.h>
#include <unistd.h>
#include <thread>
#include "store/shared/Notifications.h"
#include "StoreLogCapture.h"
#include "store/RunLog.h"
#include "platform/FileLock.h"
#include "tests/PlatformTestFolder.h"

using namespace storetest;

namespace
{
    int CountRuns (const juce::String& text)
    {
        int n = 0;
        for (int at = text.indexOf (RunLog::kRunMark); at >= 0; at = text.indexOf (at + 1, RunLog::kRunMark))
            ++n;
        return n;
    }

    /** Old runs of `bytes` each, numbered from 1. */
    juce::String OldRuns (int count, int bytes)
    {
        juce::String text;
        for (int i = 1; i <= count; ++i)
            text << RunLog::kRunMark << "old run " << i << "\n" << juce::String::repeatedString ("o", bytes) << "\n";
        return text;
    }
}

TEST (StoreLogger, TextArrivesInOrderAndRunsOnWithoutALineBreak)
{
    LogCapture c;
    c.log.Print ("Read OK.\n");
    c.log.Print ("Erase finished.\n");
    c.log.Print ("No flash driver found.");
    c.log.Print ("Programming %x\n", 0x1F000);
    c.log.PrintW (L"Can't open file %s\n", L"drv.bin");
    c.log.PrintW (L"%hs=%d%c\n", "narrow", 7, L'!');
    c.log.PrintW (L"Can't open file %s\n", L"Tr\u00e4iber \u2713.bin");
    EXPECT_EQ (c.Text(), juce::String (juce::CharPointer_UTF8 (
                             "Read OK.\nErase finished.\nNo flash driver found.Programming 1f000\n"
                             "Can't open file drv.bin\nnarrow=7!\nCan't open file Tr\xc3\xa4iber \xe2\x9c\x93.bin\n")));
}

TEST (StoreLogger, LongTextIsCutAt1023Characters)
{
    LogCapture c;
    const std::string narrow (2000, 'n');
    c.log.Print ("%s", narrow.c_str());
    EXPECT_EQ (c.Text(), juce::String (std::string (1023, 'n')));
    c.pane.clear();

    const std::wstring wide (2000, L'w');
    c.log.PrintW (L"%s", wide.c_str());
    EXPECT_EQ (c.Text(), juce::String (std::string (1023, 'w')));
    c.pane.clear();

    // The cut never leaves half a character behind.
    c.log.Print ("%s\xc3\xa9tail", std::string (1022, 'a').c_str());
    EXPECT_EQ (c.Text(), juce::String (std::string (1022, 'a')));
}

TEST (StoreLogger, NarrowTextThatIsNoUtf8IsShownAsLatin1)
{
    LogCapture c;
    c.log.Print ("K\xe9stra \xc3\xa9\n");
    EXPECT_EQ (c.Text(), juce::String (juce::CharPointer_UTF8 ("K\xc3\xa9stra \xc3\xa9\n")));
}

TEST (StoreLogger, NewTextGoesToTheEndWhateverTheUserSelected)
{
    LogCapture c;
    c.log.Print ("first line\n");
    ASSERT_EQ (c.Text(), "first line\n");
    c.pane.setHighlightedRegion ({ 0, 5 });
    c.log.Print ("second\n");
    EXPECT_EQ (c.Text(), "first line\nsecond\n");
    c.pane.setCaretPosition (3);
    c.log.Print ("third\n");
    EXPECT_EQ (c.Text(), "first line\nsecond\nthird\n");
    EXPECT_EQ (c.pane.getCaretPosition(), c.pane.getTotalNumChars());
}

TEST (StoreLogger, TextFromAnotherThreadArrivesInOrder)
{
    LogCapture c;
    juce::String expected;
    for (int i = 0; i < 300; ++i)
        expected << "line " << i << "\n";

    std::thread writer ([&c] {
        for (int i = 0; i < 300; ++i)
            c.log.Print ("line %d\n", i);
    });
    writer.join();
    EXPECT_EQ (c.Text(), expected);
}

TEST (StoreLogger, ClearEmptiesThePaneAndRestoresThePlainFont)
{
    LogCapture c;
    juce::String mirrored;
    c.pane.SetMirror ([&] (const juce::String& t) { mirrored += t; });
    c.log.Print ("old\n");
    ASSERT_EQ (c.Text(), "old\n");
    c.pane.setFont (juce::Font (30.0f, juce::Font::bold));
    // Text posted before the Clear but not delivered yet appears after it.
    c.log.Print ("posted before\n");
    c.log.Clear();
    EXPECT_TRUE (c.pane.isEmpty());
    c.log.Print ("new\n");
    EXPECT_EQ (c.Text(), "posted before\nnew\n");
    EXPECT_FLOAT_EQ (c.pane.getFont().getHeight(), 14.0f);
    EXPECT_FALSE (c.pane.getFont().isBold());

    // A workflow that starts on a finished step clears: the text delivered before
    // that step's notification goes, though the pane held it back for the step.
    struct Workflow : juce::MessageListener
    {
        CLogger* log = nullptr;
        bool started = false;
        void handleMessage (const juce::Message& m) override
        {
            if (auto* n = AsNotify (m))
                n->Taken();
            started = true;
            log->Clear();
            log->Print ("Sending flash driver...\n");
        }
    };
    Workflow workflow;
    workflow.log = &c.log;
    c.pane.clear();
    c.log.Print ("Check flash OK.\n");
    workflow.postMessage (new NotifyMessage (kStepDoneMessage));
    c.log.Print ("posted behind the step\n");
    ASSERT_TRUE (RunLoopUntil ([&] { return workflow.started; }));
    EXPECT_EQ (c.Text(), "posted behind the step\nSending flash driver...\n");
    // What a Clear drops still reaches the mirror, in its place.
    EXPECT_TRUE (mirrored.contains ("Check flash OK.\nposted behind the step\nSending flash driver...\n")) << mirrored;
}

TEST (StoreLogger, WithoutAPaneNothingHappensAndOtherMessagesAreIgnored)
{
    CLogger lonely;
    lonely.Print ("dropped\n");
    lonely.Clear();

    LogCapture c;
    c.pane.postMessage (new NotifyMessage (kConnectedMessage, 1, 0, std::make_unique<TextPayload> ("no")));
    c.pane.postMessage (new NotifyMessage (kLogAppendMessage, 0, 0));
    c.log.Print ("yes\n");
    EXPECT_EQ (c.Text(), "yes\n");
}

TEST (StoreLogger, TextGoesIntoThePaneOnlyAfterTheNotificationsWaitingBehindIt)
{
    // What the panel does with a finished step: it sees the pane as it was.
    struct StepListener : juce::MessageListener
    {
        CLogEditor* pane = nullptr;
        juce::StringArray seen;
        void handleMessage (const juce::Message& m) override
        {
            if (auto* n = AsNotify (m))
                n->Taken();
            seen.add (pane->getText());
        }
    };
    LogCapture c;
    StepListener steps;
    steps.pane = &c.pane;
    c.log.Print ("Read finished.\n");
    steps.postMessage (new NotifyMessage (kStepDoneMessage));
    c.log.Print ("Compare OK!\n\n");
    steps.postMessage (new NotifyMessage (kStepDoneMessage));
    ASSERT_TRUE (RunLoopUntil ([&] { return steps.seen.size() == 2; }));
    EXPECT_EQ (steps.seen, juce::StringArray ("", ""));
    EXPECT_EQ (NotifyMessage::Waiting(), 0);
    EXPECT_EQ (c.Text(), "Read finished.\nCompare OK!\n\n");
}

TEST (StoreLogger, EachRunAppendsToTheLogFileWhichKeepsTheLastRunsWithinItsSize)
{
    TestFolder folder;
    const auto file = folder.Child ("state/kestrava.log");   // the folder is made when needed
    auto runs = [&file] { return CountRuns (file.loadFileAsString()); };

    // What the sink is given, the boxes with their causes and the ports once, from any thread.
    RunLog::Start (file, "kestrava-cli V3.00", "kestrava-cli update a.bin");
    {
        LogCapture c;
        c.log.Print ("Time out, retry...1");
        std::thread ([&c] { c.log.Print (",2\n"); }).join();
        RunLog::RecordBox ("Error Code 7\n");
        RunLog::RecordPorts ({ "Module" }, { "Module" });
        RunLog::RecordPorts ({ "Module" }, { "Module" });
        c.Text();
    }
    RunLog::End();
    const auto first = file.loadFileAsString();
    EXPECT_TRUE (first.startsWith ("==== ")) << first;
    EXPECT_TRUE (first.contains ("kestrava-cli V3.00")) << first;
    EXPECT_TRUE (first.contains ("\nkestrava-cli update a.bin\nTime out, retry...1,2\n[box] Error Code 7\nCause: The module stopped answering"))
        << first;
    EXPECT_EQ (first.indexOf ("MIDI ports: in \"Module\"; out \"Module\""), first.lastIndexOf ("MIDI ports:")) << first;
    RunLog::Append ("after the end\n");
    EXPECT_FALSE (file.loadFileAsString().contains ("after the end"));

    // The last runs are kept, the oldest dropped.
    for (int i = 2; i <= RunLog::kKeptRuns + 3; ++i)
    {
        RunLog::Start (file, "Kestrava V3.00", "run " + juce::String (i));
        RunLog::End();
    }
    EXPECT_EQ (runs(), RunLog::kKeptRuns);
    EXPECT_FALSE (file.loadFileAsString().contains ("update a.bin"));
    EXPECT_TRUE (file.loadFileAsString().contains ("run " + juce::String (RunLog::kKeptRuns + 3)));

    // A run that writes more than the file may hold is cut, keeps its last
    // lines, and the next run finds room: the older runs give way.
    RunLog::Start (file, "Kestrava V3.00", "a long run");
    const juce::String line = juce::String::repeatedString ("x", 999) + "\n";
    for (juce::int64 written = 0; written < 2 * RunLog::kMaxFileBytes; written += line.length())
    {
        RunLog::Append (line);
        if (written % (64 * line.length()) == 0)
            RunLog::Flush();   // this test's disk keeps up: nothing is dropped
    }
    RunLog::RecordBox ("Error Code 10\n");
    RunLog::End();
    const auto cut = file.loadFileAsString();
    EXPECT_LE (file.getSize(), RunLog::kMaxFileBytes + 200);
    EXPECT_TRUE (cut.contains ("cut here")) << cut.getLastCharacters (300);
    EXPECT_TRUE (cut.contains (line + "[box] Error Code 10\nCause: ")) << cut.getLastCharacters (300);
    EXPECT_FALSE (cut.contains ("left out here"));
    RunLog::Start (file, "Kestrava V3.00", "after the long run");
    RunLog::AppendLine ("still written");
    RunLog::End();
    EXPECT_TRUE (file.loadFileAsString().contains ("after the long run\nstill written\n"));
    EXPECT_LE (file.getSize(), RunLog::kMaxFileBytes);
}

TEST (StoreLogger, ARunFindsTheFileAsItIsAndLeavesWhatItCannotTrimAsItWas)
{
    struct Case
    {
        const char* what;
        int oldRuns, runBytes;
        bool readOnly;            // the file cannot be replaced: the trim fails
        int firstKept;            // the oldest run left; 0: none
    };
    const Case cases[] = {
        { "a few small runs: all kept", 3, 100, false, 1 },
        { "more runs than kept: the oldest go", 10, 100, false, 10 - RunLog::kKeptRuns + 2 },
        { "a file over 4 MiB: trimmed from its end", 50, 100 * 1024, false, 46 },
        { "a trim that fails: the file stays", 10, 100, true, 1 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.what);
        TestFolder folder;
        const auto file = folder.Child ("kestrava.log");
        ASSERT_TRUE (file.replaceWithText (OldRuns (c.oldRuns, c.runBytes), false, false, "\n"));
        if (c.readOnly)
            ::chmod (file.getFullPathName().toRawUTF8(), 0444);
        RunLog::Start (file, "Kestrava V3.00", "new run");
        RunLog::AppendLine ("the new run's line");
        RunLog::End();
        const auto text = file.loadFileAsString();
        EXPECT_LE (file.getSize(), c.readOnly ? 100 * RunLog::kMaxFileBytes : RunLog::kMaxFileBytes);
        EXPECT_TRUE (text.startsWith (RunLog::kRunMark + juce::String ("old run ") + juce::String (c.firstKept) + "\n"))
            << text.substring (0, 40);
        EXPECT_TRUE (text.contains ("old run " + juce::String (c.oldRuns) + "\n"));
        if (! c.readOnly || ::geteuid() == 0)
        {
            EXPECT_TRUE (text.endsWith ("new run\nthe new run's line\n")) << text.getLastCharacters (80);
        }
    }
}

TEST (StoreLogger, ADiskThatDoesNotTakeTheLogHoldsUpNoCallerAndTheDroppedLinesAreNoted)
{
    TestFolder folder;
    const auto file = folder.Child ("kestrava.log");
    std::atomic<bool> appended { false };
    {
        // Another process's turn at the file that does not end: the writer waits for it.
        const InterProcessFileLock stuck (file.getSiblingFile ("kestrava.log.lock"));
        ASSERT_TRUE (stuck.IsHeld());
        RunLog::Start (file, "Kestrava V3.00", "a slow disk");
        std::thread caller ([&appended]
        {
            for (int i = 0; i < 4 * (int) (RunLog::kQueueBytes / 32); ++i)
                RunLog::Append ("line " + juce::String (i).paddedLeft ('0', 8) + " of the slow disk\n");
            RunLog::RecordBox ("Error Code 20\n");
            appended = true;
        });
        EXPECT_TRUE (RunLoopUntil ([&] { return appended.load(); }, 20000)) << "a caller waited for the disk";
        EXPECT_FALSE (RunLog::Flush (std::chrono::milliseconds (0)));
        caller.join();
    }
    RunLog::End();
    const auto text = file.loadFileAsString();
    EXPECT_TRUE (text.contains ("line 00000000 of the slow disk\n")) << text.getLastCharacters (300);
    EXPECT_TRUE (text.contains (" lines of the log left out here: the disk did not keep up.]\n")) << text.getLastCharacters (300);
    EXPECT_TRUE (text.contains ("the disk did not keep up.]\n[box] Error Code 20\nCause: "))
        << text.getLastCharacters (300);
    EXPECT_LE (file.getSize(), (juce::int64) RunLog::kQueueBytes + 2000);
}

int RunLogWriterChild (const char* file, const char* name, const char* go)
{
    // Waits for the other writer, so that both start (and trim) at once.
    for (int i = 0; i < 10000 && ! juce::File (go).exists(); ++i)
        juce::Thread::sleep (1);
    RunLog::Start (juce::File (file), "writer", name);
    for (int i = 0; i < 3000; ++i)
        RunLog::Append (juce::String (name) + " line " + juce::String (i) + "\n");
    RunLog::End();
    return 0;
}

TEST (StoreLogger, TwoProcessesThatStartTogetherEachKeepEveryLineOfTheirRun)
{
    TestFolder folder;
    const auto file = folder.Child ("kestrava.log");
    // Every start trims: the file holds as many runs as are kept.
    ASSERT_TRUE (file.replaceWithText (OldRuns (RunLog::kKeptRuns, 50 * 1024), false, false, "\n"));
    const auto go = folder.Child ("go");
    const juce::String self = juce::File::getSpecialLocation (juce::File::currentExecutableFile).getFullPathName();
    juce::ChildProcess a, b;
    ASSERT_TRUE (a.start (juce::StringArray { self, "--log-writer-child", file.getFullPathName(), "first", go.getFullPathName() }, 0));
    ASSERT_TRUE (b.start (juce::StringArray { self, "--log-writer-child", file.getFullPathName(), "second", go.getFullPathName() }, 0));
    ASSERT_TRUE (go.create());
    ASSERT_TRUE (a.waitForProcessToFinish (60000) && b.waitForProcessToFinish (60000));
    EXPECT_EQ (a.getExitCode(), 0u);
    EXPECT_EQ (b.getExitCode(), 0u);
    const auto text = file.loadFileAsString();
    for (const char* name : { "first", "second" })
    {
        SCOPED_TRACE (name);
        int at = text.indexOf ("\n" + juce::String (name) + "\n");
        ASSERT_GE (at, 0) << "the run's first line is missing";
        for (int i = 0; i < 3000; ++i)
        {
            at = text.indexOf (at, juce::String (name) + " line " + juce::String (i) + "\n");
            ASSERT_GE (at, 0) << "line " << i << " is missing";
        }
    }
    EXPECT_LE (CountRuns (text), RunLog::kKeptRuns + 1);   // a run trims before the other has written its first line, or after
}
