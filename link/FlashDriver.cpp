// Driver upload and flash check.
#include "link/Communication.h"
#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include "store/shared/ProgramGlobals.h"
#include "store/shared/Notifications.h"
#include "platform/Paths.h"
#include "platform/SystemCalls.h"

void Communication::StartOperation (int op)
{
    m_bFailed = false;
    m_bSending = false;
    m_bChecking = false;
    // A read ends with nothing outstanding; one that did not is watched for as lost.
    m_eReadWait = ReadWait::None;
    m_Replies.GiveUp (GetTickCount());
    m_nOp = op;
}

bool Communication::SendDriver (const wchar_t* path)
{
    bool failed = false;
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        std::vector<uint8_t> file;
        if (! ReadWholeFile (path, file) || file.size() > (size_t) std::numeric_limits<int>::max())
        {
            // The previous driver and sector table stay.
            SetPendingError (kErrDriverUnreadable);
            failed = true;
        }
        else
        {
            m_pDriver = std::move (file);
            m_nDriverSize = (int) m_pDriver.size();
            m_pSectors.clear();

            int64_t count = 0;
            std::vector<_STR_SECTOR> sectors;
            const auto result = ReadDriverGeometry (m_pDriver.data(), m_pDriver.size(), &count, &sectors);
            if (result != GeometryResult::Ok)
            {
                // No sector, a table running off the end of the file, or more flash than an address reaches.
                SetPendingError (kErrDriverWithoutSectors);
                m_pDriver.clear();
                m_nDriverSize = 0;
                failed = true;
            }
            else
            {
                m_pSectors = std::move (sectors);
                StartOperation (kOpSendDriver);
                // A finished read or program before it stopped the timer: within
                // an update the upload is supervised like every other operation.
                if (g_nJobPhase != 0 && ! isTimerRunning())
                    startTimer (500);
                m_Source.SetMemory (m_pDriver.data(), m_nDriverSize);
                m_Source.SetRange (0, m_nDriverSize);
                if (BeginTransfer (0, m_nDriverSize, false))
                    failed = true;
                else
                    Log ("Sending flash driver...\n");
            }
        }
    }
    FlushPendingError();
    return failed;
}

void Communication::CheckFlash (int page)
{
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        StartOperation (kOpCheckFlash);
        if (g_nJobPhase != 0 && ! isTimerRunning())
            startTimer (500);
        SendCommand ({ 0x7D, 0x05, (uint8_t) ((page >> 7) & 0x7F), (uint8_t) (page & 0x7F) });
        m_nIdleTicks = 0;
    }
    FlushPendingError();
}

void Communication::OnCheckFlashAnswer (int status)
{
    if (g_nJobPhase == 1)
    {
        // The driver search: the check only decides whether this driver fits.
        if (status == 0 && (! g_bFullImage || g_nDriverSectorCount == 0x600))
            g_nJobPhase = 2;
        Post (kStepDoneMessage, 0);
        return;
    }
    if (status == 0)
    {
        Log ("Check flash OK.\n");
        Post (kStepDoneMessage, 0);
        return;
    }
    SetPendingError (kErrFlashCheck);
}
