#include "platform/ConsoleText.h"

#if JUCE_WINDOWS
 #include <windows.h>
 #include <shellapi.h>
#else
 #include <sys/ioctl.h>
 #include <unistd.h>
#endif

juce::StringArray GetProgramArguments (int argc, char** argv)
{
    juce::StringArray args;
#if JUCE_WINDOWS
    juce::ignoreUnused (argc, argv);
    int count = 0;
    if (LPWSTR* wide = ::CommandLineToArgvW (::GetCommandLineW(), &count))
    {
        for (int i = 1; i < count; ++i)
            args.add (juce::String (wide[i]));
        ::LocalFree (wide);
    }
#else
    for (int i = 1; i < argc; ++i)
        args.add (juce::String::fromUTF8 (argv[i]));
#endif
    return args;
}

void UseUtf8Console()
{
#if JUCE_WINDOWS
    ::SetConsoleOutputCP (CP_UTF8);
#endif
}

int ConsoleColumns()
{
#if JUCE_WINDOWS
    CONSOLE_SCREEN_BUFFER_INFO info {};
    if (! ::GetConsoleScreenBufferInfo (::GetStdHandle (STD_OUTPUT_HANDLE), &info))
        return 0;
    return info.srWindow.Right - info.srWindow.Left + 1;
#else
    winsize size {};
    if (::ioctl (STDOUT_FILENO, TIOCGWINSZ, &size) != 0)
        return 0;
    return size.ws_col;
#endif
}
