#pragma once
// One job of kestrava-cli through the real panel, headless: the panel is
// built as the window builds it, the image chosen as "Browse..." measures it,
// "Program" pressed once the module shows as connected, and the message loop
// runs until the panel reports how the job ended or the quit request comes.
// What the panel reports goes to the printer.
#include <functional>
#include <memory>
#include "app/MainComponent.h"
#include "cli/CliOptions.h"
#include "cli/EventPrinter.h"

class JobSession : private JobObserver, private juce::Timer
{
public:
    /** A session that prints through `printer`. */
    explicit JobSession (EventPrinter& printer);
    ~JobSession() override;

    /** Runs the job the options ask for ("update", "read" or "verify"); the exit status. */
    int Run (const CliOptions& options);
    /** Called right after "Program" was pressed (the simulated module's faults). */
    void SetProgramHook (std::function<void()> hook) { m_OnProgram = std::move (hook); }

private:
    // JobObserver
    void OnConnected (bool fs) override;
    void OnPhase (FlowPhase phase) override;
    void OnStep (int index, int count, const _STR_JOB_STEP& step) override;
    void OnProgress (const char* activity, int64_t done, int64_t total) override;
    void OnOutcome (const JobOutcome& outcome) override;
    void OnLogText (const juce::String& text) override;
    void OnPace (const PaceReport& report) override;

    void timerCallback() override;
    bool Prepare (const CliOptions& options);
    void OnBox (juce::MessageBoxIconType icon, const juce::String& text);
    void OnQuit();
    void EndedWithoutCompletion();
    void Fail (const juce::String& reason);
    void Finish (int status);
    void Report (int status);

    EventPrinter& m_Printer;
    std::unique_ptr<MainComponent> m_pPanel;
    JobPurpose m_Purpose = JobPurpose::Update;
    juce::File m_Image;                 // update and verify
    ReadRequest m_Read;                 // read
    int m_nStatus = -1;                 // the exit status once the job has ended
    bool m_bPressed = false;            // "Program" was pressed
    bool m_bStarted = false;            // the update flow left its idle phase
    bool m_bReadStarted = false;        // the read step began writing its file
    int64_t m_nDifference = -1;         // a verify's first difference
    juce::String m_strCompleted;        // the completion box's text
    int64_t m_nInPlaceBytes = -1;       // --only-changed: image bytes found in place
    int64_t m_nWrittenBytes = -1;       // --only-changed: image bytes written
    std::optional<SysExPace> m_FoundPace;   // pacing auto: the pace the job ended with
    double m_dInterruptedAt = 0;        // when the interrupt was first seen (ms)
    std::function<void()> m_OnProgram;
};
