// The panel's construction, destruction, painting and layout.
#include "app/MainComponent.h"
#include "store/shared/ProgramGlobals.h"
#include "store/shared/Notifications.h"
#include "platform/ProgramFolder.h"
#include "platform/SystemCalls.h"

namespace
{
    const juce::Colour kLabelTextColour (0xFF000000);
    const char* const kHexCharacters = "0123456789ABCDEFabcdef";

    struct Bounds { int x, y, w, h; };

    // The widgets' fixed places, in creation order.
    const Bounds kWidgetBounds[] = {
        { 328, 12, 96, 28 },    // reconnect
        { 16, 19, 312, 20 },    // status
        { 216, 200, 208, 24 },  // file offset editor
        { 16, 204, 168, 16 },   // file offset label
        { 16, 230, 168, 16 },   // flash offset label
        { 16, 256, 168, 16 },   // write length label
        { 216, 252, 208, 24 },  // write length editor
        { 16, 0, 416, 228 },    // log
        { 8, 0, 432, 128 },     // write option group
        { 348, 90, 96, 34 },    // Program
        { 348, 12, 96, 34 },    // Help
        { 268, 92, 164, 24 },   // flash type combo
        { 184, 96, 80, 16 },    // flash type label
        { 32, 128, 220, 24 },   // flash page label
        { 268, 128, 160, 24 },  // flash page editor
        { 16, 60, 328, 16 },    // file label
        { 348, 51, 96, 34 },    // Browse...
        { 52, 258, 80, 24 },    // Word
        { 164, 258, 72, 24 },   // Byte
        { 216, 226, 208, 24 },  // flash offset editor
        { 12, 96, 44, 16 },     // MCU label
        { 64, 92, 112, 24 },    // MCU combo
        { 16, 94, 320, 26 },    // progress bar
        { 20, 52, 150, 24 },    // 418_whole
        { 164, 52, 150, 24 },   // 428_software
        { 308, 52, 150, 24 },   // 428_voice
    };

    void SetUpLabel (juce::Label& l, const juce::String& text)
    {
        l.setText (text, juce::dontSendNotification);
        l.setFont (juce::Font (15.0f, juce::Font::plain));
        l.setJustificationType (juce::Justification::centredLeft);
        l.setEditable (false, false, false);
        l.setColour (juce::TextEditor::textColourId, kLabelTextColour);
        l.setColour (juce::TextEditor::backgroundColourId, juce::Colour (0x00000000));
    }

    void SetUpHexEditor (juce::TextEditor& e)
    {
        e.setMultiLine (false);
        e.setReturnKeyStartsNewLine (false);
        e.setReadOnly (false);
        e.setScrollbarsShown (true);
        e.setCaretVisible (true);
        e.setPopupMenuEnabled (true);
        e.setText (juce::String());
    }

    void SetUpCombo (juce::ComboBox& c)
    {
        c.setEditableText (false);
        c.setJustificationType (juce::Justification::centredLeft);
        c.setTextWhenNothingSelected (juce::String());
        c.setTextWhenNoChoicesAvailable ("(no choices)");
    }
}

MainComponent::MainComponent()
    : m_JobRunner (&m_Logger, this)
{
    // 1. members
    g_nDeviceFamily = 0;

    // 2. the widgets, in creation order
    BuildWidgets();

    // 3. dropped files reach the panel
    m_BrowseButton->SetDropTarget (this);

    // 4. the panel is larger than the window; only its top strip is seen
    setSize (450, 572);

    // 5. the log pane
    m_Logger.SetEditor (m_LogEditor);

    // 6.
    m_ProgressBar->setVisible (false);
    m_ProgramButton->setEnabled (false);
    m_ReconnectButton->setEnabled (false);

    // 7. hex editors
    const std::pair<juce::TextEditor*, const char*> hints[] = {
        { m_FileOffsetEditor, "Set start address of the file" },
        { m_WriteLengthEditor, "Set size to program" },
        { m_FlashPageEditor, "Set start logic page of the flash" },
        { m_FlashOffsetEditor, "Set the offset of the flash" } };
    for (auto& h : hints)
    {
        h.first->setInputRestrictions (0, kHexCharacters);
        h.first->setSelectAllWhenFocused (true);
        h.first->setTextToShowWhenEmpty (h.second, juce::Colour (160, 160, 160));
    }

    // 8. data folder
    BuildDataPaths();

    // 9. status wording chosen by the logo
    if (std::FILE* logo = OpenFileW (m_szLogoPath, "rb"))
    {
        std::fclose (logo);
        m_bNoLogo = false;
        m_StatusLabel->setText ("Vorlenz module is connecting...", juce::dontSendNotification);
    }
    else
    {
        m_bNoLogo = true;
        m_StatusLabel->setText ("QVM Connecting...", juce::dontSendNotification);
    }

    // 10. the logo
    m_LogoImage = juce::ImageFileFormat::loadFrom (juce::File (ToString (m_szLogoPath)));

    // 11. settings
    m_Preset.LoadAll (m_szConfigPath);
    m_bOnlyChanged = m_Preset.GetOnlyChanged();
    ApplyPacing();

    // 12. drivers
    if (FindFlashDrivers() == 0)
        m_Logger.Print ("No flash driver found.");

    // 13., 14.
    RestoreLastSave();
    SetFileName ("No file selected.");

    // 15.
    if (m_bWordMode)
        m_WordToggle->setToggleState (true, juce::dontSendNotification);
    else
        m_ByteToggle->setToggleState (true, juce::dontSendNotification);

    // 16. enabled states
    m_FlashTypeCombo->setEnabled (false);
    m_MCUCombo->setEnabled (false);
    m_ByteToggle->setEnabled (false);
    m_WordToggle->setEnabled (false);
    for (auto* e : { m_FileOffsetEditor, m_WriteLengthEditor, m_FlashPageEditor, m_FlashOffsetEditor })
        e->setReadOnly (true);
    m_BrowseButton->setEnabled (true);
    m_WholeToggle->setEnabled (false);
    m_HelpButton->setEnabled (true);
    m_SoftwareToggle->setEnabled (false);
    m_VoiceToggle->setEnabled (false);

    // 17. visibility
    for (auto* c : std::initializer_list<juce::Component*> {
             m_ReconnectButton, m_WholeToggle, m_SoftwareToggle, m_VoiceToggle, m_MCULabel, m_MCUCombo,
             m_FlashTypeLabel, m_FlashTypeCombo, m_FlashPageLabel, m_FlashPageEditor, m_WriteOptionGroup,
             m_LogEditor, m_WordToggle, m_ByteToggle, m_FileOffsetLabel, m_FlashOffsetLabel, m_WriteLengthLabel,
             m_FileOffsetEditor, m_FlashOffsetEditor, m_WriteLengthEditor })
        c->setVisible (false);
    m_HelpButton->setVisible (true);
    m_FileLabel->setVisible (true);
    m_BrowseButton->setVisible (true);

    // 18. the device link opens the ports and probes
    m_JobRunner.Connect();
}

MainComponent::~MainComponent()
{
    m_Preset.SaveAll();
    // No MIDI callback may reach the log or the panel while they are taken down.
    m_JobRunner.GetLink().Shutdown();

    for (auto* c : GetWidgets())
        removeChildComponent (c);
    delete m_ReconnectButton;   m_ReconnectButton = nullptr;
    delete m_StatusLabel;       m_StatusLabel = nullptr;
    delete m_FileOffsetEditor;  m_FileOffsetEditor = nullptr;
    delete m_FileOffsetLabel;   m_FileOffsetLabel = nullptr;
    delete m_FlashOffsetLabel;  m_FlashOffsetLabel = nullptr;
    delete m_WriteLengthLabel;  m_WriteLengthLabel = nullptr;
    delete m_WriteLengthEditor; m_WriteLengthEditor = nullptr;
    m_Logger.SetEditor (nullptr);
    delete m_LogEditor;         m_LogEditor = nullptr;
    delete m_WriteOptionGroup;  m_WriteOptionGroup = nullptr;
    delete m_ProgramButton;     m_ProgramButton = nullptr;
    delete m_HelpButton;        m_HelpButton = nullptr;
    delete m_FlashTypeCombo;    m_FlashTypeCombo = nullptr;
    delete m_FlashTypeLabel;    m_FlashTypeLabel = nullptr;
    delete m_FlashPageLabel;    m_FlashPageLabel = nullptr;
    delete m_FlashPageEditor;   m_FlashPageEditor = nullptr;
    delete m_FileLabel;         m_FileLabel = nullptr;
    delete m_BrowseButton;      m_BrowseButton = nullptr;
    delete m_WordToggle;        m_WordToggle = nullptr;
    delete m_ByteToggle;        m_ByteToggle = nullptr;
    delete m_FlashOffsetEditor; m_FlashOffsetEditor = nullptr;
    delete m_MCULabel;          m_MCULabel = nullptr;
    delete m_MCUCombo;          m_MCUCombo = nullptr;
    delete m_ProgressBar;       m_ProgressBar = nullptr;
    delete m_WholeToggle;       m_WholeToggle = nullptr;
    delete m_SoftwareToggle;    m_SoftwareToggle = nullptr;
    delete m_VoiceToggle;       m_VoiceToggle = nullptr;

    m_LogoImage = juce::Image();
    m_MCUList.RemoveAll();
    m_AllFlashList.RemoveAll();
    m_FlashList.RemoveAll();
    if (g_hFind != nullptr)
    {
        FindCloseListing (g_hFind);
        g_hFind = nullptr;
    }
}

void MainComponent::BuildWidgets()
{
    auto add = [this] (auto* widget) { addAndMakeVisible (widget); return widget; };

    m_ReconnectButton = add (new juce::TextButton ("new button"));
    m_ReconnectButton->setButtonText ("reconnect");
    m_ReconnectButton->setTooltip ("Reconnect device to computer.");
    m_ReconnectButton->setColour (juce::TextButton::textColourOffId, juce::Colour (0xFF008000));
    m_ReconnectButton->addListener (this);

    m_StatusLabel = add (new juce::Label ("label"));
    SetUpLabel (*m_StatusLabel, juce::String());
    m_StatusLabel->setColour (juce::Label::backgroundColourId, juce::Colour (0x00000000));
    m_StatusLabel->setColour (juce::Label::textColourId, juce::Colour (0xFF800000));

    m_FileOffsetEditor = add (new juce::TextEditor ("new text editor"));
    SetUpHexEditor (*m_FileOffsetEditor);

    m_FileOffsetLabel = add (new juce::Label ("new label"));
    SetUpLabel (*m_FileOffsetLabel, "File offset(HEX):");
    m_FileOffsetLabel->setFont (juce::Font (15.0f, juce::Font::bold | juce::Font::italic));
    m_FileOffsetLabel->setColour (juce::Label::textColourId, juce::Colour (0x9E474761));

    m_FlashOffsetLabel = add (new juce::Label ("new label"));
    SetUpLabel (*m_FlashOffsetLabel, "Flash offset(HEX):");

    m_WriteLengthLabel = add (new juce::Label ("new label"));
    SetUpLabel (*m_WriteLengthLabel, "Write length(HEX):");

    m_WriteLengthEditor = add (new juce::TextEditor ("new text editor"));
    SetUpHexEditor (*m_WriteLengthEditor);
    m_WriteLengthEditor->setTooltip ("0 - To end of the file or the flash");

    m_LogEditor = add (new CLogEditor ("new text editor"));

    m_WriteOptionGroup = add (new juce::GroupComponent ("new group", "Write option"));
    m_WriteOptionGroup->setColour (juce::GroupComponent::outlineColourId, juce::Colour (0xFF00A300));
    m_WriteOptionGroup->setColour (juce::GroupComponent::textColourId, juce::Colour (0xFF00A300));

    m_ProgramButton = add (new juce::TextButton ("new button"));
    m_ProgramButton->setButtonText ("Program");
    m_ProgramButton->addListener (this);

    m_HelpButton = add (new juce::TextButton ("new toggle button"));
    m_HelpButton->setButtonText ("Help");
    m_HelpButton->addListener (this);

    m_FlashTypeCombo = add (new juce::ComboBox ("new combo box"));
    SetUpCombo (*m_FlashTypeCombo);
    m_FlashTypeCombo->addListener (this);

    m_FlashTypeLabel = add (new juce::Label ("new label"));
    SetUpLabel (*m_FlashTypeLabel, "Flash Type:");

    m_FlashPageLabel = add (new juce::Label ("new label"));
    SetUpLabel (*m_FlashPageLabel, "Flash nCS Page(HEX, Page=64kWord):");

    m_FlashPageEditor = add (new juce::TextEditor ("new text editor"));
    SetUpHexEditor (*m_FlashPageEditor);
    m_FlashPageEditor->setTooltip ("If the flash is connected to CS0, set 0. If the flash is connected to CS1, set 400 here.");

    m_FileLabel = add (new juce::Label ("new label"));
    SetUpLabel (*m_FileLabel, "No file selected.");
    m_FileLabel->setTooltip ("No file selected.");
    m_FileLabel->setColour (juce::Label::textColourId, juce::Colour (0xFF008000));

    m_BrowseButton = add (new CFileDragButton ("new button"));
    m_BrowseButton->setButtonText ("Browse...");
    m_BrowseButton->setColour (juce::TextButton::textColourOffId, juce::Colour (0xFF000000));
    m_BrowseButton->addListener (this);

    m_WordToggle = add (new juce::ToggleButton ("new toggle button"));
    m_WordToggle->setButtonText ("Word");
    m_WordToggle->setRadioGroupId (1);
    m_WordToggle->addListener (this);

    m_ByteToggle = add (new juce::ToggleButton ("new toggle button"));
    m_ByteToggle->setButtonText ("Byte");
    m_ByteToggle->setRadioGroupId (1);
    m_ByteToggle->addListener (this);

    m_FlashOffsetEditor = add (new juce::TextEditor ("new text editor"));
    SetUpHexEditor (*m_FlashOffsetEditor);

    m_MCULabel = add (new juce::Label ("new label"));
    SetUpLabel (*m_MCULabel, "MCU:");

    m_MCUCombo = add (new juce::ComboBox ("new combo box"));
    SetUpCombo (*m_MCUCombo);
    m_MCUCombo->addListener (this);

    m_ProgressBar = add (new juce::ProgressBar (m_dProgress));

    m_WholeToggle = add (new juce::ToggleButton ("new toggle button"));
    m_WholeToggle->setButtonText ("418_whole");
    m_WholeToggle->setRadioGroupId (2);
    m_WholeToggle->addListener (this);

    m_SoftwareToggle = add (new juce::ToggleButton ("new toggle button"));
    m_SoftwareToggle->setButtonText ("428_software");
    m_SoftwareToggle->setRadioGroupId (2);
    m_SoftwareToggle->addListener (this);

    m_VoiceToggle = add (new juce::ToggleButton ("new toggle button"));
    m_VoiceToggle->setButtonText ("428_voice");
    m_VoiceToggle->setRadioGroupId (2);
    m_VoiceToggle->addListener (this);

    resized();
}

juce::Array<juce::Component*> MainComponent::GetWidgets() const
{
    return { m_ReconnectButton, m_StatusLabel, m_FileOffsetEditor, m_FileOffsetLabel, m_FlashOffsetLabel,
             m_WriteLengthLabel, m_WriteLengthEditor, m_LogEditor, m_WriteOptionGroup, m_ProgramButton,
             m_HelpButton, m_FlashTypeCombo, m_FlashTypeLabel, m_FlashPageLabel, m_FlashPageEditor,
             m_FileLabel, m_BrowseButton, m_WordToggle, m_ByteToggle, m_FlashOffsetEditor, m_MCULabel,
             m_MCUCombo, m_ProgressBar, m_WholeToggle, m_SoftwareToggle, m_VoiceToggle };
}

void MainComponent::BuildDataPaths()
{
    // Where each file lies: platform/ProgramFolder.h.
    auto build = [] (wchar_t* dst, const juce::String& relative, DataFileKind kind)
    {
        const auto path = GetDataFilePath (relative, kind);
        // A path cut at the end of its buffer would name another file: it stays empty instead.
        PathCopy (dst, path.length() < kMaxPath ? path : juce::String());
    };
    build (m_szFlashPgmPath, "QvDoc\\flashpgm.bin", DataFileKind::Fixed);
    build (m_szSpecial418Path, "QvDoc\\Special418.bin", DataFileKind::Fixed);
    build (m_szBoot2Path, "QvDoc\\boot2.bin", DataFileKind::Fixed);
    build (m_szSpecialPath, "QvDoc\\Special.bin", DataFileKind::Fixed);
    build (m_szLogoPath, "QvDoc\\Logo.PNG", DataFileKind::Fixed);
    build (m_szCompareTempPath, "QvDoc\\Comparetemp.rom", DataFileKind::Scratch);
    build (m_szConfigPath, "QvDoc\\config.ini", DataFileKind::Settings);
    build (m_szFlashPgmRomPath, "flashpgm.rom", DataFileKind::Scratch);
    build (m_szSec0Path, "SEC0.rom", DataFileKind::Scratch);
    build (m_szSec1Path, "SEC1.rom", DataFileKind::Scratch);
    build (m_szHelpPath, "Help.pdf", DataFileKind::Fixed);
    PathCopy (g_szDriverDir, GetDataFilePath ("Drivers", DataFileKind::Drivers));
}

void MainComponent::paint (juce::Graphics& g)
{
    g.fillAll (juce::Colour (0xFFFFFFFF));
    if (m_LogoImage.isValid())
        g.drawImage (m_LogoImage, 16, 130, 136, 26, 0, 0, m_LogoImage.getWidth(), m_LogoImage.getHeight(), false);
}

void MainComponent::resized()
{
    const auto widgets = GetWidgets();
    for (int i = 0; i < widgets.size(); ++i)
        if (widgets[i] != nullptr)
        {
            const auto& b = kWidgetBounds[i];
            widgets[i]->setBounds (b.x, b.y, b.w, b.h);
        }
}

void MainComponent::EnableTypeCombos (bool enabled)
{
    m_FlashTypeCombo->setEnabled (enabled);
    m_MCUCombo->setEnabled (enabled);
}

void MainComponent::PostJobEnd()
{
    postMessage (new NotifyMessage (kStepStartMessage, 1, 1));
}

void MainComponent::SetFileName (const juce::String& text)
{
    m_FileLabel->setText (text, juce::dontSendNotification);
    m_FileLabel->setTooltip (text);
}

void MainComponent::ShowStatus (const juce::String& text, juce::Colour colour)
{
    m_StatusLabel->setColour (juce::Label::textColourId, colour);
    m_StatusLabel->setText (text, juce::dontSendNotification);
}

juce::String MainComponent::GetLogText() const     { m_LogEditor->FlushPending(); return m_LogEditor->getText(); }
juce::String MainComponent::GetStatusText() const  { return m_StatusLabel->getText(); }
juce::Colour MainComponent::GetStatusColour() const { return m_StatusLabel->findColour (juce::Label::textColourId); }
juce::String MainComponent::GetFileLabelText() const { return m_FileLabel->getText(); }

void MainComponent::SetWordMode (bool wordMode)
{
    m_bWordMode = wordMode;
    m_WordToggle->setToggleState (wordMode, juce::dontSendNotification);
    m_ByteToggle->setToggleState (! wordMode, juce::dontSendNotification);
    m_JobRunner.SetWordMode (wordMode);
}

int MainComponent::ReadHexField (juce::TextEditor* editor) const
{
    return editor->getText().getHexValue32();
}

int MainComponent::PageValue() const
{
    return ReadHexField (m_FlashPageEditor);
}
