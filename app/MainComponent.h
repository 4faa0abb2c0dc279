#pragma once
// The one content component of the window. It owns every running part of the
// program (log, presets, job runner with the device link, catalogs) and its
// 26 widgets; its constructor is the program's start-up.
#include <juce_gui_basics/juce_gui_basics.h>
#include "jobs/JobObserver.h"
#include <set>
#include "jobs/AutoPace.h"
#include "jobs/JobPurpose.h"
#include "jobs/JobRunner.h"
#include "jobs/SwitchPause.h"
#include "store/shared/Notifications.h"
#include "store/shared/Troubles.h"
#include "platform/FolderListing.h"
#include "platform/Paths.h"
#include "store/FileDragButton.h"
#include "store/FlashCatalog.h"
#include "store/Logger.h"
#include "store/Preset.h"

class MainComponent : public juce::Component,
                      public juce::MessageListener,
                      public juce::Button::Listener,
                      public juce::ComboBox::Listener
{
public:
    MainComponent();
    ~MainComponent() override;

    //==== Component ===========================================================
    /** White background and the logo. */
    void paint (juce::Graphics& g) override;
    /** Every widget at its fixed bounds. */
    void resized() override;

    //==== notifications, buttons, lists =======================================
    /** Connection state, file drops, job progress and the update flow. */
    void handleMessage (const juce::Message& message) override;
    /** "Program", "Browse..." and "Help". */
    void buttonClicked (juce::Button* button) override;
    /** A change of the MCU list queues the upload and check of the driver being tried. */
    void comboBoxChanged (juce::ComboBox* combo) override;

    //==== operations used across the program ==================================
    /** Enables or disables the two type combo boxes together. */
    void EnableTypeCombos (bool enabled);
    /** Posts the normal end of a job to the panel itself. */
    void PostJobEnd();
    /** Shows a path (or text) in the file label and its tooltip. */
    void SetFileName (const juce::String& text);
    /** Scans the driver folder into the catalogs and fills the MCU list. */
    int FindFlashDrivers();
    /** Reads one driver file's names into a record; 0 on success. */
    int ReadFlashInfo (const wchar_t* fileName, _STR_FLASH_INFO* info);
    /** Rebuilds the flash type list for the selected MCU. */
    void FillFlashTypes();
    /** The selected flash type's record, or null. */
    _STR_FLASH_INFO* GetSelectedFlash();
    /** Panel values to the last-used record. */
    void StoreLastSave();
    /** Last-used record to the panel. */
    void RestoreLastSave();
    /** The settings file's pace of SysEx sends to the outputs; a value that is none is logged and taken as off. */
    void ApplyPacing();
    /** Starts the connection again after a failure. */
    void RestartConnection();
    /** Accounts for the finished step and starts the next; true when the queue is exhausted. */
    bool AdvanceJob();

    //==== job engine: range checks and workflows =============================
    /** Reads the sector table of a driver file; true on failure. */
    bool LoadSectorTable (const wchar_t* driverPath);
    /** Checks the panel's range against the file and the sectors; true on failure. */
    bool ValidateRange();
    /** Sectors described by the driver named by the search path; 1 when it cannot be opened. */
    int32_t CountDriverSectors();
    /** The file write with read-back verification. */
    void StartFileJob();
    /** The update of a QVM410 module. */
    void StartQvm410Job();
    /** The update of a QVM428 module. */
    void StartQvm428Job();
    /** Erases one chip of the two-chip flow. */
    void StartEraseJob();
    /** "Only what changed": each range is read first and written only when it differs (config.ini [Update] OnlyChanged). */
    void SetOnlyChanged (bool onlyChanged) { m_bOnlyChanged = onlyChanged; }
    bool IsOnlyChanged() const { return m_bOnlyChanged; }
    /** Bytes of the image the last update found already in place, and those it wrote ("only what changed"). */
    int64_t GetInPlaceBytes() const { return m_nInPlaceBytes; }
    int64_t GetWrittenBytes() const { return m_nWrittenBytes; }
    /** Programs one chip of the two-chip flow, with verify. */
    void StartProgramJob();

    //==== front ends without the window ======================================
    /** Reports phases, steps, progress, differences and log text to `observer` (null: nobody). */
    void SetJobObserver (JobObserver* observer);
    /** What the next "Program" runs for once the driver is found; a read takes `read`. */
    void SetJobPurpose (JobPurpose purpose, const ReadRequest& read = {});
    /** The read the settings file holds (NameRead, ReadOffset, ReadLength, the page), in bytes. */
    ReadRequest GetReadSettings();
    /** Reads the requested range into its file: the read purpose's job. */
    void StartReadJob();

    //==== inspection (tests, demo) ===========================================
    /** The job runner. */
    CJobRunner& GetJobRunner() { return m_JobRunner; }
    /** The log sink. */
    CLogger& GetLogger() { return m_Logger; }
    /** The preset store. */
    CLocalPreset& GetPresets() { return m_Preset; }
    /** The log pane's text. */
    juce::String GetLogText() const;
    /** The status line's text. */
    juce::String GetStatusText() const;
    /** The status line's text colour. */
    juce::Colour GetStatusColour() const;
    /** The file label's text. */
    juce::String GetFileLabelText() const;
    /** The value the progress bar shows. */
    double GetProgress() const { return m_dProgress; }
    /** Whether the pause of the switch into the loader runs. */
    bool IsSwitchPausing() const { return m_SwitchPause.IsRunning(); }
    /** Whether an update runs, or the switch into the loader that starts one. */
    static bool IsUpdateUnderWay();
    /** Whether there is no logo (status wording). */
    bool HasNoLogo() const { return m_bNoLogo; }
    /** Which marker place the chosen file uses. */
    int GetImageBank() const { return m_nImageBank; }
    /** Total bytes of the running job, and those done. */
    int GetTotalBytes() const { return m_nTotalBytes; }
    /** Bytes of the finished program or erase steps. */
    int GetDoneBytes() const { return m_nDoneBytes; }
    /** Index of the sector where the checked range begins (tests). */
    int32_t GetRangeFirst() const { return m_nRangeFirst; }
    /** Index of the first sector after the checked range (tests). */
    int32_t GetRangeEnd() const { return m_nRangeEnd; }
    /** Sectors in the loaded sector table (tests). */
    int32_t GetSectorEntries() const { return m_nSectorEntries; }
    /** Widgets by role, for tests. */
    juce::TextButton* GetProgramButton() { return m_ProgramButton; }
    juce::TextButton* GetHelpButton() { return m_HelpButton; }
    CFileDragButton* GetBrowseButton() { return m_BrowseButton; }
    juce::ProgressBar* GetProgressBar() { return m_ProgressBar; }
    juce::ComboBox* GetMCUCombo() { return m_MCUCombo; }
    juce::ComboBox* GetFlashTypeCombo() { return m_FlashTypeCombo; }
    juce::TextEditor* GetFileOffsetEditor() { return m_FileOffsetEditor; }
    juce::TextEditor* GetFlashOffsetEditor() { return m_FlashOffsetEditor; }
    juce::TextEditor* GetWriteLengthEditor() { return m_WriteLengthEditor; }
    juce::TextEditor* GetFlashPageEditor() { return m_FlashPageEditor; }
    juce::ToggleButton* GetWordToggle() { return m_WordToggle; }
    juce::ToggleButton* GetByteToggle() { return m_ByteToggle; }
    /** Every widget in creation order. */
    juce::Array<juce::Component*> GetWidgets() const;
    /** Sets word or byte units as the toggles would (tests). */
    void SetWordMode (bool wordMode);
    /** Runs the "Browse..." measuring of the file label's file (also used after a drop). */
    void MeasureChosenFile();
    /** The data-folder paths. */
    const wchar_t* GetCompareTempPath() const { return m_szCompareTempPath; }
    const wchar_t* GetConfigPath() const { return m_szConfigPath; }

private:
    void BuildWidgets();
    void BuildDataPaths();
    void ShowStatus (const juce::String& text, juce::Colour colour);
    /** The status line of a connected module, with its FS flag; the search count starts again. */
    void ShowConnected (bool fs);
    /** The status line of a search; "Program" disabled. */
    void ShowSearching();
    /** Whether "Browse..." or a drop may choose another file now. A switch into the
        loader that still waits for the module's application-mode answer has sent
        nothing yet: it is called off, and the file chosen is for the next "Program". */
    bool MayChooseFile();
    void DeliverStop();
    void OnProgramClicked();
    void OnBrowseClicked();
    void OnHelpClicked();
    void OnMCUChanged();
    void OnConnectionMessage (const NotifyMessage& m);
    void OnJobMessage (const NotifyMessage& m);
    void OnProgress (const NotifyMessage& m);
    void OnModeSwitch (int argument);
    void ProbeRestartedModule();
    /** Moves the driver-folder enumeration to the next entry worth trying (from the
        current one when `advance` is false), logging every entry passed over; false when none is left. */
    bool SeekDriverEntry (bool advance);
    /** Why an entry of the driver folder is not tried; empty when it is a driver of the catalog. */
    juce::String WhyNoDriver (const FolderEntry& entry, const wchar_t* path) const;
    /** Queues the upload of the entry the enumeration stands on and the flash check. */
    void TryDriverEntry();
    /** "auto" pacing: the update starts at the pace found for the module's port before, or whole. */
    void BeginAutoPace();
    /** A step failed as lost bytes do (Communication::kLostBytes): a slower pace and
        its group again, or the error box as the link would have shown it. */
    void OnLostBytes (ErrorCode code);
    /** A compare failed under "auto" pacing on an interface known to lose bytes: one rung slower. */
    void StepDownForCompare();
    /** Tells the log and the observer what "auto" pacing did. */
    void ReportPace (PaceReport::What what, int code, const char* stoppedBecause = "");
    void RunPhaseMachine();
    void EndJob();
    void FailUpdateFlow();
    void StopWithError (ErrorCode code);
    /** Reports the error to the observer and opens its box "Error Code N". */
    void ShowErrorCode (ErrorCode code);
    bool BeginWorkflow (bool needsFile, const wchar_t* check1, ErrorCode error1,
                        const wchar_t* check2, ErrorCode error2,
                        _STR_FLASH_INFO& flash, wchar_t* file, int& end);
    void FinishWorkflow (bool storeLastSave);
    void AddVerifyGroup (const wchar_t* driver, const wchar_t* file, int page, int w, int n);
    void AddVerifyGroups (const wchar_t* driver, const wchar_t* file, uint32_t from, int end, int block);
    void DeleteScratchFiles();
    bool OnlyChangedJob() const;
    /** The end of the sectors an erase of `dataBytes` from the sector at `flashByte` covers; -1 when `flashByte` starts none. */
    int64_t EraseExtentEnd (int64_t flashByte, int64_t dataBytes) const;
    /** An erase and program of `file` from `srcByte` to `flashByte`, `lengthBytes` long, one unit per sector:
        each checked first, then (`verify`) erased, programmed, read back and compared as a verify group. */
    void AddCheckedUnits (const wchar_t* driver, const wchar_t* file, int page, int64_t srcByte, int64_t flashByte,
                          int64_t lengthBytes, bool verify);
    /** A zero block, checked first. */
    void AddCheckedZero (const wchar_t* driver, int page, int w);
    /** A check step found its range in place. */
    void OnRangeInPlace (const _STR_JOB_STEP& step);
    int ReadHexField (juce::TextEditor* editor) const;
    int PageValue() const;
    int UnitBytes() const { return m_bWordMode ? 2 : 1; }
    bool CheckChosenImage();
    FlowPhase CurrentFlowPhase() const;
    void ReportPhase();
    void ReportProgress (const char* activity, int64_t done);
    void ReportOutcome (const JobOutcome& outcome);
    /** Reports the outcome to the observer, then opens its box with its text. */
    void ShowOutcomeBox (const JobOutcome& outcome);
    void ShowReadProgress (int64_t stepDone);
    void StopVerifyAtDifference();
    int QueuedReadBytes() const;

    //==== members, in the order the panel keeps them ==========================
    double m_dProgress = 0.0;
    bool m_bNoLogo = false;
    wchar_t m_szSec0Path[kMaxPath] {};
    wchar_t m_szSec1Path[kMaxPath] {};
    wchar_t m_szFlashPgmPath[kMaxPath] {};
    wchar_t m_szBoot2Path[kMaxPath] {};
    wchar_t m_szSpecialPath[kMaxPath] {};
    wchar_t m_szSpecial418Path[kMaxPath] {};
    wchar_t m_szLogoPath[kMaxPath] {};
    wchar_t m_szFlashPgmRomPath[kMaxPath] {};
    wchar_t m_szCompareTempPath[kMaxPath] {};
    wchar_t m_szHelpPath[kMaxPath] {};
    uint8_t m_nImageBank = 0;
    juce::TooltipWindow m_TooltipWindow;
    wchar_t m_szConfigPath[kMaxPath] {};
    CLogger m_Logger;
    bool m_bWordMode = true;
    CLocalPreset m_Preset;
    CJobRunner m_JobRunner;
    CSwitchPause m_SwitchPause;   // the wait while the module restarts into its loader
    CSwitchPause m_PacePause;     // "auto" pacing: the wait for the module's answers to a cut message
    CAutoPace m_AutoPace;         // "auto" pacing over the update in progress
    bool m_bAutoPace = false;     // the update in progress finds its pace
    juce::String m_strPacePort;   // the module's output port, whose found pace is remembered
    int m_nJobKind = 0;
    int m_bRetrying = 0;
    uint32_t m_nStartTick = 0;
    int m_nTotalBytes = 0;
    int m_nDoneBytes = 0;
    std::vector<uint8_t> m_pDriverImage;
    std::vector<_STR_SECTOR> m_pSectorTable;
    int32_t m_nSectorEntries = 0;
    int32_t m_nRangeFirst = 0;
    int32_t m_nRangeEnd = 0;
    CMCUList m_MCUList;
    CFlashLinkList m_AllFlashList;
    CFlashLinkList m_FlashList;

    juce::TextButton* m_ReconnectButton = nullptr;
    juce::Label* m_StatusLabel = nullptr;
    juce::TextEditor* m_FileOffsetEditor = nullptr;
    juce::Label* m_FileOffsetLabel = nullptr;
    juce::Label* m_FlashOffsetLabel = nullptr;
    juce::Label* m_WriteLengthLabel = nullptr;
    juce::TextEditor* m_WriteLengthEditor = nullptr;
    CLogEditor* m_LogEditor = nullptr;
    juce::GroupComponent* m_WriteOptionGroup = nullptr;
    juce::TextButton* m_ProgramButton = nullptr;
    juce::TextButton* m_HelpButton = nullptr;
    juce::ComboBox* m_FlashTypeCombo = nullptr;
    juce::Label* m_FlashTypeLabel = nullptr;
    juce::Label* m_FlashPageLabel = nullptr;
    juce::TextEditor* m_FlashPageEditor = nullptr;
    juce::Label* m_FileLabel = nullptr;
    CFileDragButton* m_BrowseButton = nullptr;
    juce::ToggleButton* m_WordToggle = nullptr;
    juce::ToggleButton* m_ByteToggle = nullptr;
    juce::TextEditor* m_FlashOffsetEditor = nullptr;
    juce::Label* m_MCULabel = nullptr;
    juce::ComboBox* m_MCUCombo = nullptr;
    juce::ProgressBar* m_ProgressBar = nullptr;
    juce::ToggleButton* m_WholeToggle = nullptr;
    juce::ToggleButton* m_SoftwareToggle = nullptr;
    juce::ToggleButton* m_VoiceToggle = nullptr;

    juce::Image m_LogoImage;
    std::unique_ptr<juce::FileChooser> m_pChooser;
    bool m_bChoosingFile = false;   // the file dialog is open: no box may open beneath it

    JobObserver* m_pObserver = nullptr;
    JobPurpose m_JobPurpose = JobPurpose::Update;
    ReadRequest m_ReadRequest;
    FlowPhase m_LastPhase = FlowPhase::Idle;
    FlowPhase m_WorkPhase = FlowPhase::Update;   // what the workflow the phase machine starts does
    bool m_bOnlyChanged = false;                 // "only what changed"
    int64_t m_nInPlaceBytes = 0;                 // image bytes found in place by this update's checks
    int64_t m_nWrittenBytes = 0;                 // image bytes of the ranges it found different and wrote
    int m_nPassInPlaceBytes = 0;                 // two-chip program pass: bytes of its sectors found in place
    std::set<int64_t> m_InPlaceSectors;          // two-chip flow: (page << 32) + sector start found in place by the erase pass

    JUCE_DECLARE_NON_COPYABLE_WITH_LEAK_DETECTOR (MainComponent)
};
