#include "platform/ChildProgram.h"

#if JUCE_WINDOWS
 #include <windows.h>
#else
 #include <cerrno>
 #include <csignal>
 #include <fcntl.h>
 #include <spawn.h>
 #include <sys/wait.h>
 #include <unistd.h>
extern char** environ;
#endif

#if JUCE_WINDOWS
namespace
{
    /** One argument quoted so that the child's CommandLineToArgvW gives it back as it is. */
    juce::String QuoteArgument (const juce::String& arg)
    {
        if (arg.isNotEmpty() && ! arg.containsAnyOf (" \t\n\v\""))
            return arg;
        juce::String quoted ("\"");
        int backslashes = 0;
        for (auto c : arg)
        {
            if (c == '\\')
            {
                ++backslashes;
                continue;
            }
            // Backslashes before a quote (or the closing quote) are doubled.
            quoted << juce::String::repeatedString ("\\", c == '"' ? 2 * backslashes + 1 : backslashes);
            backslashes = 0;
            quoted << juce::String::charToString (c);
        }
        return quoted + juce::String::repeatedString ("\\", 2 * backslashes) + "\"";
    }
}

struct ChildProgram::Handles
{
    HANDLE process = nullptr;
    HANDLE read = nullptr;
    DWORD id = 0;
    bool waited = false;
};

ChildProgram::ChildProgram() : m_pHandles (std::make_unique<Handles>()) {}

ChildProgram::~ChildProgram()
{
    if (m_pHandles->read != nullptr)
        ::CloseHandle (m_pHandles->read);
    if (m_pHandles->process != nullptr)
        ::CloseHandle (m_pHandles->process);
}

bool ChildProgram::Start (const juce::StringArray& arguments)
{
    SECURITY_ATTRIBUTES inherit {};
    inherit.nLength = sizeof (inherit);
    inherit.bInheritHandle = TRUE;
    HANDLE read = nullptr, write = nullptr;
    if (! ::CreatePipe (&read, &write, &inherit, 0))
        return false;
    ::SetHandleInformation (read, HANDLE_FLAG_INHERIT, 0);

    juce::StringArray quoted;
    for (auto& a : arguments)
        quoted.add (QuoteArgument (a));
    auto commandLine = quoted.joinIntoString (" ");

    STARTUPINFOW startup {};
    startup.cb = sizeof (startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = ::GetStdHandle (STD_INPUT_HANDLE);
    startup.hStdOutput = write;
    startup.hStdError = write;
    PROCESS_INFORMATION info {};
    // A process group of its own: Ctrl-Break can reach it alone.
    const BOOL started = ::CreateProcessW (nullptr, const_cast<LPWSTR> (commandLine.toWideCharPointer()), nullptr, nullptr, TRUE,
                                           CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr, nullptr, &startup, &info);
    ::CloseHandle (write);
    if (! started)
    {
        ::CloseHandle (read);
        return false;
    }
    ::CloseHandle (info.hThread);
    m_pHandles->process = info.hProcess;
    m_pHandles->id = info.dwProcessId;
    m_pHandles->read = read;
    return true;
}

int ChildProgram::Read (char* buffer, int size)
{
    DWORD got = 0;
    if (m_pHandles->read == nullptr || ! ::ReadFile (m_pHandles->read, buffer, (DWORD) size, &got, nullptr))
        return 0;
    return (int) got;
}

void ChildProgram::AskToStop()
{
    if (m_pHandles->process != nullptr && ! m_pHandles->waited)
        ::GenerateConsoleCtrlEvent (CTRL_BREAK_EVENT, m_pHandles->id);
}

int ChildProgram::Wait()
{
    if (m_pHandles->process == nullptr)
        return -1;
    ::WaitForSingleObject (m_pHandles->process, INFINITE);
    DWORD code = 0;
    ::GetExitCodeProcess (m_pHandles->process, &code);
    m_pHandles->waited = true;
    return (int) code;
}

#else

struct ChildProgram::Handles
{
    pid_t pid = -1;
    int read = -1;
    bool waited = false;
    int status = -1;
};

ChildProgram::ChildProgram() : m_pHandles (std::make_unique<Handles>()) {}

ChildProgram::~ChildProgram()
{
    if (m_pHandles->read >= 0)
        ::close (m_pHandles->read);
}

bool ChildProgram::Start (const juce::StringArray& arguments)
{
    if (arguments.isEmpty())
        return false;
    // Close-on-exec: no other child holds this pipe open, so its reader sees the end.
    int pipeEnds[2];
    if (::pipe2 (pipeEnds, O_CLOEXEC) != 0)
        return false;

    posix_spawn_file_actions_t actions;
    ::posix_spawn_file_actions_init (&actions);
    ::posix_spawn_file_actions_adddup2 (&actions, pipeEnds[1], STDOUT_FILENO);
    ::posix_spawn_file_actions_adddup2 (&actions, pipeEnds[1], STDERR_FILENO);

    std::vector<std::string> storage;
    for (auto& a : arguments)
        storage.push_back (a.toStdString());
    std::vector<char*> argv;
    for (auto& s : storage)
        argv.push_back (s.data());
    argv.push_back (nullptr);

    pid_t pid = -1;
    const int failed = ::posix_spawn (&pid, argv[0], &actions, nullptr, argv.data(), environ);
    ::posix_spawn_file_actions_destroy (&actions);
    ::close (pipeEnds[1]);
    if (failed != 0)
    {
        ::close (pipeEnds[0]);
        return false;
    }
    m_pHandles->pid = pid;
    m_pHandles->read = pipeEnds[0];
    return true;
}

int ChildProgram::Read (char* buffer, int size)
{
    if (m_pHandles->read < 0)
        return 0;
    for (;;)
    {
        const auto got = ::read (m_pHandles->read, buffer, (size_t) size);
        if (got >= 0)
            return (int) got;
        if (errno != EINTR)
            return 0;
    }
}

void ChildProgram::AskToStop()
{
    // Once waited for, the process id may belong to another process.
    if (m_pHandles->pid > 0 && ! m_pHandles->waited)
        ::kill (m_pHandles->pid, SIGTERM);
}

int ChildProgram::Wait()
{
    if (m_pHandles->pid <= 0)
        return -1;
    if (! m_pHandles->waited)
    {
        int status = 0;
        while (::waitpid (m_pHandles->pid, &status, 0) < 0 && errno == EINTR) {}
        m_pHandles->status = WIFEXITED (status) ? WEXITSTATUS (status) : WIFSIGNALED (status) ? 128 + WTERMSIG (status) : -1;
        m_pHandles->waited = true;
    }
    return m_pHandles->status;
}

#endif
