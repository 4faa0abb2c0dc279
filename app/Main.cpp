// The program on the computer's own MIDI ports.
#include "app/Application.h"
#include "app/Startup.h"

#if JUCE_WINDOWS
START_JUCE_APPLICATION (JUCEDemoApplication)
#else
JUCE_CREATE_APPLICATION_DEFINE (JUCEDemoApplication)

int main (int argc, char* argv[])
{
    const int status = RunStartOptions (argc, argv, { kAppName, kAppVersion, &MakeSystemMidiPortSource });
    if (status >= 0)
        return status;
    juce::JUCEApplicationBase::createInstance = &juce_CreateApplication;
    return juce::JUCEApplicationBase::main (argc, (const char**) argv);
}
#endif
