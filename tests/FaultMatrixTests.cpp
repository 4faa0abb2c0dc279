// Every module fault at every operation of a real update, through the headless
// panel: each pair ends in its error box or its bounded retry, leaves the panel
// searching or connected with "Program" usable, holds no file of the data
// folder open, keeps config.ini whole, and a second update on the healthy
// module completes. Image: 256 KiB (the file workflow: two verify groups of
// driver upload, erase and program, read-back and compare); zero latencies.
//
// Where the fault hits:
//   driver upload  the upload that opens the second verify group (after the first read-back)
//   flash check    the first check of the driver search
//   erase          the first sector erase
//   program        the first program block
//   read-back      the first read block (FS module, trailer checked)
//   compare        the first compare (HS module: no trailer, damage reaches the file)
//
// | operation     | fault                         | outcome                                                  |
// |---------------|-------------------------------|----------------------------------------------------------|
// | driver upload | silence                       | watchdog, "Error Code 7\n"                               |
// | driver upload | status 2                      | "Error Code 5\n"                                         |
// | driver upload | status 3                      | "Error Code 7\n"                                         |
// | driver upload | vanish                        | watchdog, "Error Code 7\n", panel searching              |
// | flash check   | silence                       | watchdog, "Error Code 7\n"                               |
// | flash check   | status 2                      | "Error Code 5\n"                                         |
// | flash check   | status 3                      | "Error Code 7\n"                                         |
// | flash check   | vanish                        | watchdog, "Error Code 7\n", panel searching              |
// | erase         | silence                       | watchdog, "Error Code 7\n"                               |
// | erase         | status 2                      | "Error Code 5\n"                                         |
// | erase         | status 3                      | "Error Code 7\n"                                         |
// | erase         | vanish                        | watchdog, "Error Code 7\n", panel searching              |
// | program       | silence                       | watchdog, "Error Code 7\n"                               |
// | program       | status 2                      | "Error Code 5\n"                                         |
// | program       | status 3                      | "Error Code 7\n"                                         |
// | program       | vanish                        | watchdog, "Error Code 7\n", panel searching              |
// | read-back     | silence                       | one time-out retry ("Time out, retry...1"), completes    |
// | read-back     | status 2                      | "Error Code 5\n"                                         |
// | read-back     | status 3                      | counts as a time-out: one retry, completes               |
// | read-back     | damaged data                  | checksum mismatch: one retry ("."), completes            |
// | read-back     | damaged trailer               | checksum mismatch: one retry ("."), completes            |
// | read-back     | damaged trailer on every try  | 10 retries of the block, then "Error Code 6\n"           |
// | read-back     | vanish                        | 10 time-out retries, then "Error Code 6\n", searching    |
// | compare       | damaged data                  | compare fails once, its group runs again, completes      |
// | compare       | damaged data on every read    | 11 failed compares in a row, "Error Code 11\n"           |
// | compare       | vanish                        | compare passes; the next command (the next group's       |
// |               |                               | driver upload) goes unanswered: "Error Code 7\n"         |
//
// Pairs left out, and why:
//   driver upload, flash check, erase, program x damaged data, damaged trailer:
//     no read data flows in these operations; the module answers each with a
//     status reply only, which carries neither data nor a trailer.
//   compare x silence, status 2, status 3: the compare runs on the computer over
//     two files and sends the module nothing, so no reply can be missing or
//     carry a status.
//   compare x damaged trailer: the read checks and strips the trailer; the
//     compare never sees it (its case is the read-back row).
#include "tests/FaultMatrixSupport.h"
#include "tests/PanelTestSupport.h"
#include "tests/UpdateFlowSupport.h"

using namespace flow;
using faultmatrix::TriggeredModule;

namespace
{
    constexpr int kImageBytes = 0x40000;
    constexpr int kReadBlocks = kImageBytes / 4096;    // read requests of a healthy update
    constexpr int kGroupBlocks = 0x20000 / 4096;       // read requests of one verify group
    constexpr int kBoundMs = 30000;                    // for any pair to show its box

    enum class Op { DriverUpload, FlashCheck, Erase, Program, ReadBack, Compare };
    enum class Fault { Silence, Status2, Status3, DamagedData, DamagedTrailer, Vanish };

    /** One (operation, fault) pair and what it must end in. */
    struct Pair
    {
        const char* name;          ///< test name
        Op op;                     ///< where the fault hits
        Fault fault;               ///< what the module does wrong
        bool everyTry;             ///< the fault repeats on every try
        const char* box;           ///< the one box the update shows
        int fsFlag;                ///< 1 FS (read blocks carry the trailer), 0 HS
        const char* logMark;       ///< must appear in the log (empty: not checked)
        int reads;                 ///< read requests the module must see (-1: not checked)
    };

    /** Names the pair in gtest's messages. */
    void PrintTo (const Pair& p, std::ostream* os) { *os << p.name; }

    const char* const kE5 = "Error Code 5\n";
    const char* const kE6 = "Error Code 6\n";
    const char* const kE7 = "Error Code 7\n";
    const char* const kE11 = "Error Code 11\n";
    const char* const kDone = "It is Completed,Please Restart Device\n";

    const Pair kPairs[] = {
        { "UploadSilence",        Op::DriverUpload, Fault::Silence, false, kE7, 1, "", kGroupBlocks },
        { "UploadStatus2",        Op::DriverUpload, Fault::Status2, false, kE5, 1, "", kGroupBlocks },
        { "UploadStatus3",        Op::DriverUpload, Fault::Status3, false, kE7, 1, "", kGroupBlocks },
        { "UploadVanish",         Op::DriverUpload, Fault::Vanish,  false, kE7, 1, "", kGroupBlocks },
        { "CheckSilence",         Op::FlashCheck,   Fault::Silence, false, kE7, 1, "", 0 },
        { "CheckStatus2",         Op::FlashCheck,   Fault::Status2, false, kE5, 1, "", 0 },
        { "CheckStatus3",         Op::FlashCheck,   Fault::Status3, false, kE7, 1, "", 0 },
        { "CheckVanish",          Op::FlashCheck,   Fault::Vanish,  false, kE7, 1, "", 0 },
        { "EraseSilence",         Op::Erase,        Fault::Silence, false, kE7, 1, "", 0 },
        { "EraseStatus2",         Op::Erase,        Fault::Status2, false, kE5, 1, "", 0 },
        { "EraseStatus3",         Op::Erase,        Fault::Status3, false, kE7, 1, "", 0 },
        { "EraseVanish",          Op::Erase,        Fault::Vanish,  false, kE7, 1, "", 0 },
        { "ProgramSilence",       Op::Program,      Fault::Silence, false, kE7, 1, "", 0 },
        { "ProgramStatus2",       Op::Program,      Fault::Status2, false, kE5, 1, "", 0 },
        { "ProgramStatus3",       Op::Program,      Fault::Status3, false, kE7, 1, "", 0 },
        { "ProgramVanish",        Op::Program,      Fault::Vanish,  false, kE7, 1, "", 0 },
        { "ReadSilence",          Op::ReadBack,     Fault::Silence, false, kDone, 1, "Reading 0\nTime out, retry...1\n", kReadBlocks + 1 },
        { "ReadStatus2",          Op::ReadBack,     Fault::Status2, false, kE5, 1, "", 1 },
        { "ReadStatus3",          Op::ReadBack,     Fault::Status3, false, kDone, 1, "Reading 0\nTime out, retry...1\n", kReadBlocks + 1 },
        { "ReadDamagedData",      Op::ReadBack,     Fault::DamagedData, false, kDone, 1, "Reading 0\n.\n", kReadBlocks + 1 },
        { "ReadDamagedTrailer",   Op::ReadBack,     Fault::DamagedTrailer, false, kDone, 1, "Reading 0\n.\n", kReadBlocks + 1 },
        { "ReadDamagedTrailerEveryTry", Op::ReadBack, Fault::DamagedTrailer, true, kE6, 1, "Reading 0\n...........", 11 },
        { "ReadVanish",           Op::ReadBack,     Fault::Vanish,  false, kE6, 1, "Time out, retry...1,2,3,4,5,6,7,8,9,10", 1 },
        { "CompareDamagedData",   Op::Compare,      Fault::DamagedData, false, kDone, 0, "Compare FAIL!\n\nRetry 1!\n", kReadBlocks + kGroupBlocks },
        { "CompareDamagedDataEveryRead", Op::Compare, Fault::DamagedData, true, kE11, 0, "Retry 10!\n", 11 * kGroupBlocks },
        { "CompareVanish",        Op::Compare,      Fault::Vanish,  false, kE7, 1, "Start comparing...\nCompare OK!", kGroupBlocks },
    };

    /** The command the fault stands on, and the command that must come first. */
    struct Where { SimCommand at, after, target; };

    Where WhereOf (const Pair& p)
    {
        constexpr auto start = SimCommand::Count;
        switch (p.op)
        {
            case Op::DriverUpload: return { SimCommand::LoadDriver,  SimCommand::ReadBlock, SimCommand::DriverBlock };
            case Op::FlashCheck:   return { SimCommand::CheckFlash,  start, SimCommand::CheckFlash };
            case Op::Erase:        return { SimCommand::EraseSector, start, SimCommand::EraseSector };
            case Op::Program:      return { SimCommand::WriteStart,  start, SimCommand::ProgramBlock };
            case Op::ReadBack:     return { SimCommand::ReadBlock,   start, SimCommand::ReadBlock };
            case Op::Compare:
                // Damage goes into the first read-back; the module leaves while the
                // host compares, so the next command meets no one.
                if (p.fault == Fault::Vanish)
                    return { SimCommand::LoadDriver, SimCommand::ReadBlock, SimCommand::LoadDriver };
                return { SimCommand::ReadBlock, start, SimCommand::ReadBlock };
        }
        return { SimCommand::Unknown, start, SimCommand::Unknown };
    }

    void Arm (TriggeredModule& module, const Pair& p)
    {
        const auto w = WhereOf (p);
        const int times = p.everyTry ? (1 << 20) : 1;
        TriggeredModule::Arm arm;
        switch (p.fault)
        {
            case Fault::Silence:        arm = [] (SimulatedModule& m) { m.silenceNextReplies (1); }; break;
            case Fault::Status2:        arm = [w] (SimulatedModule& m) { m.failNext (w.target, 2); }; break;
            case Fault::Status3:        arm = [w] (SimulatedModule& m) { m.failNext (w.target, 3); }; break;
            case Fault::DamagedData:    arm = [times] (SimulatedModule& m) { m.damageNextReads (SimReadDamage::Data, times); }; break;
            case Fault::DamagedTrailer: arm = [times] (SimulatedModule& m) { m.damageNextReads (SimReadDamage::Trailer, times); }; break;
            case Fault::Vanish:         arm = [w] (SimulatedModule& m) { m.vanishAtNext (w.target); }; break;
        }
        module.ArmAt (w.at, w.after, std::move (arm));
    }

    /** Every section and key the settings file held before is still there, the
        values of the sections the program does not write unchanged. */
    ::testing::AssertionResult ConfigIntact (const PanelHarness& h, const paneltest::IniContents& before)
    {
        const auto file = paneltest::ConfigFile (h);
        if (file.getSize() == 0)
            return ::testing::AssertionFailure() << "config.ini is empty or gone";
        const auto after = paneltest::ReadIni (file);
        for (const auto& [section, keys] : before.values)
        {
            if (! after.sectionOrder.contains (section))
                return ::testing::AssertionFailure() << "section [" << section << "] is gone";
            for (const auto& [key, value] : keys)
            {
                const auto s = after.values.find (section);
                if (s == after.values.end() || s->second.count (key) == 0)
                    return ::testing::AssertionFailure() << "key " << key << " of [" << section << "] is gone";
                if (section == "Workshop" && s->second.at (key) != value)
                    return ::testing::AssertionFailure() << key << " of [Workshop] became " << s->second.at (key);
            }
        }
        return ::testing::AssertionSuccess();
    }

    ::testing::AssertionResult NoFileOpen (const PanelHarness& h)
    {
        const auto open = faultmatrix::OpenFilesInside (h.folder);
        if (open.empty())
            return ::testing::AssertionSuccess();
        auto failure = ::testing::AssertionFailure() << "still open:";
        for (const auto& path : open)
            failure << " " << path;
        return failure;
    }

    /** The connection restarted and found no module: searching, "Program" off, nothing running. */
    ::testing::AssertionResult BackToSearching (PanelHarness& h)
    {
        const bool searching = RunLoopUntil ([&]
        {
            return ! g_bConnected.load() && ! h.panel->GetProgramButton()->isEnabled()
                   && h.panel->GetStatusText().contains ("onnecting");
        }, 10000);
        if (! searching)
            return ::testing::AssertionFailure() << "not searching; status \"" << h.panel->GetStatusText() << "\"";
        return FlowAtRest (h);
    }

    /** The program as a person starts it again after it ended itself. */
    void RestartProgram (PanelHarness& h)
    {
        h.panel.reset();
        PumpMessages (10);
        ResetGlobalsForTests();
        h.Start();
    }

    /** A second image through "Program" on the healthy module ends completed, the flash holding it. */
    ::testing::AssertionResult SecondUpdateCompletes (PanelHarness& h, SimulatedModule& module)
    {
        const auto image = h.MakeImage ("second.bin", kImageBytes, true, false, 77);
        h.Choose (image);
        module.clearRecords();
        const auto before = h.boxes.size();
        if (auto pressed = Press (h); ! pressed)
            return pressed;
        if (! RunUntilBoxes (h, before + 1, kBoundMs))
            return ::testing::AssertionFailure() << "second update: no box within its bound; " << Diagnose (h, &module);
        if (h.boxes.back().text != kDone)
            return ::testing::AssertionFailure() << "second update: " << BoxTexts (h);
        return FlashHolds (module, 0, PanelHarness::Bytes (image), 0, (size_t) kImageBytes);
    }

    class FaultMatrix : public ::testing::TestWithParam<Pair> {};
}

TEST_P (FaultMatrix, EndsInItsOutcomeAndTheNextUpdateWorks)
{
    const auto& p = GetParam();
    PanelHarness h;
    ASSERT_TRUE (paneltest::ConfigFile (h).replaceWithText (faultmatrix::SeededConfig()));
    const auto iniBefore = paneltest::ReadIni (paneltest::ConfigFile (h));

    auto module = std::make_shared<TriggeredModule> (ModuleConfig (SimMode::Loader, p.fsFlag));
    h.bus->addDevice (module);
    h.Start();
    ASSERT_TRUE (h.WaitConnected()) << p.name;
    const auto image = h.MakeImage ("image.bin", kImageBytes, true, false, 9);
    h.Choose (image);

    Arm (*module, p);
    ASSERT_TRUE (Press (h)) << p.name;
    ASSERT_TRUE (RunUntilBoxes (h, 1, kBoundMs))
        << p.name << ": no box within " << kBoundMs / 1000 << " s; " << Diagnose (h, module.get());
    EXPECT_TRUE (module->Fired()) << p.name << ": the fault was never armed";
    ASSERT_EQ (h.boxes[0].text, p.box) << p.name << ": " << BoxTexts (h) << "\n" << Diagnose (h, module.get());
    EXPECT_EQ (h.BoxesWithoutTheirOutcome(), "") << p.name;
    if (*p.logMark != 0)
    {
        EXPECT_TRUE (RunLoopUntil ([&] { return h.panel->GetLogText().contains (p.logMark); }, 5000))
            << p.name << ": the log lacks \"" << p.logMark << "\"\n" << h.panel->GetLogText();
    }
    if (p.reads >= 0)
    {
        EXPECT_EQ (module->receivedCount (SimCommand::ReadBlock), p.reads) << p.name;
    }

    if (juce::String (p.box) == kDone)
    {
        // The retry recovered: the flash holds the image and the program ends as after any update.
        EXPECT_TRUE (FlashHolds (*module, 0, PanelHarness::Bytes (image), 0, (size_t) kImageBytes)) << p.name;
        EXPECT_TRUE (RunLoopUntil ([&] { return h.quits.load() == 1; }, 5000)) << p.name;
        EXPECT_TRUE (NoFileOpen (h)) << p.name;
        RestartProgram (h);
        ASSERT_TRUE (h.WaitConnected()) << p.name << ": no connection after the restart";
    }
    else
    {
        if (p.fault == Fault::Vanish)
        {
            EXPECT_TRUE (BackToSearching (h)) << p.name;
            module->comeBack (SimMode::Loader);
        }
        EXPECT_TRUE (BackToConnected (h)) << p.name << ": " << Diagnose (h, module.get());
        EXPECT_EQ (h.boxes.size(), 1u) << p.name << ": " << BoxTexts (h);
        EXPECT_EQ (h.quits.load(), 0) << p.name;
        EXPECT_TRUE (NoFileOpen (h)) << p.name;
    }
    EXPECT_TRUE (ConfigIntact (h, iniBefore)) << p.name;

    module->Disarm();
    module->clearFaults();
    EXPECT_TRUE (SecondUpdateCompletes (h, *module)) << p.name;
    EXPECT_TRUE (NoFileOpen (h)) << p.name;

    // The program's end writes the settings back.
    h.panel.reset();
    PumpMessages (10);
    EXPECT_TRUE (ConfigIntact (h, iniBefore)) << p.name;
}

INSTANTIATE_TEST_SUITE_P (EveryPair, FaultMatrix, ::testing::ValuesIn (kPairs),
                          [] (const ::testing::TestParamInfo<Pair>& info) { return std::string (info.param.name); });
