// The two jobs that write nothing: a read of a flash range into a file, and
// a verify, which runs the fitting workflow with every writing step left out.
#include <algorithm>
#include <limits>
#include "app/MainComponent.h"
#include "store/shared/ProgramGlobals.h"
#include "platform/SystemCalls.h"

void MainComponent::SetJobPurpose (JobPurpose purpose, const ReadRequest& read)
{
    m_JobPurpose = purpose;
    m_ReadRequest = read;
    m_JobRunner.SetReadOnly (purpose == JobPurpose::Verify);
}

ReadRequest MainComponent::GetReadSettings()
{
    ReadRequest r;
    if (const auto* last = m_Preset.Get (-1))
    {
        r.path = ToString (last->NameRead);
        r.offset = (int64_t) (uint32_t) last->ReadOffset * UnitBytes();
        r.length = (int64_t) (uint32_t) last->ReadLength * UnitBytes();
    }
    r.page = PageValue();
    return r;
}

void MainComponent::StartReadJob()
{
    m_JobRunner.ClearSteps();
    m_nStartTick = GetTickCount();
    m_bRetrying = 0;
    DeleteScratchFiles();
    m_nJobKind = 1;

    // As the link's read: length 0, or a range past the end, reads to the end
    // of the flash the driver describes.
    const auto& r = m_ReadRequest;
    const int64_t flashSize = m_JobRunner.GetLink().GetFlashSize();
    int64_t length = r.length;
    if (length <= 0 || r.offset + length > flashSize)
        length = std::max<int64_t> (0, flashSize - r.offset);
    wchar_t path[kMaxPath] {};
    PathCopy (path, r.path);
    m_JobRunner.AddRead (path, r.page, (int) (r.offset / UnitBytes()), (int) (length / UnitBytes()));

    m_Logger.Clear();
    m_nDoneBytes = 0;
    m_nTotalBytes = (int) length;
    m_dProgress = 0.0;
    ReportPhase();
    m_JobRunner.RunNext();
}

int MainComponent::QueuedReadBytes() const
{
    int64_t total = 0;
    for (int i = 0; i < m_JobRunner.GetStepCount(); ++i)
        if (m_JobRunner.GetStep (i).nKind == kStepRead)
            total += (int64_t) m_JobRunner.GetStep (i).nArg2 * UnitBytes();
    return (int) std::min<int64_t> (total, std::numeric_limits<int>::max());
}

void MainComponent::ShowReadProgress (int64_t stepDone)
{
    const int64_t done = m_nDoneBytes + stepDone;
    m_ProgressBar->setVisible (true);
    m_ProgressBar->setColour (juce::ProgressBar::foregroundColourId, juce::Colour (0, 128, 255));
    m_ProgressBar->setTextToDisplay ("Reading...");
    m_dProgress = m_nTotalBytes > 0 ? juce::jlimit (0.0, 1.0, (double) done / (double) m_nTotalBytes) : 0.0;
    ReportProgress ("reading", done);
}

void MainComponent::StopVerifyAtDifference()
{
    // A verify writes nothing, so there is nothing to repeat: it ends at the first difference.
    auto& link = m_JobRunner.GetLink();
    ReportOutcome ({ JobOutcome::Kind::Different, 0, std::max<int64_t> (0, link.GetFirstDifference()), {} });
    link.StopTimer();
    DeliverStop();
}
