#include "app/Application.h"
#include "app/MainComponent.h"
#include "store/shared/ProgramGlobals.h"
#include "platform/WineRepaints.h"
#include "platform/ProgramFolder.h"
#include "store/RunLog.h"

const char* const kAppName = "Kestrava";
const char* const kAppVersion = "V3.00";

MainDemoWindow::MainDemoWindow()
    : juce::DocumentWindow (kAppName, juce::Colour (0xFFF0FFFF), 5, true)
{
    m_pCommandManager = new juce::ApplicationCommandManager();
    setName (juce::String (kAppName) + "(" + kAppVersion + ")");
    setResizable (false, false);
    setResizeLimits (400, 300, 8192, 8192);

    auto* panel = new MainComponent();
    if (auto* app = juce::JUCEApplication::getInstance())
        m_pCommandManager->registerAllCommandsForTarget (app);
    addKeyListener (m_pCommandManager->getKeyMappings());
    setContentOwned (panel, false);
    setVisible (true);
}

MainDemoWindow::~MainDemoWindow()
{
    clearContentComponent();
    delete m_pCommandManager;
    m_pCommandManager = nullptr;
}

void MainDemoWindow::closeButtonPressed()
{
    g_bQuitRequested = true;
}

MainComponent* MainDemoWindow::GetPanel() const
{
    return dynamic_cast<MainComponent*> (getContentComponent());
}

void JUCEDemoApplication::initialise (const juce::String&)
{
    RunLog::Start (GetLogFile(), getApplicationName() + " " + kAppVersion, "the window");
    m_pCloseHook = WindowCloseWithoutWait::MakeUnderWine();
    m_pLookAndFeel = std::make_unique<juce::LookAndFeel_V4> (juce::LookAndFeel_V4::getLightColourScheme());
    juce::LookAndFeel::setDefaultLookAndFeel (m_pLookAndFeel.get());
    m_pMainWindow = new MainDemoWindow();
    m_pMainWindow->centreWithSize (450, 185);
    m_pMainWindow->setVisible (true);
    m_pMainWindow->repaint();   // a window shown before it was sized may keep unpainted areas
    m_pRepaintTimer = MakeRepaintTimerUnderWine();
}

void JUCEDemoApplication::shutdown()
{
    m_pRepaintTimer.reset();
    delete m_pMainWindow;
    m_pMainWindow = nullptr;
    juce::LookAndFeel::setDefaultLookAndFeel (nullptr);
    m_pLookAndFeel.reset();
    m_pCloseHook.reset();
    RunLog::End();
}

const juce::String JUCEDemoApplication::getApplicationName()    { return kAppName; }
const juce::String JUCEDemoApplication::getApplicationVersion() { return kAppVersion; }
bool JUCEDemoApplication::moreThanOneInstanceAllowed()          { return false; }

bool JUCEDemoApplication::perform (const InvocationInfo& info)
{
    if (info.commandID == juce::StandardApplicationCommandIDs::quit)
    {
        // The device link's timer carries it out: it closes the ports first.
        g_bQuitRequested = true;
        return true;
    }
    return juce::JUCEApplication::perform (info);
}
