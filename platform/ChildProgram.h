#pragma once
// A program run as a child process, its standard output and error read
// through one pipe, which can be asked to stop as Ctrl-C asks a program run
// by hand: SIGTERM on POSIX systems; on Windows the child has a process group
// of its own and gets Ctrl-Break.
#include <memory>
#include <juce_core/juce_core.h>

class ChildProgram
{
public:
    ChildProgram();
    /** Closes the pipe; a child still running goes on on its own. */
    ~ChildProgram();

    /** Starts the program named by the first argument with the others; false when it cannot start. */
    bool Start (const juce::StringArray& arguments);
    /** Reads what the child wrote, waiting until some comes; 0 once it has closed its output (any thread). */
    int Read (char* buffer, int size);
    /** Asks a running child to stop; nothing once it has been waited for. */
    void AskToStop();
    /** Waits for the child's end: its exit status (128 + the signal for a POSIX child a signal ended), -1 if it never ran. */
    int Wait();

private:
    struct Handles;
    std::unique_ptr<Handles> m_pHandles;

    JUCE_DECLARE_NON_COPYABLE (ChildProgram)
};
