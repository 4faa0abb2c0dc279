// The program on the computer's own MIDI ports.
#include "app/Application.h"
#include "app/Startup.h"

#if JUCE_WINDOWS
START_JUCE_APPLICATION (JUCEDemoApplication)
#else
JUCE_CREATE_APPLICATION_DEFINE (JUCEDemoApplication)

int main (int argc, char* argv[])
{
    return RunProgram (argc, argv, { kAppName, kAppVersion, &MakeSystemMidiPortSource }, &juce_CreateApplication);
}
#endif
