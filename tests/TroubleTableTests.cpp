// The table of what can go wrong against what the program can report: the
// error codes it is built with, its boxes and kestrava-cli's exit statuses.
#include <map>
#include <set>
#include <gtest/gtest.h>
#include "store/shared/Troubles.h"

TEST (TroubleTable, EveryCodeBoxAndExitTheProgramCanReportHasOneRowAndNoRowMore)
{
    size_t count = 0;
    const auto* rows = AllTroubles (count);

    const std::set<int> codes (std::begin (kAllErrorCodes), std::end (kAllErrorCodes));
    const std::set<int> exits (std::begin (CliExit::kAll), std::end (CliExit::kAll));
    std::set<int> boxes;
    for (int b = (int) BoxKind::TimeOut; b <= (int) BoxKind::Completed; ++b)
        boxes.insert (b);

    std::map<TroubleKind, std::multiset<int>> seen;
    for (size_t i = 0; i < count; ++i)
    {
        const auto& r = rows[i];
        seen[r.kind].insert (r.number);
        SCOPED_TRACE (r.shown);
        const auto& known = r.kind == TroubleKind::ErrorCode ? codes : r.kind == TroubleKind::Box ? boxes : exits;
        EXPECT_EQ (known.count (r.number), 1u) << "a row for something the program never reports";
        EXPECT_NE (*r.cause, 0);
        EXPECT_NE (*r.remedy, 0);
        if (r.kind == TroubleKind::ErrorCode)
        {
            EXPECT_EQ (std::string (r.shown), "Error Code " + std::to_string (r.number));
            EXPECT_NE (*r.occasions, 0);
        }
    }
    for (const auto& [kind, known] : { std::pair { TroubleKind::ErrorCode, codes }, std::pair { TroubleKind::Box, boxes },
                                       std::pair { TroubleKind::Exit, exits } })
        for (int n : known)
            EXPECT_EQ (seen[kind].count (n), 1u) << "no single row for " << (int) kind << "/" << n;

    // An exit status is never also an error code: kestrava-cli exits with the code itself.
    for (int n : exits)
        EXPECT_EQ (codes.count (n), 0u) << n;
    EXPECT_EQ (FindExitStatus (7), FindErrorCode (kErrNoAnswer));
    EXPECT_EQ (FindExitStatus (12), nullptr);
    EXPECT_EQ (std::string (FindBox (BoxKind::TimeOut)->shown) + "\n", kTimeOutText);
    EXPECT_EQ (std::string (FindBox (BoxKind::NoOutDevice)->shown), kNoOutDeviceText);
    EXPECT_EQ (std::string (FindBox (BoxKind::Completed)->shown) + "\n", kCompletedText);
}
