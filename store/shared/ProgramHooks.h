#pragma once
// The whole program's seams for message boxes, the file dialog and the quit
// request; tests replace them with hooks.
#include <functional>
#include <juce_gui_basics/juce_gui_basics.h>

/** Records boxes instead of showing them; the call then returns as if "ok" was pressed. */
void SetMessageBoxHook (std::function<void (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text)> hook);
/** Replaces the application's quit request. */
void SetQuitHook (std::function<void()> hook);

/** Shows a modal box with one "ok" button (message thread only). */
void ShowMessageBox (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text);
/** Shows an error box: no icon, empty title. */
void ShowErrorBox (const juce::String& text);
/** Shows an error box without a message loop of its own and calls `then` once it is closed. */
void ShowErrorBoxThen (const juce::String& text, std::function<void()> then);
/** Asks the running application to quit. */
void RequestApplicationQuit();

/** Replaces the file dialog of "Browse...": the hook returns the chosen file, or
    a default File for a cancel. */
void SetFileChooserHook (std::function<juce::File()> hook);
/** The file chooser hook, or an empty function when none is set. */
std::function<juce::File()> GetFileChooserHook();
