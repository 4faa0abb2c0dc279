// Replies that come late. A read reply carries no address: after a time-out
// the block is asked for again, and if the first reply was only late, two
// replies come for one block. The link never lets such a reply count for
// another block:
// - No other block is asked for while a request may still be answered. The
//   first sound reply stands for the block (all the requests waiting are for
//   it); the link then settles: it drops the replies still owed as they come,
//   and goes on at once when all have come, or after one quiet watchdog period
//   when some never come (they are given up for lost).
// - A reply given up for lost may still come while others overtake it. For a
//   while after a give-up (CReplyLedger::kStrayWindowMs) a read that took
//   blocks waits one quiet period at its end: a stray reply taken for one of
//   its blocks leaves one reply over, which comes then. Such a read is void:
//   a read into a file reads again from its first block taken in that while,
//   a check counts as differing (its range is written and read back).
#include "link/Communication.h"
#include <cstdio>
#include "platform/SystemCalls.h"
#include "store/Logger.h"

namespace
{
    constexpr int kVoidLimit = 10;   // reads again of one read before it ends as unanswered
}

void Communication::Settle (bool thenFinish, bool quietOnly)
{
    m_eReadWait = ReadWait::Settle;
    m_bSettleThenFinish = thenFinish;
    m_bSettleQuietOnly = quietOnly;
    m_nBlockFill = 0;
    m_bBlockOverflow = false;
    m_bBlockFramed = true;
    m_nIdleTicks = 0;
}

void Communication::EndSettle()
{
    m_bSettleQuietOnly = false;
    if (m_bSettleThenFinish)
        EndRead();
    else
        RequestBlock (m_nStartAddr + m_nTransferPos);
}

void Communication::OnLateReply()
{
    // A whole reply while settling: one that was owed, dropped. After a stray
    // nothing is owed: a module that keeps sending ends the read.
    if (m_bSettleQuietOnly && ++m_nVoids > kVoidLimit)
    {
        SetPendingError (kErrReadNotAnswered);
        return;
    }
    m_Replies.Answered();
    EndRetryLine();
    Log ("Late reply dropped.\n");
    m_nBlockFill = 0;
    m_bBlockOverflow = false;
    m_bBlockFramed = true;
    if (m_Replies.Outstanding() == 0 && ! m_bSettleQuietOnly)
        EndSettle();
}

void Communication::OnReadQuiet()
{
    // A watchdog period without a reply.
    switch (m_eReadWait)
    {
        case ReadWait::Reply:
            OnReadTimeout();
            break;
        case ReadWait::Settle:
            m_Replies.GiveUp (GetTickCount());
            EndSettle();
            break;
        case ReadWait::Guard:
            FinishRead();
            break;
        case ReadWait::None:
            break;
    }
}

void Communication::OnReadStatus3()
{
    // The module's own time-out status answers one request: no data follows for it.
    switch (m_eReadWait)
    {
        case ReadWait::Reply:
            m_Replies.Answered();
            OnReadTimeout();
            break;
        case ReadWait::Settle:
            m_Replies.Answered();
            if (m_Replies.Outstanding() == 0 && ! m_bSettleQuietOnly)
                EndSettle();
            break;
        case ReadWait::Guard:
        case ReadWait::None:
            break;
    }
}

void Communication::OnStrayReply()
{
    // Data after the last block of a read a late reply could have reached:
    // one of its blocks may hold another block's bytes.
    m_Replies.StrayCame();
    EndRetryLine();
    if (++m_nVoids > kVoidLimit)
    {
        SetPendingError (kErrReadNotAnswered);
        return;
    }
    if (m_bChecking)
    {
        Log ("Late reply: the range is taken as differing.\n");
        m_bCheckVoid = true;
        Settle (true, true);
        return;
    }
    if (m_pLogger != nullptr)
        m_pLogger->Print ("Late reply: reading again from %x.\n", (unsigned) ((m_nStartAddr + m_nUnsureFrom) / 2));
    m_nTransferPos = m_nUnsureFrom;
    m_nUnsureFrom = -1;
    // Reads stay within the wire's 512 MiB: the position fits a long everywhere.
    if (std::fseek (m_hReadFile, (long) m_nTransferPos, SEEK_SET) != 0)
    {
        SetPendingError (kErrReadFileNotCreated);
        return;
    }
    // The rest of the stray reply passes before the blocks are asked for again.
    Settle (false, true);
}
