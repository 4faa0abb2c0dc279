// The program on the computer's own MIDI ports.
#include "app/Application.h"

START_JUCE_APPLICATION (JUCEDemoApplication)
