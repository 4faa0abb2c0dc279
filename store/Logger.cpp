#include "store/Logger.h"
#include "store/shared/Notifications.h"
#include "store/RunLog.h"
#include "platform/Paths.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

namespace
{
    constexpr int kLogBufferUnits = 1024;   // at most 1023 characters and a terminator

    /** Turns a wide format written for the Windows wide printf family into the
        C library's form: there %s and %c take wide arguments and %hs, %S take
        narrow ones, while the C library wants %ls and %lc for wide ones. */
    std::wstring ToLibraryWideFormat (const wchar_t* format)
    {
        std::wstring out;
        for (const wchar_t* p = format; *p != 0; ++p)
        {
            out += *p;
            if (*p != L'%')
                continue;
            if (p[1] == L'%')
            {
                out += *++p;
                continue;
            }

            std::wstring spec;
            ++p;
            while (*p != 0 && std::wcschr (L"-+ #0123456789.*", *p) != nullptr)
                spec += *p++;
            std::wstring length;
            while (*p != 0 && std::wcschr (L"hlLqjzt", *p) != nullptr)
                length += *p++;
            if (*p == 0)
            {
                out += spec + length;
                break;
            }

            const wchar_t conversion = *p;
            if ((conversion == L's' || conversion == L'c') && length.empty())
                length = L"l";
            else if ((conversion == L's' || conversion == L'c') && length == L"h")
                length.clear();
            out += spec + length;
            if (conversion == L'S' || conversion == L'C')
                out += (wchar_t) (conversion - L'S' + L's');
            else
                out += conversion;
        }
        return out;
    }

    /** Formats into at most 1023 units; longer output is cut. */
    juce::String FormatWide (const wchar_t* format, va_list args)
    {
        const auto libraryFormat = ToLibraryWideFormat (format);
        wchar_t buffer[kLogBufferUnits];
        buffer[0] = 0;

        va_list copy;
        va_copy (copy, args);
        const int written = std::vswprintf (buffer, kLogBufferUnits, libraryFormat.c_str(), copy);
        va_end (copy);
        if (written >= 0)
            return juce::String (buffer);

        // The C library gives no partial output when the text does not fit:
        // format into a larger buffer and cut it.
        std::vector<wchar_t> large (1 << 16, 0);
        va_copy (copy, args);
        const int again = std::vswprintf (large.data(), large.size(), libraryFormat.c_str(), copy);
        va_end (copy);
        if (again < 0)
            large[large.size() - 1] = 0;
        large[kLogBufferUnits - 1] = 0;
        return juce::String (large.data());
    }

    /** The notification of one piece of log text, numbered in the order of the pieces. */
    class LogNotify : public NotifyMessage
    {
    public:
        explicit LogNotify (juce::uint64 number) : NotifyMessage (kLogAppendMessage, 0, 0), nNumber (number) {}
        const juce::uint64 nNumber;   ///< the piece's number
    };
}

void CLogger::SetEditor (CLogEditor* editor)
{
    m_pEditor = editor;
}

void CLogger::Print (const char* format, ...)
{
    if (format == nullptr)
        return;

    char buffer[kLogBufferUnits];
    va_list args;
    va_start (args, format);
    const int written = std::vsnprintf (buffer, sizeof (buffer), format, args);
    va_end (args);
    if (written < 0)
        return;

    size_t length = std::strlen (buffer);
    if (written >= kLogBufferUnits)
    {
        // Cut at 1023 bytes; do not leave half a UTF-8 character behind.
        size_t lead = length;
        while (lead > 0 && ((unsigned char) buffer[lead - 1] & 0xC0) == 0x80)
            --lead;
        if (lead > 0)
        {
            const auto c = (unsigned char) buffer[lead - 1];
            const size_t need = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (need > 1 && length - (lead - 1) < need)
                length = lead - 1;
        }
    }
    Write (NarrowBytesToString (buffer, length));
}

void CLogger::PrintW (const wchar_t* format, ...)
{
    if (format == nullptr)
        return;

    va_list args;
    va_start (args, format);
    const auto text = FormatWide (format, args);
    va_end (args);
    Write (text);
}

void CLogger::Write (const juce::String& text)
{
    RunLog::Append (text);
    if (auto* editor = m_pEditor.load())
        editor->Append (text);
}

void CLogger::Clear()
{
    if (auto* editor = m_pEditor.load())
    {
        // What was delivered before goes, shown or not; text still on its way follows.
        editor->ClearTaken();
        editor->setFont (juce::Font (14.0f, juce::Font::plain));
    }
}

CLogEditor::CLogEditor (const juce::String& name)
    : juce::TextEditor (name)
{
    setMultiLine (true, true);
    setReturnKeyStartsNewLine (true);
    setReadOnly (true);
    setScrollbarsShown (true);
    setCaretVisible (true);
    setPopupMenuEnabled (true);
    setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x38FFFFFFu));
    setText ({}, false);

    // Text is posted from other threads; the weak reference every posted
    // message takes must already exist, or two first posts would race to make it.
    const juce::WeakReference<juce::MessageListener> ready (this);
    juce::ignoreUnused (ready);
}

CLogEditor::~CLogEditor()
{
    stopTimer();
}

void CLogEditor::Append (const juce::String& text)
{
    juce::uint64 number;
    {
        std::lock_guard<std::mutex> l (m_PendingLock);
        number = ++m_nLastNumber;
        m_Posted.push_back ({ number, text });
    }
    postMessage (new LogNotify (number));
}

void CLogEditor::FlushPending()
{
    {
        std::lock_guard<std::mutex> l (m_PendingLock);
        for (const auto& piece : m_Posted)
            m_strTaken += piece.strText;
        m_Posted.clear();
    }
    InsertTaken();
}

void CLogEditor::InsertTaken()
{
    stopTimer();
    m_nDeferredSince = 0;
    if (m_strTaken.isEmpty())
        return;
    juce::String text;
    std::swap (text, m_strTaken);
    setCaretPosition (getTotalNumChars());
    insertTextAtCaret (text);
    m_nLastAppend = juce::Time::getMillisecondCounter();
    if (m_Mirror)
        m_Mirror (text);
}

void CLogEditor::ClearTaken()
{
    stopTimer();
    m_nDeferredSince = 0;
    juce::String dropped;
    std::swap (dropped, m_strTaken);
    clear();
    if (m_Mirror && dropped.isNotEmpty())
        m_Mirror (dropped);
}

void CLogEditor::handleMessage (const juce::Message& message)
{
    const auto* log = dynamic_cast<const LogNotify*> (&message);
    if (log == nullptr)
        return;
    {
        // Pieces arrive in the order of their numbers; a notification that
        // overtook an earlier one's brings that one's text along.
        std::lock_guard<std::mutex> l (m_PendingLock);
        while (! m_Posted.empty() && m_Posted.front().nNumber <= log->nNumber)
        {
            m_strTaken += m_Posted.front().strText;
            m_Posted.pop_front();
        }
    }

    // Never at once: the notification this text came ahead of (a step that
    // finished, say) is handled first.
    if (m_strTaken.isNotEmpty() && ! isTimerRunning())
    {
        const auto since = juce::Time::getMillisecondCounter() - m_nLastAppend;
        startTimer (since >= (juce::uint32) kMinAppendMs ? 1 : kMinAppendMs - (int) since);
    }
}

void CLogEditor::timerCallback()
{
    const auto now = juce::Time::getMillisecondCounter();
    if (NotifyMessage::Waiting() > 0)
    {
        if (m_nDeferredSince == 0)
            m_nDeferredSince = now == 0 ? 1 : now;
        if (now - m_nDeferredSince < (juce::uint32) kMaxDeferMs)
        {
            startTimer (1);
            return;
        }
    }
    InsertTaken();
}
