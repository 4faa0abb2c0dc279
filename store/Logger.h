#pragma once
#include <atomic>
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

/** The read-only log pane; appends posted text on the message thread. */
class CLogEditor : public juce::TextEditor, public juce::MessageListener
{
public:
    /** A pane with the given component name. */
    explicit CLogEditor (const juce::String& name = juce::String());
    /** Appends the text of a log message at the end and keeps it in view. */
    void handleMessage (const juce::Message& message) override;
};
