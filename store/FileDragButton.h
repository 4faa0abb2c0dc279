#pragma once
// The button that also takes one ".bin" or ".rom" file dropped on it and
// posts its path to the panel.
#include <juce_gui_basics/juce_gui_basics.h>

class CFileDragButton : public juce::TextButton, public juce::FileDragAndDropTarget
{
public:
    /** A button with that component name and no tooltip. */
    explicit CFileDragButton (const juce::String& name = juce::String());

    /** Sets the listener told of drops (not owned) and the drop code 0x6000. */
    void SetDropTarget (juce::MessageListener* target);

    /** True for exactly one path whose extension is ".bin" or ".rom" (any case)
        and that is not an existing folder. */
    bool isInterestedInFileDrag (const juce::StringArray& files) override;
    /** Lights the button up green while an acceptable file hovers. */
    void fileDragEnter (const juce::StringArray& files, int x, int y) override;
    /** Gives the button its normal colour back. */
    void fileDragExit (const juce::StringArray& files) override;
    /** Posts the dropped path to the target and gives the normal colour back. */
    void filesDropped (const juce::StringArray& files, int x, int y) override;

    /** Whether a path has the extension ".bin" or ".rom", ignoring case. */
    static bool HasImageExtension (const juce::String& path);

private:
    juce::MessageListener* m_pTarget = nullptr;   ///< told of drops; not owned
    int m_nDropCode = 0;                          ///< second parameter of the drop message
};
