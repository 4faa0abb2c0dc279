// What the panel's buttons and its MCU list do.
#include "app/MainComponent.h"
#include "app/ChosenImage.h"
#include "store/shared/ProgramHooks.h"
#include "store/shared/ProgramGlobals.h"
#include "store/shared/Notifications.h"
#include "platform/SystemCalls.h"

void MainComponent::buttonClicked (juce::Button* button)
{
    if (button == m_ProgramButton)
        OnProgramClicked();
    else if (button == m_BrowseButton)
        OnBrowseClicked();
    else if (button == m_HelpButton)
        OnHelpClicked();
}

bool MainComponent::CheckChosenImage()
{
    // A file that "Browse..." could not measure cannot be programmed either.
    int bank = 0;
    if (const auto error = CheckImageFile (m_FileLabel->getText(), bank))
    {
        StopWithError (error);
        return false;
    }
    m_nImageBank = (uint8_t) bank;
    return true;
}

void MainComponent::OnProgramClicked()
{
    // A queued "connected" notification can enable the button again while an
    // update runs: such a click does nothing.
    if (! g_bConnected || g_nJobPhase != 0)
        return;
    auto& link = m_JobRunner.GetLink();

    // A read takes nothing from an image.
    if (m_JobPurpose != JobPurpose::Read && ! CheckChosenImage())
        return;

    if (g_hFind != nullptr)
    {
        FindCloseListing (g_hFind);
        g_hFind = nullptr;
    }
    PathCopy (g_szDriverSearch, g_szDriverDir);
    PathAppend (g_szDriverSearch, PathSeparator());
    PathAppend (g_szDriverSearch, L"*.*");
    g_hFind = FindFirstEntry (g_szDriverSearch, &g_FindData);
    if (g_hFind == nullptr)
        return;
    if (! SeekDriverEntry (false))
    {
        // The log stays as it was, with the entries the search passed over.
        link.StopTimer();
        ShowErrorCode (kErrNoDriverFits);
        DeliverStop();
        FindCloseListing (g_hFind);
        g_hFind = nullptr;
        return;
    }
    // The lines about the entries passed over are still on their way to the
    // pane: they follow the Clear and open the new log.
    m_Logger.Clear();

    if (g_nDeviceFamily == 1)
    {
        g_strMCUName = "QVM410";
        g_nSwitchState = 1;
    }
    else
    {
        g_strMCUName = "QVM428";
        g_nJobPhase = 1;
        handleMessage (NotifyMessage (kModeSwitchMessage, 1));
    }
    m_ProgramButton->setEnabled (false);
}

bool MainComponent::IsUpdateUnderWay()
{
    return g_nJobPhase != 0 || g_nSwitchState != 0;
}

bool MainComponent::MayChooseFile()
{
    uint8_t waiting = 1;
    if (g_nSwitchState.compare_exchange_strong (waiting, 0))
    {
        m_Logger.Print ("Another file is being chosen: the module is not switched into its loader until \"Program\" is pressed again.\n");
        FindCloseListing (g_hFind);
        g_hFind = nullptr;
    }
    return ! IsUpdateUnderWay();
}

void MainComponent::OnBrowseClicked()
{
    // A file dialog open when the update ends would hide the completion box
    // beneath it; and the file of a running update stays what it is.
    if (m_bChoosingFile || ! MayChooseFile())
        return;
    juce::File chosen;
    m_bChoosingFile = true;
    if (auto hook = GetFileChooserHook())
    {
        chosen = hook();
    }
    else
    {
        m_pChooser = std::make_unique<juce::FileChooser> ("Choose a bin file to save sound bank...", juce::File(), "*.bin;*.rom");
        if (m_pChooser->browseForFileToOpen())
            chosen = m_pChooser->getResult();
        m_pChooser.reset();
    }
    m_bChoosingFile = false;
    if (chosen != juce::File())
        SetFileName (chosen.getFullPathName());
    MeasureChosenFile();
}

void MainComponent::MeasureChosenFile()
{
    const int64_t size = MeasureImageFile (m_FileLabel->getText());
    if (! IsUsableImageSize (size))
    {
        m_Logger.Print ("Please choose Write File!\n");
        return;
    }
    g_nFileSize = (int) size;
    g_bFullImage = size == kFullImageSize;
}

void MainComponent::OnHelpClicked()
{
    OpenDocument (m_szHelpPath);
}

void MainComponent::comboBoxChanged (juce::ComboBox* combo)
{
    if (combo == m_MCUCombo)
        OnMCUChanged();
}

void MainComponent::OnMCUChanged()
{
    const juce::String tried = ToString (g_szDriverSearch);
    m_FlashTypeCombo->clear (juce::dontSendNotification);
    m_FlashList.Reset();
    m_AllFlashList.MoveFirst();

    int count = 0;
    while (auto* record = m_AllFlashList.GetNext())
    {
        ++count;
        m_FlashTypeCombo->addItem (CatalogNameToString (record->szFlashName), count);
        auto* copy = new _STR_FLASH_INFO (*record);
        if (m_FlashList.Add (copy) != 0)
            delete copy;
        if (ToString (record->szDriverPath) == tried)
        {
            g_strMCUName = CatalogNameToString (record->szMCUName);
            // Selected by its id: two drivers may carry the same flash name.
            m_FlashTypeCombo->setSelectedId (count, juce::sendNotification);
            m_JobRunner.AddSendDriver (g_szDriverSearch);
            m_JobRunner.AddCheckFlash (0);
            m_JobRunner.RunNext();
            m_JobRunner.GetLink().StartProbeTimer();
            return;
        }
    }

    m_Logger.Print ("Can't find correct Flash Driver!\n");
    // An update waiting for this driver has nothing left to wait for: end it as a failure.
    if (g_nJobPhase != 0)
        FailUpdateFlow();
}
