#include "store/shared/Troubles.h"

namespace
{
    constexpr auto E = TroubleKind::ErrorCode;
    constexpr auto B = TroubleKind::Box;
    constexpr auto X = TroubleKind::Exit;

    // Remedies that several rows share.
    #define KESTRAVA_REINSTALL \
        "Unpack the program's zip again into a new folder (on Linux: reinstall the package), so that the data folder is complete."
    #define KESTRAVA_LINK \
        "Connect the module directly to the computer with a short cable, no hub, and start again; if it happens again, " \
        "turn on pacing (Pace=256:90 in section [Pacing] of config.ini, or kestrava-cli --pace 256:90)."
    #define KESTRAVA_PACE_AUTO \
        "Turn on automatic pacing, Pace=auto in section [Pacing] of config.ini (or kestrava-cli --pace auto), and start " \
        "the update again: the program then sends slower by itself wherever bytes are lost."
    #define KESTRAVA_PACE_FIXED \
        "If it still fails, connect the module directly with a short cable, no hub, and try a fixed pace: Pace=256:90, " \
        "then 128:40 (kestrava-cli --pace 256:90). "

    const Trouble kTable[] = {
        { E, kErrBoot2Missing, "Error Code 2",
          "The boot image QvDoc/boot2.bin of the data folder cannot be opened.",
          "a full update of a QVM410 module, before anything is written",
          KESTRAVA_REINSTALL, "Nothing was written: the module is as it was." },
        { E, kErrNoFlashType, "Error Code 3",
          "The driver that fits the module is not among the drivers the program read when it started.",
          "the update, after the driver search, when a driver file was added to Drivers while the program ran",
          "Close the program and start it again, so that it reads the Drivers folder anew.", "" },
        { E, kErrFlashPgmMissing, "Error Code 4",
          "The boot image QvDoc/flashpgm.bin of the data folder cannot be opened.",
          "a full update of a QVM428 module, or the erase of a module with two flash chips, before anything is written",
          KESTRAVA_REINSTALL, "Nothing was written: the module is as it was." },
        { E, kErrModuleRefused, "Error Code 5",
          "The module refused a command (it answered with status 2).",
          "the driver upload; the flash check; the erase; the programming; the read-back",
          KESTRAVA_PACE_AUTO,
          KESTRAVA_PACE_FIXED "If it happens at the same place every time, switch the module off and on; if it still "
          "does, the driver does not suit the module: send the log with a report." },
        { E, kErrReadNotAnswered, "Error Code 6",
          "A block of the read-back was not answered, 10 times over.",
          "the read-back that checks what was written; kestrava-cli read and verify",
          KESTRAVA_LINK,
          "The module stays in its loader: start the update again (see \"Recovering a module left in its loader\" in Help)." },
        { E, kErrNoAnswer, "Error Code 7",
          "The module stopped answering for 4.5 seconds, or said it timed out (status 3).",
          "the driver upload (the module was unplugged, or the interface loses bytes); the flash check; "
          "the erase of a sector; the programming of a block (bytes lost on a cheap interface or through a hub)",
          KESTRAVA_PACE_AUTO,
          KESTRAVA_PACE_FIXED "A cut-off update leaves the module in its loader: start the update again (see \"Recovering a module left in its loader\" in Help)." },
        { E, kErrFlashCheck, "Error Code 8",
          "The flash driver found a flash chip other than it expects, or a faulty one.",
          "the flash check after the driver search; the check after a model's special driver was uploaded",
          "Switch the module off and on and start the update again.",
          "If it comes back, the flash chip may be faulty: send the log with a report." },
        { E, kErrWrittenFileUnreadable, "Error Code 9",
          "The file that was written cannot be opened again to compare it with the read-back.",
          "the compare after programming: the image (or a boot image) was moved, deleted or its drive removed during the update",
          "Keep the image on a local drive and leave it alone until the update has finished, then start again.", "" },
        { E, kErrReadBackUnreadable, "Error Code 10",
          "The read-back file Comparetemp.rom cannot be opened.",
          "the compare after programming: its folder (QvDoc beside the program, ~/.cache/kestrava when installed) is not writable or the disk is full",
          "Make sure that folder is writable and the disk has room (do not run the program from inside the zip).", "" },
        { E, kErrCompareFailed, "Error Code 11",
          "What was read back differed from the image 11 times in a row.",
          "the compare after programming: bytes are lost or changed on the way, or the flash does not keep what is written",
          KESTRAVA_PACE_AUTO, KESTRAVA_PACE_FIXED "If it still fails with pacing on, the flash may be worn: send the log with a report." },
        { E, kErrDriverUnreadable, "Error Code 14",
          "A flash driver file cannot be opened.",
          "the driver upload: a file of Drivers, QvDoc/Special.bin or QvDoc/Special418.bin was removed or cannot be read",
          KESTRAVA_REINSTALL, "" },
        { E, kErrDriverWithoutSectors, "Error Code 15",
          "A flash driver file describes no flash sector: it is damaged.",
          "the driver upload",
          KESTRAVA_REINSTALL, "" },
        { E, kErrProgramFileUnreadable, "Error Code 16",
          "The file to program cannot be opened.",
          "the erase and programming: the image, or a boot image of QvDoc, was moved or deleted after \"Program\" was pressed",
          "Keep the image on a local drive and leave it alone until the update has finished, then start again.", "" },
        { E, kErrNotSectorStart, "Error Code 17",
          "The flash offset of the settings is not the start of a flash sector.",
          "the erase of a file update, with an offset from section [LastSave] of config.ini",
          "Close the program, remove section [LastSave] from config.ini (or the whole file) and start again.", "" },
        { E, kErrNoSectorToErase, "Error Code 19",
          "The range to erase covers no flash sector: nothing of the image is left to write.",
          "the erase: the image is empty after its offset, or the length of the settings is 0",
          "Check that the image is complete (download it again), and remove section [LastSave] from config.ini.", "" },
        { E, kErrReadFileNotCreated, "Error Code 20",
          "The file for the read-back cannot be created.",
          "the read-back into Comparetemp.rom (its folder is not writable or the disk is full, as for Error Code 10); kestrava-cli read into OUT",
          "Make sure the folder is writable and the disk has room, then start again.", "" },
        { E, kErrNoDriverFits, "Error Code 21",
          "No driver of the Drivers folder found the flash it expects.",
          "the driver search: the Drivers folder is empty or incomplete; the module is a model this program does not know; "
          "the module did not answer the flash checks",
          "Switch the module off and on, connect it directly, and start again.",
          KESTRAVA_REINSTALL },
        { E, kErrRangeDriverUnreadable, "Error Code 22",
          "The driver file cannot be opened to check the ranges against the flash's sectors (shown in the log, and by kestrava-cli).",
          "the start of a workflow, after the driver search",
          KESTRAVA_REINSTALL, "" },
        { E, kErrImageUnreadable, "Error Code 23",
          "The chosen image cannot be opened.",
          "\"Program\": the file was moved, deleted or cannot be read, or it is 2 GiB or larger",
          "Choose the image again with \"Browse...\"; copy it to a local drive first.", "" },
        { E, kErrNoMarker, "Error Code 24",
          "The chosen file is not an image for this module: it has no \"BD\" marker.",
          "\"Program\": another file was chosen, or the download of the image is incomplete",
          "Choose the image file meant for the module (.bin or .rom); download it again if in doubt.",
          "Nothing was written: the module is as it was." },
        { E, kErrSpecialMissing, "Error Code 25",
          "The special driver QvDoc/Special.bin of the data folder cannot be opened.",
          "a full update of a QVM410 module, before anything is written",
          KESTRAVA_REINSTALL, "Nothing was written: the module is as it was." },
        { E, kErrSpecial418Missing, "Error Code 26",
          "The special driver QvDoc/Special418.bin of the data folder cannot be opened.",
          "a full update of a QVM428 module, or the erase of a module with two flash chips, before anything is written",
          KESTRAVA_REINSTALL, "Nothing was written: the module is as it was." },

        { B, (int) BoxKind::TimeOut, "Time Out,Please Check Help.",
          "No module answered for about a minute.",
          "the search for a module; the wait for a module that restarts into its loader",
          "Check that the module is switched on and connected directly by its USB cable, then press \"ok\": the search starts again.",
          "Linux: close other programs that use the port and make sure you are in the audio group. "
          "Windows: close other MIDI programs; unplug the module and plug it in again." },
        { B, (int) BoxKind::NoOutDevice, "No out device",
          "The module's output port was gone when data was to be sent.",
          "the start of a transfer: the module was unplugged or restarted just then",
          "Plug the module in again, wait until the window shows it connected, and start again.", "" },
        { B, (int) BoxKind::TwoDevices, "Two or more devices, please confirm.",
          "More than one module answered (a warning; the update goes on with the first).",
          "the search for a module, with two modules connected",
          "Connect only the module to update; kestrava-cli --all updates several at once.", "" },
        { B, (int) BoxKind::NoUpdateFits, "No update fits the module's MCU \"NAME\".",
          "A driver fits the module, but none of the updates is made for its MCU.",
          "the update, after the driver search, with a module of a model this program does not update",
          "Check that the image is meant for this module; send the log with a report.",
          "Nothing was written: the module is as it was." },
        { B, (int) BoxKind::Completed, "It is Completed,Please Restart Device",
          "The update has finished: the module holds the image, read back and compared.",
          "the end of the update, after which the program ends",
          "Switch the module off and on.", "" },

        { X, CliExit::kOk, "exit status 0",
          "Done: the module holds the image, or the read is complete.", "", "Nothing.", "" },
        { X, CliExit::kDifferent, "exit status 1",
          "verify: the module's flash differs from the image.", "",
          "Update the module with the image.", "" },
        { X, CliExit::kUsage, "exit status 64",
          "The command line is wrong.", "",
          "See kestrava-cli --help.", "" },
        { X, CliExit::kNoModule, "exit status 69",
          "No module answered before the search timed out (with --all: the probe).", "",
          "Check that the module is switched on and connected directly; kestrava-cli ports lists what answers.", "" },
        { X, CliExit::kFailed, "exit status 70",
          "The run failed without an error code; the reason is printed.", "",
          "Read the printed reason and the log; send the log with a report.", "" },
        { X, CliExit::kInterrupted, "exit status 130",
          "Interrupted (Ctrl-C or SIGTERM); the ports were closed.", "",
          "A module cut off during an update stays in its loader: start the update again.", "" },
    };

    #undef KESTRAVA_REINSTALL
    #undef KESTRAVA_LINK
    #undef KESTRAVA_PACE_AUTO
    #undef KESTRAVA_PACE_FIXED

    const Trouble kLossAtSlowestPace {
        TroubleKind::ErrorCode, 0, "",
        "The interface loses bytes on the way to the module even at the slowest pace automatic pacing tries.",
        "an update with Pace=auto, after it has slowed down as far as it goes",
        "Use another MIDI interface or cable, or connect the module directly by its own USB port.",
        "A cut-off update leaves the module in its loader: start the update again through the other connection "
        "(see \"Recovering a module left in its loader\" in Help)." };

    const Trouble* Find (TroubleKind kind, int number)
    {
        for (const auto& row : kTable)
            if (row.kind == kind && row.number == number)
                return &row;
        return nullptr;
    }
}

const Trouble* AllTroubles (size_t& count)
{
    count = sizeof (kTable) / sizeof (kTable[0]);
    return kTable;
}

const Trouble* FindErrorCode (int code)
{
    return Find (TroubleKind::ErrorCode, code);
}

const Trouble* FindBox (BoxKind box)
{
    return Find (TroubleKind::Box, (int) box);
}

const Trouble* FindExitStatus (int status)
{
    if (const auto* row = Find (TroubleKind::Exit, status))
        return row;
    return FindErrorCode (status);
}

const Trouble& LossAtSlowestPace()
{
    return kLossAtSlowestPace;
}

std::string TroubleLine (const Trouble& row)
{
    return std::string ("Cause: ") + row.cause + " First try: " + row.remedy;
}
