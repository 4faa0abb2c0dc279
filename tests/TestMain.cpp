// Test entry point: JUCE's GUI and message machinery are up for every test,
// without a display being needed.
#include <cstdlib>
#include <gtest/gtest.h>
#include <juce_gui_basics/juce_gui_basics.h>

int main (int argc, char** argv)
{
    // The suite never needs a display. Without one named, the window system
    // would fall back to ":0" and take up whatever X server happens to run there.
    setenv ("DISPLAY", ":65000", 1);
    ::testing::InitGoogleTest (&argc, argv);
    juce::ScopedJuceInitialiser_GUI juce;
    return RUN_ALL_TESTS();
}
