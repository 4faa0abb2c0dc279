// The log sink and pane: text arrives in order, as formatted, from any thread.
#include <gtest/gtest.h>
#include <thread>
#include "store/shared/Notifications.h"
#include "StoreLogCapture.h"

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
