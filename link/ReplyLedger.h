#pragma once
// The count of read requests and their replies. A read reply carries no
// address: which block it answers can only be told by counting, so the link
// keeps the count here and never asks for another block while a reply to an
// earlier request may still come.
#include <cstdint>

class CReplyLedger
{
public:
    /** How long replies given up for lost are still watched for after the give-up:
        five read watchdog periods. A module answers its requests in order, so a
        reply late behind a busy module arrives before the quiet period that gives
        it up; only a reply held back on the way while later ones overtake it can
        come later still, and one held longer than this is taken as lost for good.
        The bound keeps what a line that really loses replies costs: each read that
        ends within it waits one quiet period more. */
    static constexpr uint32_t kStrayWindowMs = 5 * 720;

    /** A read request went out. */
    void Asked() { ++m_nOutstanding; }

    /** A request was answered (a whole reply, or the module's time-out status);
        returns how many requests were waiting for an answer before it. */
    int Answered()
    {
        const int before = m_nOutstanding;
        if (before > 0)
            --m_nOutstanding;
        return before;
    }

    /** Requests not answered yet. */
    int Outstanding() const { return m_nOutstanding; }

    /** Nothing more is waited for: every outstanding reply is taken as lost,
        and watched for until the window has passed. */
    void GiveUp (uint32_t nowMs)
    {
        if (m_nOutstanding == 0)
            return;
        m_nGivenUp += m_nOutstanding;
        m_nOutstanding = 0;
        m_nWatchUntil = nowMs + kStrayWindowMs;
    }

    /** A reply given up for lost has come after all. */
    void StrayCame()
    {
        if (m_nGivenUp > 0)
            --m_nGivenUp;
    }

    /** Whether any reply was given up for lost (and not seen since); Watching tells whether one could still come. */
    bool AnyGivenUp() const { return m_nGivenUp > 0; }

    /** Whether a reply given up for lost could still come. */
    bool Watching (uint32_t nowMs)
    {
        if (m_nGivenUp > 0 && (int32_t) (m_nWatchUntil - nowMs) <= 0)
            m_nGivenUp = 0;
        return m_nGivenUp > 0;
    }

private:
    int m_nOutstanding = 0;
    int m_nGivenUp = 0;
    uint32_t m_nWatchUntil = 0;
};
