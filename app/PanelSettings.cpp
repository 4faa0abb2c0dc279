// The panel's side of the driver catalogs and the last-used settings.
#include "app/MainComponent.h"
#include "link/SysExPace.h"
#include "platform/Wine.h"
#include "store/shared/ProgramGlobals.h"

int MainComponent::ReadFlashInfo (const wchar_t* fileName, _STR_FLASH_INFO* info)
{
    return ::ReadFlashInfo (m_Logger, fileName, info);
}

int MainComponent::FindFlashDrivers()
{
    const int count = ScanFlashDrivers (m_Logger, m_AllFlashList, m_MCUList);
    const auto names = GetMCUNames (m_MCUList);
    for (int i = 0; i < names.size(); ++i)
        m_MCUCombo->addItem (names[i], i + 1);
    return count;
}

void MainComponent::FillFlashTypes()
{
    m_FlashTypeCombo->clear (juce::dontSendNotification);
    const int id = m_MCUCombo->getSelectedId();
    m_FlashList.Reset();
    if (id <= 0)
        return;
    const auto* mcu = m_MCUList.GetAt (id);
    if (mcu == nullptr)
        return;
    juce::StringArray names;
    const int n = CopyFlashRecordsForMCU (m_AllFlashList, mcu->szName, m_FlashList, &names);
    for (int i = 0; i < names.size(); ++i)
        m_FlashTypeCombo->addItem (names[i], i + 1);
    if (n > 0)
        m_FlashTypeCombo->setSelectedId (1, juce::sendNotification);
}

_STR_FLASH_INFO* MainComponent::GetSelectedFlash()
{
    const int id = m_FlashTypeCombo->getSelectedId();
    return id > 0 ? m_FlashList.GetAt (id) : nullptr;
}

void MainComponent::StoreLastSave()
{
    _STR_PRESET record {};
    // The fields the panel has no controls for keep what the file held.
    if (const auto* last = m_Preset.Get (-1))
        CopyFieldsWithoutControls (*last, record);
    record.PresetName[0] = 0;
    PathCopy (record.MCUName, m_MCUCombo->getText());
    PathCopy (record.FlashName, m_FlashTypeCombo->getText());
    auto hex = [] (juce::TextEditor* e)
    {
        uint32_t v = 0;
        for (auto c : e->getText())
        {
            const int d = juce::CharacterFunctions::getHexDigitValue (c);
            if (d >= 0)
                v = (v << 4) | (uint32_t) d;
        }
        return (int32_t) v;
    };
    record.FlashPage = hex (m_FlashPageEditor);
    record.FileOffset = hex (m_FileOffsetEditor);
    record.WriteLength = hex (m_WriteLengthEditor);
    record.FlashOffset = hex (m_FlashOffsetEditor);
    PathCopy (record.NameWrite, m_FileLabel->getText());
    record.UserWordAddress = m_WordToggle->getToggleState();
    m_Preset.Put (&record);
}

void MainComponent::RestoreLastSave()
{
    const auto* last = m_Preset.Get (-1);
    if (last == nullptr)
    {
        m_Logger.Print ("Something error... Can't load preset.\n");
    }
    else
    {
        m_MCUCombo->setText (ToString (last->MCUName), juce::dontSendNotification);
        FillFlashTypes();
        m_FlashTypeCombo->setText (ToString (last->FlashName), juce::sendNotification);
        auto hex = [] (int32_t v) { return juce::String::toHexString ((int) v); };
        m_FlashPageEditor->setText (hex (last->FlashPage), true);
        m_FileOffsetEditor->setText (hex (last->FileOffset), true);
        m_WriteLengthEditor->setText (hex (last->WriteLength), true);
        m_FlashOffsetEditor->setText (hex (last->FlashOffset), true);
        SetFileName (ToString (last->NameWrite));
        SetWordMode (last->UserWordAddress);
    }
    if (m_FlashTypeCombo->getSelectedId() == 0 && m_FlashTypeCombo->getNumItems() > 0)
        m_FlashTypeCombo->setSelectedId (1);
}

void MainComponent::ApplyPacing()
{
    const auto& text = m_Preset.GetPaceText();
    const auto choice = ParsePaceChoice (text);
    if (! choice)
        m_Logger.Print ("config.ini: [Pacing] Pace=%s is no pace (auto, or BYTES:MS, BYTES from %d to %d, MS up to %d, "
                        "such as 256:90); each SysEx is sent whole.\n",
                        text.toRawUTF8(), kMinPieceBytes, kMaxPieceBytes, kMaxGapMs);
    SetSettingsPaceChoice (choice.value_or (PaceChoice {}));
    SetFoundSysExPace ({});

    const auto now = CurrentPaceChoice();
    if (! now.automatic && now.fixed.IsOff())
        return;
    if (RunningUnderWine())
        m_Logger.Print ("Pacing %s is not used under Wine: its MIDI driver takes every piece of a SysEx as a message "
                        "of its own, so each SysEx is sent whole.\n", PaceChoiceText (now).toRawUTF8());
    else if (now.automatic)
        m_Logger.Print ("Pacing auto: each update finds its pace, sending slower wherever bytes are lost on the way.\n");
    else
        m_Logger.Print ("Each SysEx is sent in pieces of at most %d bytes, %d ms apart (pacing %s).\n",
                        now.fixed.pieceBytes, now.fixed.gapMs, SysExPaceText (now.fixed).toRawUTF8());
}
