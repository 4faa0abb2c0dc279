// Opening a document with the desktop's opener. The document is handed over
// as one argument: it is never run itself, whatever its permissions, and no
// shell sees its name.
#include "platform/DocumentOpener.h"
#include "platform/Paths.h"

#if JUCE_WINDOWS
 #include <windows.h>
 #include <shellapi.h>
#else
 #include <cerrno>
 #include <string>
 #include <sys/wait.h>
 #include <unistd.h>
#endif

namespace
{
    /** The document to open, or empty when there is none to hand over. */
    juce::String ExistingDocument (const wchar_t* path)
    {
        if (path == nullptr || path[0] == 0)
            return {};
        const auto text = ToString (path);
        if (! juce::File::isAbsolutePath (text) || ! juce::File (text).existsAsFile())
            return {};
        return text;
    }
}

#if JUCE_WINDOWS

bool OpenDocument (const wchar_t* path)
{
    const auto document = ExistingDocument (path);
    if (document.isEmpty())
        return false;
    // The default verb of the document's type, no owner window, no parameters, no working folder.
    const auto result = ShellExecuteW (nullptr, nullptr, document.toWideCharPointer(), nullptr, nullptr, SW_SHOWNORMAL);
    return (INT_PTR) result > 32;
}

#else

bool OpenDocument (const wchar_t* path)
{
    const auto document = ExistingDocument (path);
    if (document.isEmpty())
        return false;

   #if JUCE_MAC
    const char* const opener = "open";
   #else
    const char* const opener = "xdg-open";
   #endif
    // Everything the children need is ready before the fork: after it they
    // only call what is safe in the child of a threaded process.
    const std::string argument = document.toStdString();
    char* const argv[] = { const_cast<char*> (opener), const_cast<char*> (argument.c_str()), nullptr };

    // The opener runs in a grandchild: the child ends at once and is waited
    // for here, so the opener belongs to the system, not to this program, and
    // nothing is left to be reaped however long it runs.
    const pid_t child = ::fork();
    if (child < 0)
        return false;
    if (child == 0)
    {
        const pid_t grandchild = ::fork();
        if (grandchild == 0)
        {
            ::setsid();
            ::execvp (opener, argv);
            ::_exit (127);
        }
        ::_exit (grandchild < 0 ? 1 : 0);
    }
    int status = 0;
    while (::waitpid (child, &status, 0) < 0 && errno == EINTR) {}
    return WIFEXITED (status) && WEXITSTATUS (status) == 0;
}

#endif
