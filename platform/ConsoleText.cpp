#include "platform/ConsoleText.h"

#if JUCE_WINDOWS
 #include <windows.h>
 #include <shellapi.h>
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
