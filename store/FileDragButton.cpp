#include "store/FileDragButton.h"
#include "store/shared/Notifications.h"

CFileDragButton::CFileDragButton (const juce::String& name)
    : juce::TextButton (name)
{
}

void CFileDragButton::SetDropTarget (juce::MessageListener* target)
{
    m_pTarget = target;
    m_nDropCode = kFileDropCode;
}

bool CFileDragButton::HasImageExtension (const juce::String& path)
{
    const int dot = path.lastIndexOfChar ('.');
    const int separator = path.lastIndexOfChar (juce::File::getSeparatorChar());
    if (dot < 0 || dot < separator)
        return false;

    const auto extension = path.substring (dot);
    return extension.equalsIgnoreCase (".bin") || extension.equalsIgnoreCase (".rom");
}

bool CFileDragButton::isInterestedInFileDrag (const juce::StringArray& files)
{
    if (files.size() != 1)
        return false;

    const auto& path = files[0];
    if (! HasImageExtension (path))
        return false;
    return ! (juce::File::isAbsolutePath (path) && juce::File (path).isDirectory());
}

void CFileDragButton::fileDragEnter (const juce::StringArray&, int, int)
{
    setColour (juce::TextButton::buttonColourId, juce::Colour (0xFF008000u));
}

void CFileDragButton::fileDragExit (const juce::StringArray&)
{
    removeColour (juce::TextButton::buttonColourId);
}

void CFileDragButton::filesDropped (const juce::StringArray& files, int, int)
{
    if (m_pTarget != nullptr && ! files.isEmpty())
        m_pTarget->postMessage (new NotifyMessage (kFileDropMessage, m_nDropCode, 0,
                                                   std::make_unique<TextPayload> (files[0])));
    removeColour (juce::TextButton::buttonColourId);
}
