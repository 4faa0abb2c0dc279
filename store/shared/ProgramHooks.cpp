#include "store/shared/ProgramHooks.h"
#include <mutex>
#include "store/RunLog.h"

namespace
{
    std::mutex hookLock;
    std::function<void (juce::MessageBoxIconType, const juce::String&, const juce::String&)> boxHook;
    std::function<void()> quitHook;
    std::function<juce::File()> chooserHook;
}

void SetFileChooserHook (std::function<juce::File()> hook)
{
    std::lock_guard<std::mutex> l (hookLock);
    chooserHook = std::move (hook);
}

std::function<juce::File()> GetFileChooserHook()
{
    std::lock_guard<std::mutex> l (hookLock);
    return chooserHook;
}

void SetMessageBoxHook (std::function<void (juce::MessageBoxIconType, const juce::String&, const juce::String&)> hook)
{
    std::lock_guard<std::mutex> l (hookLock);
    boxHook = std::move (hook);
}

void SetQuitHook (std::function<void()> hook)
{
    std::lock_guard<std::mutex> l (hookLock);
    quitHook = std::move (hook);
}

void ShowMessageBox (juce::MessageBoxIconType icon, const juce::String& title, const juce::String& text)
{
    RunLog::RecordBox (text);
    decltype (boxHook) hook;
    {
        std::lock_guard<std::mutex> l (hookLock);
        hook = boxHook;
    }
    if (hook)
    {
        hook (icon, title, text);
        return;
    }
    // A box belongs to the message thread; the MIDI input thread never shows one.
    jassert (juce::MessageManager::getInstance()->isThisTheMessageThread());
    juce::AlertWindow::showMessageBox (icon, title, text);
}

void ShowErrorBox (const juce::String& text)
{
    ShowMessageBox (juce::MessageBoxIconType::NoIcon, juce::String(), text);
}

void ShowErrorBoxThen (const juce::String& text, std::function<void()> then)
{
    RunLog::RecordBox (text);
    decltype (boxHook) hook;
    {
        std::lock_guard<std::mutex> l (hookLock);
        hook = boxHook;
    }
    if (hook)
    {
        hook (juce::MessageBoxIconType::NoIcon, juce::String(), text);
        if (then)
            then();
        return;
    }
    jassert (juce::MessageManager::getInstance()->isThisTheMessageThread());
    juce::AlertWindow::showMessageBoxAsync (juce::MessageBoxIconType::NoIcon, juce::String(), text, juce::String(), nullptr,
                                            juce::ModalCallbackFunction::create ([then] (int) { if (then) then(); }));
}

void RequestApplicationQuit()
{
    decltype (quitHook) hook;
    {
        std::lock_guard<std::mutex> l (hookLock);
        hook = quitHook;
    }
    if (hook)
    {
        hook();
        return;
    }
    if (auto* app = juce::JUCEApplicationBase::getInstance())
        app->systemRequestedQuit();
}
