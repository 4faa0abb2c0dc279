#pragma once
#include <juce_gui_basics/juce_gui_basics.h>
#include "platform/WineWindowClose.h"

class MainComponent;

/** The program's name and version, as the title bar and --version show them. */
extern const char* const kAppName;
extern const char* const kAppVersion;

/** The one window: the title, fixed size, minimise and close buttons. */
class MainDemoWindow : public juce::DocumentWindow
{
public:
    MainDemoWindow();
    ~MainDemoWindow() override;
    /** Only asks for the quit; the device link's timer carries it out. */
    void closeButtonPressed() override;
    /** The panel inside. */
    MainComponent* GetPanel() const;

private:
    juce::ApplicationCommandManager* m_pCommandManager = nullptr;
};

/** The application object: single instance, name and version. */
class JUCEDemoApplication : public juce::JUCEApplication
{
public:
    JUCEDemoApplication() = default;
    /** Builds the window. */
    void initialise (const juce::String& commandLine) override;
    /** Deletes the window. */
    void shutdown() override;
    /** "Kestrava". */
    const juce::String getApplicationName() override;
    /** "V3.00". */
    const juce::String getApplicationVersion() override;
    /** A second start hands over to the running program. */
    bool moreThanOneInstanceAllowed() override;
    /** The quit command (its key too) only asks for the quit, as the close button does. */
    bool perform (const InvocationInfo& info) override;
    /** The window (null before initialise and after shutdown). */
    MainDemoWindow* GetWindow() const { return m_pMainWindow; }

private:
    MainDemoWindow* m_pMainWindow = nullptr;
    std::unique_ptr<juce::LookAndFeel_V4> m_pLookAndFeel;   // light scheme to match the white panel
    std::unique_ptr<juce::Timer> m_pRepaintTimer;           // only under Wine (platform/WineRepaints.h)
    std::unique_ptr<WindowCloseWithoutWait> m_pCloseHook;   // only under Wine (platform/WineWindowClose.h)
};
