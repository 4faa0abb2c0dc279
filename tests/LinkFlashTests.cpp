// Driver upload, flash check, erase planning and programming against the
// simulated module's flash: sector tables, check answers in and out of the
// driver search, the aligned erase range and its notes, word and byte units,
// the zero block and erase-only steps.
#include <gtest/gtest.h>
#include "link/SysExPace.h"
#include "tests/LinkTestRig.h"

using namespace linktest;

namespace
{
    using Ops = std::vector<SimFlashOp>;

    SimFlashOp Erase (uint64_t a, uint64_t n)   { return { SimFlashOp::Erase, a, n }; }
    SimFlashOp Program (uint64_t a, uint64_t n) { return { SimFlashOp::Program, a, n }; }

    std::vector<uint8_t> Slice (const std::vector<uint8_t>& v, size_t from, size_t n)
    {
        return std::vector<uint8_t> (v.begin() + (long) from, v.begin() + (long) (from + n));
    }

    bool AllBytes (const std::vector<uint8_t>& v, uint8_t value)
    {
        return std::all_of (v.begin(), v.end(), [value] (uint8_t b) { return b == value; });
    }
}

TEST (LinkFlash, SectorTablesFollowTheDriverGeometry)
{
    Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ReadyForFlash (kUniform64));
    ASSERT_EQ (rig.link->GetSectorCount(), 128);
    EXPECT_EQ (rig.link->GetSector (1).nStart, 0x10000);
    EXPECT_EQ (rig.link->GetSector (127).nStart, 0x7F0000);
    EXPECT_EQ (rig.link->GetSector (127).nSize, 0x10000);
    EXPECT_EQ (rig.link->GetFlashSize(), 0x800000);

    ASSERT_TRUE (rig.UploadDriver (rig.MakeDriver (kBootBlocks, 0, "boot.bin")));
    ASSERT_EQ (rig.link->GetSectorCount(), 135);
    EXPECT_EQ (rig.link->GetSector (7).nStart, 0xE000);
    EXPECT_EQ (rig.link->GetSector (7).nSize, 0x2000);
    EXPECT_EQ (rig.link->GetSector (8).nStart, 0x10000);
    EXPECT_EQ (rig.link->GetFlashSize(), 0x800000);
    EXPECT_EQ (module->geometry().size(), 135u);

    // The small sectors plan a small erase: 0x3000 bytes at 0x2000 end up
    // aligned to 0x6000, two 8 KiB sectors.
    const auto image = Pattern (0x10000);
    const auto file = rig.WriteFile ("image.bin", image);
    module->clearRecords();
    const auto from = rig.RunStep ([&] { return rig.link->EraseAndProgramFile (0, file.getFullPathName(), 0, 0x2000, 0x3000); });
    EXPECT_EQ (module->operations(), (Ops { Erase (0x2000, 0x2000), Erase (0x4000, 0x2000), Program (0x2000, 0x4000) }));
    EXPECT_EQ (rig.timeline.Log (from), "Program length is set to 4000h bytes.\nErase finished.\nProgramming 1000\nProgram finished.\n");
    EXPECT_EQ (module->readFlash (0x2000, 0x4000), Slice (image, 0, 0x4000));
}

TEST (LinkFlash, UnusableDriverFilesAreRefusedBeforeAnythingIsSent)
{
    Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ReadyForFlash (kUniform64));
    module->clearRecords();

    // A missing file keeps the previous driver's table.
    auto from = rig.RunStep ([&] { return rig.link->SendDriver (rig.folder.getChildFile ("none.bin").getFullPathName().toWideCharPointer()); });
    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 14\n"));
    EXPECT_EQ (rig.link->GetSectorCount(), 128);

    // No sector, a table running off the end of the file, a table without its end.
    std::vector<uint8_t> head (16, 0x5A);
    auto noSector = head;
    noSector.insert (noSector.end(), { 0x40, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x00 });
    auto cutShort = head;
    cutShort.insert (cutShort.end(), { 0x40, 0x00, 0x80, 0x00, 0x40 });
    auto unterminated = head;
    unterminated.insert (unterminated.end(), { 0x40, 0x00, 0x80, 0x00, 0x08, 0x00, 0x08, 0x00 });
    for (const auto& bytes : { noSector, cutShort, unterminated })
    {
        const auto file = rig.WriteFile ("bad.bin", bytes);
        from = rig.RunStep ([&] { return rig.link->SendDriver (file.getFullPathName().toWideCharPointer()); });
        EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 15\n"));
        EXPECT_LT (rig.timeline.Find (kBoxEvent, -1, from), rig.timeline.Find (kStepStartMessage, 1, from));
        EXPECT_EQ (rig.link->GetSectorCount(), 0);
    }
    EXPECT_EQ (module->receivedCount (SimCommand::LoadDriver), 0);
    EXPECT_EQ (module->receivedCount (SimCommand::DriverBlock), 0);
}

TEST (LinkFlash, FlashCheckAnswersInAndOutsideTheDriverSearch)
{
    Rig rig;
    SimModuleConfig c;
    c.chipPages = { 0, 0x400 };
    auto module = rig.AddModule (c);
    ASSERT_TRUE (rig.ReadyForFlash (kUniform64));

    auto check = [&] (int page) { return rig.RunStep ([&] { rig.link->CheckFlash (page); return false; }); };

    // A job's check: status 0 is logged, anything else is "Error Code 8".
    auto from = check (0x400);
    EXPECT_EQ (module->received (SimCommand::CheckFlash).back().bytes,
               (std::vector<uint8_t> { 0x00, 0x20, 0x54, 0x7D, 0x05, 0x08, 0x00 }));
    EXPECT_EQ (rig.timeline.Log (from), "Check flash OK.\n");
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);
    from = check (1);
    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 8\n"));
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, -1, from), 0);

    // The driver search (phase 1): no log, no box; the phase moves on only for
    // a found chip that suits the image.
    struct Case { int page; bool fullImage; int sectors; int phaseAfter; };
    for (const Case k : { Case { 0, false, 128, 2 }, Case { 0, true, 1536, 2 }, Case { 0, true, 128, 1 }, Case { 1, false, 128, 1 } })
    {
        SCOPED_TRACE (juce::String (k.page) + " " + juce::String ((int) k.fullImage) + " " + juce::String (k.sectors));
        g_nJobPhase = 1;
        g_bFullImage = k.fullImage;
        g_nDriverSectorCount = k.sectors;
        from = check (k.page);
        EXPECT_EQ (g_nJobPhase.load(), k.phaseAfter);
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);
        EXPECT_TRUE (rig.timeline.Log (from).isEmpty());
        EXPECT_TRUE (rig.timeline.Boxes (from).isEmpty());
    }

    // Status 2 is an error even there.
    g_nJobPhase = 1;
    module->failNext (SimCommand::CheckFlash, 2);
    from = check (0);
    EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 5\n"));
}

TEST (LinkFlash, EraseCoversWholeSectorsFromTheOffsetToTheEndOfTheData)
{
    Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ReadyForFlash (kUniform64));
    const auto image = Pattern (0x25000);
    const auto file = rig.WriteFile ("image.bin", image);
    const auto path = file.getFullPathName();

    struct Case
    {
        const char* name;
        int flashOffset, length;
        Ops ops;
        const char* log;
    };
    const Case cases[] = {
        { "whole file", 0x10000, 0,
          { Erase (0x10000, 0x10000), Erase (0x20000, 0x10000), Erase (0x30000, 0x10000), Program (0x10000, 0x25000) },
          "Program length is set to 25000h bytes.\nErase finished.\nProgramming 8000\nProgram finished.\n" },
        { "length aligned up", 0x10000, 0x8000,
          { Erase (0x10000, 0x10000), Program (0x10000, 0x10000) },
          "Program length is set to 10000h bytes.\nErase finished.\nProgramming 8000\nProgram finished.\n" },
        { "length on a boundary", 0, 0x20000,
          { Erase (0, 0x10000), Erase (0x10000, 0x10000), Program (0, 0x20000) },
          "Erase finished.\nProgramming 0\nProgram finished.\n" },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        module->eraseWholeFlash();
        module->clearRecords();
        const auto from = rig.RunStep ([&] { return rig.link->EraseAndProgramFile (0, path, 0, c.flashOffset, c.length); });
        EXPECT_EQ (module->operations(), c.ops);
        EXPECT_EQ (rig.timeline.Log (from), c.log);
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);
        EXPECT_EQ (rig.timeline.Count (kStepStartMessage, 0, from), 1);
        const auto programmed = (size_t) c.ops.back().length;
        EXPECT_EQ (module->readFlash ((uint64_t) c.flashOffset, programmed), Slice (image, 0, programmed));
        EXPECT_FALSE (rig.link->isTimerRunning());
    }

    // Erase progress counts sectors of the range.
    module->clearRecords();
    auto from = rig.RunStep ([&] { return rig.link->EraseAndProgramFile (0, path, 0, 0x10000, 0); });
    EXPECT_EQ (rig.timeline.Progress (1, from), (std::vector<std::pair<int, int>> { { 0, 3 }, { 1, 3 }, { 2, 3 } }));
}

TEST (LinkFlash, EraseAtTheEndOfTheFlashIsCutThereAndBadRangesSendNothing)
{
    Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ReadyForFlash (kUniform64));

    // Ending inside the last sector: not aligned.
    const auto small = Pattern (0x1000, 2);
    const auto smallFile = rig.WriteFile ("small.bin", small);
    module->clearRecords();
    auto from = rig.RunStep ([&] { return rig.link->EraseAndProgramFile (0, smallFile.getFullPathName(), 0, 0x7F0000, 0); });
    EXPECT_EQ (module->operations(), (Ops { Erase (0x7F0000, 0x10000), Program (0x7F0000, 0x1000) }));
    EXPECT_TRUE (rig.timeline.Log (from).startsWith ("Program length is set to 1000h bytes.\n"));
    EXPECT_EQ (module->readFlash (0x7F0000, 0x1000), small);

    // Running past the end: cut at the end of the flash.
    const auto big = Pattern (0x20000, 3);
    const auto bigFile = rig.WriteFile ("big.bin", big);
    module->clearRecords();
    from = rig.RunStep ([&] { return rig.link->EraseAndProgramFile (0, bigFile.getFullPathName(), 0, 0x7F0000, 0); });
    EXPECT_EQ (module->operations(), (Ops { Erase (0x7F0000, 0x10000), Program (0x7F0000, 0x10000) }));
    EXPECT_TRUE (rig.timeline.Log (from).startsWith ("Program length is larger than the flash size.\nProgram length is set to 10000h bytes.\n"));
    EXPECT_EQ (module->readFlash (0x7F0000, 0x10000), Slice (big, 0, 0x10000));
    EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);

    // Refused ranges: not a sector start; a source offset at or after the end
    // of the file, or before its start; a page that the wire's 28-bit word
    // address does not reach (from 0x1000 on; 0x4000 on is where 32 bits wrap), or a negative one.
    struct Case { int page, src, offset; const char* box; };
    for (const Case c : { Case { 0, 0, 0x12000, "Error Code 17\n" }, Case { 0, 0x20000, 0, "Error Code 19\n" },
                          Case { 0, 0x30000, 0, "Error Code 19\n" }, Case { 0, -2, 0, "Error Code 19\n" },
                          Case { 0x1000, 0, 0, "Error Code 19\n" }, Case { 0x4000, 0, 0, "Error Code 19\n" },
                          Case { -1, 0, 0, "Error Code 19\n" } })
    {
        SCOPED_TRACE (juce::String (c.page) + " " + c.box);
        module->clearRecords();
        from = rig.RunStep ([&] { return rig.link->EraseAndProgramFile (c.page, bigFile.getFullPathName(), c.src, c.offset, 0); });
        EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray (c.box));
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, -1, from), 0);
        EXPECT_FALSE (rig.link->isTimerRunning());
        EXPECT_EQ (module->receivedCount (SimCommand::EraseSector), 0);
        EXPECT_EQ (module->receivedCount (SimCommand::WriteStart), 0);
    }

    // Programming without an erase, the zero block and the check of "only what
    // changed" refuse the same source offsets, pages and empty ranges.
    bool failed = false;
    const std::function<bool()> programs[] = {
        [&] { return rig.link->ProgramFile (0, bigFile.getFullPathName(), 0x20000, 0, 0); },
        [&] { return rig.link->ProgramFile (0x4000, bigFile.getFullPathName(), 0, 0, 0); },
        [&] { return rig.link->ProgramZeroBlock (0x4000, 0, 0, 0x800); },
        [&] { return rig.link->CheckRange (0x4000, bigFile.getFullPathName(), 0, 0, 0x10000, Communication::kFillFile); },
        [&] { return rig.link->CheckRange (0, bigFile.getFullPathName(), -2, 0, 0x10000, Communication::kFillFile); },
        [&] { return rig.link->CheckRange (0, bigFile.getFullPathName(), 0, 0, 0, Communication::kFillZeros); },
    };
    for (const auto& program : programs)
    {
        module->clearRecords();
        from = rig.RunStep (program, &failed);
        EXPECT_TRUE (failed);
        EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 19\n"));
        EXPECT_EQ (module->receivedCount (SimCommand::WriteStart), 0);
    }

    // A file that cannot be opened.
    const auto none = rig.folder.getChildFile ("none.bin").getFullPathName();
    for (const auto& open : { std::function<bool()> ([&] { return rig.link->EraseAndProgramFile (0, none, 0, 0, 0); }),
                              std::function<bool()> ([&] { return rig.link->CheckRange (0, none, 0, 0, 0x1000, Communication::kFillFile); }) })
    {
        from = rig.RunStep (open, &failed);
        EXPECT_TRUE (failed);
        EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 16\n"));
    }
}

TEST (LinkFlash, WordModeDoublesOffsetsAndLengthsButNotThePage)
{
    Rig rig;
    SimModuleConfig c;
    c.chipPages = { 0, 0x400 };
    auto module = rig.AddModule (c);
    ASSERT_TRUE (rig.ReadyForFlash (kUniform64));
    rig.link->SetWordMode (true);
    const auto image = Pattern (0x25000, 4);
    const auto file = rig.WriteFile ("image.bin", image);

    // Words 0x8000 / 0x800 / 0x4000: flash byte 0x10000, file byte 0x1000, 0x8000 bytes aligned up to a sector.
    auto from = rig.RunStep ([&] { return rig.link->EraseAndProgramFile (0, file.getFullPathName(), 0x800, 0x8000, 0x4000); });
    EXPECT_EQ (module->operations(), (Ops { Erase (0x10000, 0x10000), Program (0x10000, 0x10000) }));
    EXPECT_EQ (module->readFlash (0x10000, 0x10000), Slice (image, 0x1000, 0x10000));
    EXPECT_TRUE (rig.timeline.Log (from).contains ("Programming 8000\n"));

    // Page 0x400: every command carries word address 0x4000000.
    module->clearRecords();
    from = rig.RunStep ([&] { return rig.link->EraseAndProgramFile (0x400, file.getFullPathName(), 0, 0, 0x1800); });
    const std::vector<uint8_t> erase { 0x00, 0x20, 0x54, 0x7D, 0x04, 0x20, 0x00, 0x00, 0x00 };
    const std::vector<uint8_t> start { 0x00, 0x20, 0x54, 0x7D, 0x02, 0x20, 0x00, 0x00, 0x00, 0x00 };
    ASSERT_EQ (module->received (SimCommand::EraseSector).size(), 1u);
    EXPECT_EQ (module->received (SimCommand::EraseSector)[0].bytes, erase);
    ASSERT_EQ (module->received (SimCommand::WriteStart).size(), 1u);
    EXPECT_EQ (module->received (SimCommand::WriteStart)[0].bytes, start);
    EXPECT_TRUE (rig.timeline.Log (from).contains ("Programming 4000000\n"));
    EXPECT_EQ (module->readFlash (0x8000000, 0x10000), Slice (image, 0, 0x10000));
}

TEST (LinkFlash, ZeroBlockIsOneBlockInEitherUnit)
{
    Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ReadyForFlash (kUniform64));
    const auto before = Pattern (0x1000, 5);

    for (const bool words : { true, false })
    {
        SCOPED_TRACE (words ? "words" : "bytes");
        rig.link->SetWordMode (words);
        module->preloadFlash (0x10000, before);
        module->clearRecords();
        const int offset = words ? 0x8000 : 0x10000;
        const auto from = rig.RunStep ([&] { return rig.link->ProgramZeroBlock (0, 0, offset, 0x800); });
        EXPECT_EQ (module->receivedCount (SimCommand::WriteStart), 1);
        EXPECT_EQ (module->receivedCount (SimCommand::ProgramBlock), 1);
        EXPECT_EQ (module->receivedCount (SimCommand::EraseSector), 0);
        EXPECT_EQ (rig.timeline.Log (from), "Program finished.\n");
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);
        EXPECT_EQ (rig.timeline.Count (kStepStartMessage, -1, from), 0);
        EXPECT_FALSE (rig.link->isTimerRunning());

        const auto flash = module->readFlash (0x10000, 0x1000);
        const size_t zeros = words ? 0x1000 : 0x800;
        EXPECT_TRUE (AllBytes (Slice (flash, 0, zeros), 0x00));
        EXPECT_EQ (Slice (flash, zeros, 0x1000 - zeros), Slice (before, zeros, 0x1000 - zeros));
    }

    // A range reaching past the zero buffer is cut at its end.
    rig.link->SetWordMode (false);
    module->preloadFlash (0x10000, before);
    module->clearRecords();
    rig.RunStep ([&] { return rig.link->ProgramZeroBlock (0, 0xC00, 0x10000, 0x1000); });
    EXPECT_EQ (module->receivedCount (SimCommand::ProgramBlock), 1);
    const auto flash = module->readFlash (0x10000, 0x1000);
    EXPECT_TRUE (AllBytes (Slice (flash, 0, 0x400), 0x00));
    EXPECT_EQ (Slice (flash, 0x400, 0xC00), Slice (before, 0x400, 0xC00));
}

TEST (LinkFlash, EraseRangeErasesAndNeverPrograms)
{
    Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ReadyForFlash (kUniform64));
    module->preloadFlash (0x7C0000, Pattern (0x40000, 6));

    for (const uint8_t eraseOnly : { (uint8_t) 0, (uint8_t) 1 })
    {
        SCOPED_TRACE ((int) eraseOnly);
        g_bEraseOnly = eraseOnly;
        module->clearRecords();
        // Length 0: as far as the flash goes from the offset.
        const auto from = rig.RunStep ([&] { return rig.link->EraseRange (0, 0x7E0000, 0); });
        EXPECT_EQ (module->operations(), (Ops { Erase (0x7E0000, 0x10000), Erase (0x7F0000, 0x10000) }));
        EXPECT_EQ (module->receivedCount (SimCommand::WriteStart), 0);
        EXPECT_EQ (module->receivedCount (SimCommand::ProgramBlock), 0);
        EXPECT_EQ (rig.timeline.Count (kStepDoneMessage, 0, from), 1);
        EXPECT_TRUE (rig.timeline.Log (from).startsWith ("Program length is larger than the flash size.\n"));
        EXPECT_FALSE (rig.timeline.Log (from).contains ("Programming"));
        EXPECT_FALSE (rig.link->isTimerRunning());
        EXPECT_TRUE (AllBytes (module->readFlash (0x7E0000, 0x20000), 0xFF));
    }

    // The two-chip pass: a program step follows into the erased range.
    const auto image = Pattern (0x18000, 8);
    const auto file = rig.WriteFile ("image.bin", image);
    g_bEraseOnly = 1;
    rig.RunStep ([&] { return rig.link->EraseRange (0, 0x7C0000, 0x18000); });
    EXPECT_TRUE (AllBytes (module->readFlash (0x7C0000, 0x20000), 0xFF));
    module->clearRecords();
    const auto from = rig.RunStep ([&] { return rig.link->ProgramFile (0, file.getFullPathName(), 0, 0x7C0000, 0); });
    EXPECT_EQ (module->operations(), (Ops { Program (0x7C0000, 0x18000) }));
    EXPECT_EQ (module->readFlash (0x7C0000, 0x18000), image);
    EXPECT_EQ (rig.timeline.Log (from), "Erase finished.\nProgramming 3e0000\nProgram finished.\n");
}

TEST (LinkFlash, WithPacingAutoOnlyADataBlockRefusedOrLeftUnansweredComesAsLostBytes)
{
    Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ReadyForFlash (kUniform64));
    const auto driver = rig.MakeDriver (kUniform64).getFullPathName();
    const auto file = rig.WriteFile ("image.bin", Pattern (0x10000)).getFullPathName();
    const auto read = rig.folder.getChildFile ("read.bin").getFullPathName();
    SetSettingsPaceChoice ({ true, {} });

    struct Case { const char* name; SimCommand kind; uint8_t status; std::function<bool()> step; int lostCode; };
    const Case cases[] = {
        { "a program block timed out in the module", SimCommand::ProgramBlock, 3,
          [&] { return rig.link->EraseAndProgramFile (0, file, 0, 0, 0); }, 7 },
        { "an erase refused", SimCommand::EraseSector, 2, [&] { return rig.link->EraseAndProgramFile (0, file, 0, 0, 0); }, 0 },
        { "a flash check refused", SimCommand::CheckFlash, 2, [&] { rig.link->CheckFlash (0); return false; }, 0 },
        { "a read block refused", SimCommand::ReadBlock, 2, [&] { return rig.link->ReadToFile (read, 0, 0, 0x1000); }, 0 },
        { "a driver block refused (the driver is gone then: last)", SimCommand::DriverBlock, 2,
          [&] { return rig.link->SendDriver (driver.toWideCharPointer()); }, 5 },
    };
    for (const auto& c : cases)
    {
        SCOPED_TRACE (c.name);
        module->failNext (c.kind, c.status);
        const auto from = rig.RunStep (c.step);
        const int lost = rig.timeline.Find (kStepDoneMessage, Communication::kLostBytes, from);
        if (c.lostCode != 0)
        {
            // No box: the panel decides whether a slower pace runs the group again.
            ASSERT_GE (lost, 0);
            EXPECT_EQ (rig.timeline.events[(size_t) lost].third, c.lostCode);
            EXPECT_TRUE (rig.timeline.Boxes (from).isEmpty());
        }
        else
        {
            EXPECT_EQ (lost, -1);
            EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 5\n"));
        }
    }
    SetSettingsSysExPace ({});
}
