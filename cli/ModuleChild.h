#pragma once
// One module's kestrava-cli process, as kestrava-cli --all runs it: started,
// its output taken line by line on a thread of its own, asked to stop, and
// waited for.
#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include "platform/ChildProgram.h"

class ModuleChild
{
public:
    ModuleChild() = default;
    /** Waits for the reading thread (the process has ended or closed its output by then). */
    ~ModuleChild();

    /** Starts the process; `wake` is signalled for each line it prints and at its end. */
    bool Start (const juce::StringArray& arguments, juce::WaitableEvent& wake);
    /** The lines printed since the last call, without their line feeds. */
    juce::StringArray TakeLines();
    /** Whether the process closed its output (it has ended, or is about to). */
    bool OutputEnded() const { return m_bEnded.load(); }
    /** Asks the process to stop as Ctrl-C would. */
    void AskToStop() { m_Program.AskToStop(); }
    /** Waits for the process's end: its exit status. */
    int Wait() { return m_Program.Wait(); }

private:
    void ReadAll (juce::WaitableEvent& wake);

    ChildProgram m_Program;
    std::thread m_Reader;
    std::mutex m_Lock;                   // guards m_Lines (reading thread and the caller)
    juce::StringArray m_Lines;
    std::atomic<bool> m_bEnded { false };
};
