// The log sink and pane: text arrives in order, as formatted, from any thread.
#include <gtest/gtest.h>
#include <thread>
#include "store/shared/Notifications.h"
#include "StoreLogCapture.h"
#include "store/RunLog.h"
#include "tests/PlatformTestFolder.h"

using namespace storetest;

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
    auto runs = [&file]
    {
        const auto text = file.loadFileAsString();
        int n = 0;
        for (int at = text.indexOf (RunLog::kRunMark); at >= 0; at = text.indexOf (at + 1, RunLog::kRunMark))
            ++n;
        return n;
    };

    // What the sink is given, the boxes with their causes and the ports once, from any thread.
    ASSERT_TRUE (RunLog::Start (file, "kestrava-cli V3.00", "kestrava-cli update a.bin"));
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
        ASSERT_TRUE (RunLog::Start (file, "Kestrava V3.00", "run " + juce::String (i)));
        RunLog::End();
    }
    EXPECT_EQ (runs(), RunLog::kKeptRuns);
    EXPECT_FALSE (file.loadFileAsString().contains ("update a.bin"));
    EXPECT_TRUE (file.loadFileAsString().contains ("run " + juce::String (RunLog::kKeptRuns + 3)));

    // A run that writes more than the file may hold is cut, and the next run
    // finds room: the older runs give way.
    ASSERT_TRUE (RunLog::Start (file, "Kestrava V3.00", "a long run"));
    const juce::String line = juce::String::repeatedString ("x", 999) + "\n";
    for (juce::int64 written = 0; written < 2 * RunLog::kMaxFileBytes; written += line.length())
        RunLog::Append (line);
    RunLog::End();
    EXPECT_LE (file.getSize(), RunLog::kMaxFileBytes + 200);
    EXPECT_TRUE (file.loadFileAsString().contains ("cut here"));
    ASSERT_TRUE (RunLog::Start (file, "Kestrava V3.00", "after the long run"));
    RunLog::AppendLine ("still written");
    RunLog::End();
    EXPECT_TRUE (file.loadFileAsString().contains ("after the long run\nstill written\n"));
    EXPECT_LE (file.getSize(), RunLog::kMaxFileBytes);
}
