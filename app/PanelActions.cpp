// What the panel's buttons and its MCU list do.
#include "app/MainComponent.h"
#include "app/Hooks.h"
#include "link/Globals.h"
#include "link/Messages.h"
#include "platform/SystemCalls.h"

namespace
{
    constexpr int64_t kFullImageSize = 0x0C000000;

    /** Reads two bytes at an offset; false when the file is shorter. */
    bool ReadPair (std::FILE* f, long offset, uint8_t* pair)
    {
        return std::fseek (f, offset, SEEK_SET) == 0 && std::fread (pair, 1, 2, f) == 2;
    }
}

void MainComponent::buttonClicked (juce::Button* button)
{
    if (button == m_ProgramButton)
        OnProgramClicked();
    else if (button == m_BrowseButton)
        OnBrowseClicked();
    else if (button == m_HelpButton)
        OnHelpClicked();
}

void MainComponent::OnProgramClicked()
{
    if (! g_bConnected)
        return;
    auto& link = m_JobRunner.GetLink();

    std::FILE* f = OpenFileW (m_FileLabel->getText(), "rb");
    if (f == nullptr)
    {
        StopWithError ("Error Code 23\n");
        return;
    }
    uint8_t low[2] {}, high[2] {};
    const bool hasLow = ReadPair (f, 0xFFF8, low);
    const bool hasHigh = ReadPair (f, 0x3FFF8, high);
    std::fclose (f);

    int n = 0;
    if (hasLow && low[0] == 'B' && low[1] == 'D')
    {
        n = 1;
        m_nImageBank = 0;
    }
    if (hasHigh && high[0] == 'B' && high[1] == 'D')
    {
        n += 1;
        m_nImageBank = 1;
    }
    if (n == 0)
    {
        StopWithError ("Error Code 24\n");
        return;
    }

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
    while (g_FindData.szName[0] == L'.')
    {
        if (! FindNextEntry (g_hFind, &g_FindData))
        {
            link.StopTimer();
            ShowErrorBox ("Error Code 21\n");
            DeliverStop();
            FindCloseListing (g_hFind);
            g_hFind = nullptr;
            return;
        }
    }

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
    m_Logger.Clear();
    m_ProgramButton->setEnabled (false);
}

void MainComponent::OnBrowseClicked()
{
    juce::File chosen;
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
    if (chosen != juce::File())
        SetFileName (chosen.getFullPathName());
    MeasureChosenFile();
}

void MainComponent::MeasureChosenFile()
{
    const auto path = m_FileLabel->getText().substring (0, kMaxPath);
    std::FILE* f = OpenFileW (path, "rb");
    const int64_t size = f != nullptr ? FileSize64 (f) : -1;
    if (f != nullptr)
        std::fclose (f);
    // Sizes are kept in 32 bits: a file of 2 GiB or more cannot be used.
    if (f == nullptr || size < 0 || size > std::numeric_limits<int>::max())
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
