// The program on the computer's own MIDI ports.
#include "app/Application.h"
#include "app/Startup.h"

#if JUCE_WINDOWS
START_JUCE_APPLICATION (JUCEDemoApplication)
#else
JUCE_CREATE_APPLICATION_DEFINE (JUCEDemoApplication)

int main (int argc, char* argv[])
{
    // --list-midi shows every port, other programs' too.
    return RunProgram (argc, argv, { kAppName, kAppVersion, [] { return MakeSystemMidiPortSource (true); } },
                       &juce_CreateApplication);
}
#endif
