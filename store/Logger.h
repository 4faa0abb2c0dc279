#pragma once
#include <atomic>
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

/** The read-only log pane. Text arrives from any thread and is gathered; the
    pane takes what has gathered at most every kMinAppendMs on the message
    thread, because each insertion lays out the whole text again: appending
    every line as it comes would cost time that grows with the square of the
    log's length. An insertion also waits while other notifications wait (a
    step that finished, progress): the next command to the module never waits
    for the pane. Order is kept. */
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
    /** Gathers text for the end of the pane (any thread). */
    virtual void Append (const juce::String& text);
    /** Puts the gathered text into the pane now (message thread). */
    void FlushPending();
    /** Hands every piece of text to `mirror` as it goes into the pane (message
        thread); empty: nobody. */
    void SetMirror (std::function<void (const juce::String&)> mirror) { m_Mirror = std::move (mirror); }
    /** Takes the gathered text into the pane once the shortest interval has passed
        and no other notification waits. */
    void handleMessage (const juce::Message& message) override;

private:
    void timerCallback() override;

    std::mutex m_PendingLock;                 // guards m_strPending
    juce::String m_strPending;                // text not yet in the pane
    std::atomic<bool> m_bFlushPosted { false };   // a message to take it is on its way
    juce::uint32 m_nLastAppend = 0;           // when text last went into the pane (message thread)
    juce::uint32 m_nDeferredSince = 0;        // when the insertion first gave way to notifications; 0: it has not
    std::function<void (const juce::String&)> m_Mirror;   // sees the text that goes into the pane
};
