// Test entry point: JUCE's GUI and message machinery are up for every test,
// without a display being needed.
#include <cstdlib>
#include <cstring>
#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

/** One of the writers of StoreLogger's test of two processes (StoreLoggerTests.cpp). */
int RunLogWriterChild (const char* file, const char* name, const char* go);

int main (int argc, char** argv)
{
    if (argc == 5 && std::strcmp (argv[1], "--log-writer-child") == 0)
        return RunLogWriterChild (argv[2], argv[3], argv[4]);
    // The programs these tests run log into a state folder of the run's own,
    // never into the user's.
    char state[] = "/tmp/kestrava-test-state-XXXXXX";
    const bool ownState = ::mkdtemp (state) != nullptr;
    if (ownState)
        setenv ("XDG_STATE_HOME", state, 1);
    const struct StateRemoval
    {
        bool own;
        const char* folder;
        ~StateRemoval() { if (own) juce::File (folder).deleteRecursively(); }
    } removal { ownState, state };
    // The suite never needs a display. Without one named, the window system
    // would fall back to ":0" and take up whatever X server happens to run there.
    setenv ("DISPLAY", ":65000", 1);
    ::testing::InitGoogleTest (&argc, argv);
    juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
