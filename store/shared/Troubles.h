#pragma once
// Everything that can go wrong and that the user is told of: the error codes,
// the program's other boxes and kestrava-cli's exit statuses, each with its
// cause, when it happens and what to do about it. The window's reports,
// kestrava-cli, its manual page and the user's guide all take their words
// from this one table. Plain C++: the build's host tools use it too.
#include <cstddef>
#include <string>

// The error codes the program reports, "Error Code N". Every report goes
// through these names, so a code that is not listed here cannot be reported.
#define KESTRAVA_ERROR_CODES(X)              \
    X (kErrBoot2Missing, 2)                  \
    X (kErrNoFlashType, 3)                   \
    X (kErrFlashPgmMissing, 4)               \
    X (kErrModuleRefused, 5)                 \
    X (kErrReadNotAnswered, 6)               \
    X (kErrNoAnswer, 7)                      \
    X (kErrFlashCheck, 8)                    \
    X (kErrWrittenFileUnreadable, 9)         \
    X (kErrReadBackUnreadable, 10)           \
    X (kErrCompareFailed, 11)                \
    X (kErrDriverUnreadable, 14)             \
    X (kErrDriverWithoutSectors, 15)         \
    X (kErrProgramFileUnreadable, 16)        \
    X (kErrNotSectorStart, 17)               \
    X (kErrNoSectorToErase, 19)              \
    X (kErrReadFileNotCreated, 20)           \
    X (kErrNoDriverFits, 21)                 \
    X (kErrRangeDriverUnreadable, 22)        \
    X (kErrImageUnreadable, 23)              \
    X (kErrNoMarker, 24)                     \
    X (kErrSpecialMissing, 25)               \
    X (kErrSpecial418Missing, 26)

enum ErrorCode : int
{
    kErrNone = 0,   ///< no error
#define KESTRAVA_ERROR_ENUM(name, value) name = value,
    KESTRAVA_ERROR_CODES (KESTRAVA_ERROR_ENUM)
#undef KESTRAVA_ERROR_ENUM
};

/** Every error code, in ascending order. */
constexpr ErrorCode kAllErrorCodes[] = {
#define KESTRAVA_ERROR_ITEM(name, value) name,
    KESTRAVA_ERROR_CODES (KESTRAVA_ERROR_ITEM)
#undef KESTRAVA_ERROR_ITEM
};

// kestrava-cli's exit statuses other than the error codes, which it exits with as they are.
#define KESTRAVA_EXIT_STATUSES(X) \
    X (kOk, 0)                    \
    X (kDifferent, 1)             \
    X (kUsage, 64)                \
    X (kNoModule, 69)             \
    X (kFailed, 70)               \
    X (kInterrupted, 130)

namespace CliExit
{
enum : int
{
#define KESTRAVA_EXIT_ENUM(name, value) name = value,
    KESTRAVA_EXIT_STATUSES (KESTRAVA_EXIT_ENUM)
#undef KESTRAVA_EXIT_ENUM
};

constexpr int kAll[] = {
#define KESTRAVA_EXIT_ITEM(name, value) name,
    KESTRAVA_EXIT_STATUSES (KESTRAVA_EXIT_ITEM)
#undef KESTRAVA_EXIT_ITEM
};
} // namespace CliExit

/** The boxes that carry no error code. */
enum class BoxKind : int
{
    TimeOut = 1,      ///< no module answered for about a minute
    NoOutDevice,      ///< a transfer found no output port
    TwoDevices,       ///< two modules answered (a warning; the update goes on)
    NoUpdateFits,     ///< the module's MCU has no workflow
    Completed         ///< the update is done
};

/** Texts of those boxes, byte for byte. */
constexpr const char* kTimeOutText = "Time Out,Please Check Help.\n";
constexpr const char* kNoOutDeviceText = "No out device";
constexpr const char* kTwoDevicesText = "Two or more devices, please confirm.    \n"
                                        "\xe5\xa4\x9a\xe4\xb8\xaa\xe8\xae\xbe\xe5\xa4\x87\xe8\xbf\x9e\xe6\x8e\xa5,"
                                        "\xe8\xaf\xb7\xe7\xa1\xae\xe8\xae\xa4!";
constexpr const char* kCompletedText = "It is Completed,Please Restart Device\n";
/** The box for an MCU no update fits: this, the MCU's name and kNoUpdateFitsEnd. */
constexpr const char* kNoUpdateFitsStart = "No update fits the module's MCU \"";
constexpr const char* kNoUpdateFitsEnd = "\".\n";

/** Which of the three sets a row belongs to. */
enum class TroubleKind : int
{
    ErrorCode,   ///< "Error Code N", in a box (22: in the log)
    Box,         ///< a box without a code; `number` is its BoxKind
    Exit         ///< an exit status of kestrava-cli
};

/** One row of the table. */
struct Trouble
{
    TroubleKind kind;
    int number;              ///< the error code, the BoxKind or the exit status
    const char* shown;       ///< what the user sees, on one line
    const char* cause;       ///< why, in one sentence
    const char* occasions;   ///< when it happens, several separated by "; "; may be empty
    const char* remedy;      ///< the first thing to try, in one sentence
    const char* more;        ///< further steps, if the first does not help; may be empty
};

/** The whole table: error codes in ascending order, then the boxes, then the exit statuses. */
const Trouble* AllTroubles (size_t& count);

/** The row of error code `code`, or null. */
const Trouble* FindErrorCode (int code);
/** The row of a box without a code. */
const Trouble* FindBox (BoxKind box);
/** What an error of "auto" pacing means when it came at the slowest pace: the
    interface loses bytes whatever the pace (the code is the step's own, 5 or 7).
    Not in the table: it explains a code, it is none. */
const Trouble& LossAtSlowestPace();
/** The cause and the first thing to try, on one line: "Cause: ... First try: ...". */
std::string TroubleLine (const Trouble& row);

/** The row of an exit status: an error code's row for 2 to 26; null for none. */
const Trouble* FindExitStatus (int status);
