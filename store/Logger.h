#pragma once
#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <juce_gui_basics/juce_gui_basics.h>

class CLogEditor;

/** The one log sink. Print, PrintW and Write are safe from any thread: text is
    posted to the pane. The pane must outlive every thread that may still log. */
class CLogger
{
public:
    /** Attaches the pane (message thread); text written before is dropped. */
    void SetEditor (CLogEditor* editor);
    /** printf-style with a narrow format; output cut at 1023 characters. */
    void Print (const char* format, ...)
#if defined(__GNUC__)
        __attribute__ ((format (printf, 2, 3)))
#endif
        ;
    /** printf-style with a wide format; output cut at 1023 characters. As in the
        Windows wide printf family, %s and %c take wide arguments (wchar_t*),
        %hs and %S narrow ones. */
    void PrintW (const wchar_t* format, ...);
    /** Appends finished text. */
    void Write (const juce::String& text);
    /** Empties the pane (message thread). */
    void Clear();

private:
    std::atomic<CLogEditor*> m_pEditor { nullptr };
};

/** The read-only log pane. Text arrives from any thread; each piece posts its
    own notification, and the pane takes it once that notification is
    delivered, in order. It inserts what it has taken at most every kMinAppendMs
    on the message thread, because each insertion lays out the whole text again:
    appending every line as it comes would cost time that grows with the square
    of the log's length. An insertion also waits while other notifications wait
    (a step that finished, progress): the next command to the module never waits
    for the pane. A Clear removes the text taken before it, inserted or not;
    text whose notification is still on its way follows the Clear. */
class CLogEditor : public juce::TextEditor, public juce::MessageListener, private juce::Timer
{
public:
    /** Shortest time between two insertions into the pane, in milliseconds. */
    static constexpr int kMinAppendMs = 40;
    /** Longest time text waits for the notifications ahead of it, in milliseconds. */
    static constexpr int kMaxDeferMs = 1000;

    /** A pane with the given component name. */
    explicit CLogEditor (const juce::String& name = juce::String());
    ~CLogEditor() override;
    /** Adds text for the end of the pane and posts its notification (any thread). */
    virtual void Append (const juce::String& text);
    /** Puts all text not yet in the pane into it now, delivered or not (message thread). */
    void FlushPending();
    /** Empties the pane and drops the text taken but not yet inserted (message thread). */
    void ClearTaken();
    /** Hands every piece of text to `mirror` as it goes into the pane, or is dropped
        by ClearTaken before it got there (message thread); empty: nobody. */
    void SetMirror (std::function<void (const juce::String&)> mirror) { m_Mirror = std::move (mirror); }
    /** Takes the text of a delivered notification; inserts it once the shortest
        interval has passed and no other notification waits. */
    void handleMessage (const juce::Message& message) override;

private:
    /** Text that has not reached the pane, and the number of its notification. */
    struct Piece
    {
        juce::uint64 nNumber;
        juce::String strText;
    };

    void timerCallback() override;
    void InsertTaken();

    std::mutex m_PendingLock;                 // guards m_Posted and m_nLastNumber
    std::deque<Piece> m_Posted;               // text whose notification is on its way, oldest first
    juce::uint64 m_nLastNumber = 0;           // number of the last notification posted
    juce::String m_strTaken;                  // text whose notification was delivered, not yet in the pane (message thread)
    juce::uint32 m_nLastAppend = 0;           // when text last went into the pane (message thread)
    juce::uint32 m_nDeferredSince = 0;        // when the insertion first gave way to notifications; 0: it has not
    std::function<void (const juce::String&)> m_Mirror;   // sees the text that goes into the pane
};
