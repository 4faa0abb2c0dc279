#include "cli/ModuleChild.h"

ModuleChild::~ModuleChild()
{
    if (m_Reader.joinable())
        m_Reader.join();
}

bool ModuleChild::Start (const juce::StringArray& arguments, juce::WaitableEvent& wake)
{
    if (! m_Program.Start (arguments))
        return false;
    m_Reader = std::thread ([this, &wake] { ReadAll (wake); });
    return true;
}

void ModuleChild::ReadAll (juce::WaitableEvent& wake)
{
    std::string pending;   // bytes of a line not yet ended (UTF-8 is decoded per whole line)
    char buffer[4096];
    for (;;)
    {
        const int got = m_Program.Read (buffer, (int) sizeof (buffer));
        if (got > 0)
            pending.append (buffer, (size_t) got);
        juce::StringArray lines;
        for (size_t end; (end = pending.find ('\n')) != std::string::npos; pending.erase (0, end + 1))
            lines.add (juce::String::fromUTF8 (pending.data(), (int) end).trimCharactersAtEnd ("\r"));
        if (got <= 0 && ! pending.empty())
        {
            lines.add (juce::String::fromUTF8 (pending.data(), (int) pending.size()));
            pending.clear();
        }
        if (! lines.isEmpty())
        {
            const std::lock_guard<std::mutex> l (m_Lock);
            m_Lines.addArray (lines);
        }
        if (got <= 0)
            m_bEnded.store (true);
        wake.signal();
        if (got <= 0)
            return;
    }
}

juce::StringArray ModuleChild::TakeLines()
{
    const std::lock_guard<std::mutex> l (m_Lock);
    juce::StringArray lines;
    lines.swapWith (m_Lines);
    return lines;
}
