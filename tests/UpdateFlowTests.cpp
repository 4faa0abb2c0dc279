// Whole updates through the real panel against the simulated module: the
// model workflows, with the boot image, the special driver and the piece of
// the image that holds the "BD" marker written last.
#include <sys/stat.h>
#include "tests/UpdateFlowSupport.h"

using namespace flow;

namespace
{
    /** Whether the last programmed range that covers the marker comes after every
        other range of the image except the block at 0x40000 that the model
        workflows write at the very end. */
    ::testing::AssertionResult MarkerPieceLast (const std::vector<Range>& ranges, uint64_t marker)
    {
        int last = -1;
        for (int i = 0; i < (int) ranges.size(); ++i)
            if (ranges[(size_t) i].first <= marker && marker < ranges[(size_t) i].first + ranges[(size_t) i].second)
                last = i;
        if (last < 0)
            return ::testing::AssertionFailure() << "the marker was never programmed";
        for (size_t i = (size_t) last + 1; i < ranges.size(); ++i)
            if (ranges[i].first < 0x40000 || ranges[i].first + ranges[i].second > 0x60000)
                return ::testing::AssertionFailure() << "0x" << std::hex << ranges[i].first << " was programmed after the marker";
        return ::testing::AssertionSuccess();
    }

    /** What the QVM410 update programs for a 1 MiB image on 64 KiB sectors, in order. */
    std::vector<Range> Qvm410Ranges (bool markerHigh)
    {
        std::vector<Range> r { { 0x40000, 0x10000 },    // boot2.bin, 64 KiB at the boot offset
                               { 0x3F000, 0x1000 },     // zero block below 0x40000
                               { 0xF000, 0x1000 } };    // zero block below 0x10000
        for (uint64_t a = 0x60000; a < 0x100000; a += 0x20000)
            r.push_back ({ a, 0x20000 });
        const uint64_t low[] = { 0x10000, 0x20000, 0x30000, 0 }, high[] = { 0, 0x10000, 0x20000, 0x30000 };
        for (auto a : markerHigh ? high : low)
            r.push_back ({ a, 0x10000 });
        r.push_back ({ 0x40000, 0x20000 });
        return r;
    }

    /** Runs the update of an application-mode module from "Program" to the completion box;
        the module is away for `absenceMs` when it restarts into its loader. */
    void RunApplicationModeUpdate (bool bothMarkers, int absenceMs)
    {
        PanelHarness h;
        auto module = h.AddModule (SimMode::Application);
        module->setRestartAbsence (absenceMs);
        module->preloadFlash (0, std::vector<uint8_t> (0x100000, 0x00));
        h.Start();
        ASSERT_TRUE (h.WaitConnected());
        EXPECT_EQ (g_nDeviceFamily.load(), 1);

        const auto image = h.MakeImage ("image.bin", 0x100000, true, bothMarkers);
        const auto bytes = PanelHarness::Bytes (image);
        h.Choose (image);
        EXPECT_EQ (g_nFileSize.load(), 0x100000);
        ASSERT_TRUE (Press (h));

        // While the module restarts the loop keeps turning with the link's timer stopped;
        // "Browse..." and a drop do nothing then (a dialog would hide the box at the end).
        const auto other = h.MakeImage ("other.bin", 0x20000);
        int pauseTurns = 0, timerTurns = 0, dialogs = 0;
        SetFileChooserHook ([&] { ++dialogs; return other; });
        bool searchedAfterPause = false, statusChanged = false;
        const auto duringPause = [&]
        {
            // From the restart until the loader answers, the status line says what it said before.
            statusChanged = statusChanged || (g_nJobPhase == 1 && h.panel->GetStatusText() != "Vorlenz module connected.");
            if (! h.panel->IsSwitchPausing())
            {
                // Still away once the pause is over: searched for.
                searchedAfterPause = searchedAfterPause || g_nSwitchState == 2;
                return;
            }
            timerTurns += h.panel->GetJobRunner().GetLink().isTimerRunning() ? 1 : 0;
            if (++pauseTurns == 1)
            {
                h.panel->GetBrowseButton()->triggerClick();
                h.panel->GetBrowseButton()->filesDropped ({ other.getFullPathName() }, 5, 5);
            }
        };
        ProgressWatch watch;
        const bool ended = RunUntilBoxes (h, 1, 120000, &watch, duringPause);
        SetFileChooserHook (nullptr);
        ASSERT_TRUE (ended) << Diagnose (h, module.get());
        ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
        EXPECT_GT (pauseTurns, 10);
        EXPECT_FALSE (statusChanged);
        EXPECT_EQ (timerTurns, 0);
        EXPECT_EQ (dialogs, 0);
        EXPECT_EQ (h.panel->GetFileLabelText(), image.getFullPathName());
        EXPECT_EQ (g_nFileSize.load(), 0x100000);
        EXPECT_EQ (h.boxes[0].text, kCompleted);
        EXPECT_EQ (h.quits.load(), 1);
        EXPECT_EQ (h.panel->GetImageBank(), bothMarkers ? 1 : 0);
        if (absenceMs > 4500)
        {
            EXPECT_TRUE (searchedAfterPause);
        }
        EXPECT_EQ (h.panel->GetStatusText(), "Vorlenz module connected.");

        // The switch: the restart command went out, and the loader came back behind a new port.
        EXPECT_EQ (module->receivedCount (SimCommand::Restart), 1);
        EXPECT_EQ (module->mode(), SimMode::Loader);
        bool probedOnNewIndex = false;
        for (const auto& r : module->received (SimCommand::LoaderProbe))
            if (r.mode == SimMode::Loader && r.bytes.size() == 7 && r.bytes[5] == 1)
                probedOnNewIndex = true;
        EXPECT_TRUE (probedOnNewIndex);
        EXPECT_EQ (g_strMCUName, "QVM410");

        // The whole update in its order; the marker's piece last of the boot area.
        const auto ranges = Programmed (*module);
        EXPECT_EQ (ranges, Qvm410Ranges (bothMarkers));
        EXPECT_TRUE (MarkerPieceLast (ranges, bothMarkers ? 0x3FFF8 : 0xFFF8));
        EXPECT_TRUE (FlashHolds (*module, 0, bytes, 0, bytes.size()));
        // Special.bin was the last driver checked before the image was written.
        EXPECT_EQ (module->receivedCount (SimCommand::CheckFlash), 3 + 1 + 1 + 1);

        // The boot image counts in the bar: 1 MiB of image and 64 KiB of boot code, each once.
        EXPECT_EQ (h.panel->GetTotalBytes(), 0x110000);
        EXPECT_EQ (h.panel->GetDoneBytes(), 0x110000);
        EXPECT_FALSE (watch.wentBack);
        EXPECT_FALSE (watch.invalid);
        EXPECT_TRUE (IsJobLog (h.panel->GetLogText())) << h.panel->GetLogText().substring (0, 200);
    }
}

TEST (UpdateFlow, ApplicationModeModuleGetsTheQvm410UpdateWithTheMarkerPieceLast)
{
    RunApplicationModeUpdate (false, 200);
}

TEST (UpdateFlow, ImageWithBothMarkersWritesThePieceBelow0x40000LastFromAModuleSlowToComeBack)
{
    // Back two probe cycles after the pause, as new ports.
    RunApplicationModeUpdate (true, 5200);
}

TEST (UpdateFlow, LoaderModeModuleWithAQvm428DriverGetsTheQvm428Update)
{
    PanelHarness h;
    // Without the QVM410 driver of its chip, the first driver that fits is the QVM428 one.
    ASSERT_TRUE (h.folder.getChildFile ("Drivers/QVM410_KV29F064.bin").deleteFile());
    auto module = h.AddModule (SimMode::Loader);
    module->preloadFlash (0, std::vector<uint8_t> (0x100000, 0x00));
    h.Start();
    ASSERT_TRUE (h.WaitConnected());

    const auto image = h.MakeImage ("image428.bin", 0x100000, true, false, 5);
    const auto bytes = PanelHarness::Bytes (image);
    h.Choose (image);
    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 1, 120000)) << Diagnose (h, module.get());
    ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
    EXPECT_EQ (h.boxes[0].text, kCompleted);
    EXPECT_EQ (g_strMCUName, "QVM428");
    EXPECT_EQ (module->receivedCount (SimCommand::Restart), 0);

    // flashpgm.bin, one zero block (below 0x10000 only), the image from 0x60000, then 0x20000, 0 and 0x40000.
    std::vector<Range> expected { { 0x40000, 0x10000 }, { 0xF000, 0x1000 } };
    for (uint64_t a = 0x60000; a < 0x100000; a += 0x20000)
        expected.push_back ({ a, 0x20000 });
    for (uint64_t a : { 0x20000, 0x0, 0x40000 })
        expected.push_back ({ a, 0x20000 });
    const auto ranges = Programmed (*module);
    EXPECT_EQ (ranges, expected);
    EXPECT_TRUE (MarkerPieceLast (ranges, 0xFFF8));
    EXPECT_TRUE (FlashHolds (*module, 0, bytes, 0, bytes.size()));
    EXPECT_EQ (h.panel->GetDoneBytes(), h.panel->GetTotalBytes());
}

TEST (UpdateFlow, DroppedLargeImageIsMeasuredAndTakesItsModelsUpdate)
{
    PanelHarness h;
    auto module = h.AddModule (SimMode::Loader);
    h.Start();
    ASSERT_TRUE (h.WaitConnected());

    // First a small file through "Browse...", then a larger one dropped on the button.
    h.Choose (h.MakeImage ("small.bin", 0x20000));
    ASSERT_EQ (g_nFileSize.load(), 0x20000);
    const auto image = h.MakeImage ("dropped.bin", 0x80000, true, false, 3);
    h.panel->GetBrowseButton()->filesDropped ({ image.getFullPathName() }, 5, 5);
    ASSERT_TRUE (RunLoopUntil ([&] { return g_nFileSize == 0x80000; }, 5000));
    EXPECT_EQ (h.panel->GetFileLabelText(), image.getFullPathName());

    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 1, 120000)) << Diagnose (h, module.get());
    ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
    EXPECT_EQ (h.boxes[0].text, kCompleted);
    // The model update, not the file workflow: boot2.bin went to the boot offset first.
    const auto ranges = Programmed (*module);
    ASSERT_FALSE (ranges.empty());
    EXPECT_EQ (ranges.front(), Range (0x40000, 0x10000));
    EXPECT_EQ (ranges.back(), Range (0x40000, 0x20000));
    EXPECT_TRUE (FlashHolds (*module, 0, PanelHarness::Bytes (image), 0, 0x80000));
}

TEST (UpdateFlow, TwoChipFlowErasesAndProgramsEachChipInItsTurnInEitherUnit)
{
    // The second chip takes the file from word 0x1000000, byte 0x2000000, whichever unit the panel uses.
    for (const bool words : { true, false })
    {
        SCOPED_TRACE (words ? "words" : "bytes");
        PanelHarness h;
        // The demo's two-chip driver describes 32 MiB chips of 256 sectors of 128 KiB. Its copy here
        // describes 4 of them (the count at offset 18), so that a chip is programmed in a second, not a
        // minute; the second chip still takes the file from byte 0x2000000 on.
        const auto driver = h.folder.getChildFile ("Drivers/QVM428_S29GL256x2_R.bin");
        juce::MemoryBlock bytesOfDriver;
        ASSERT_TRUE (driver.loadFileAsData (bytesOfDriver));
        auto* d = static_cast<uint8_t*> (bytesOfDriver.getData());
        ASSERT_EQ (d[16] | (d[17] << 8), 128);
        ASSERT_EQ (d[18] | (d[19] << 8), 256);
        d[18] = 4;
        d[19] = 0;
        ASSERT_TRUE (driver.replaceWithData (bytesOfDriver.getData(), bytesOfDriver.getSize()));

        constexpr uint64_t kChip = 0x80000, kSecondBase = (uint64_t) 0x400 << 17, kFileSecond = 0x2000000, kTail = 0x40000;
        auto module = h.bus->addModule (ModuleConfig (SimMode::Loader, 1, "S29GL256x2_R", { 0, 0x400 }));
        module->preloadFlash (0, std::vector<uint8_t> (kChip, 0x00));
        module->preloadFlash (kSecondBase, std::vector<uint8_t> (kChip, 0x00));
        h.Start();
        ASSERT_TRUE (h.WaitConnected());
        h.panel->SetWordMode (words);

        const auto image = h.MakeImage ("twochip.bin", (int) (kFileSecond + kTail), true, false, 7);
        const auto bytes = PanelHarness::Bytes (image);
        h.Choose (image);
        ASSERT_TRUE (Press (h));
        ProgressWatch watch;
        ASSERT_TRUE (RunUntilBoxes (h, 1, 120000, &watch)) << Diagnose (h, module.get());
        ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
        EXPECT_EQ (h.boxes[0].text, kCompleted);
        EXPECT_EQ (g_strFlashName, "S29GL256x2_R");

        // Chip one: every sector erased, then programmed block by block without erasing again.
        // Chip two: the sectors that the rest of the file needs, the same way.
        std::vector<SimFlashOp> expected;
        for (uint64_t a = 0; a < kChip; a += 0x20000)
            expected.push_back ({ SimFlashOp::Erase, a, 0x20000 });
        for (uint64_t a = 0; a < kChip; a += 0x20000)
            expected.push_back ({ SimFlashOp::Program, a, 0x20000 });
        for (uint64_t a = 0; a < kTail; a += 0x20000)
            expected.push_back ({ SimFlashOp::Erase, kSecondBase + a, 0x20000 });
        for (uint64_t a = 0; a < kTail; a += 0x20000)
            expected.push_back ({ SimFlashOp::Program, kSecondBase + a, 0x20000 });
        EXPECT_EQ (module->operations(), expected);

        EXPECT_TRUE (FlashHolds (*module, 0, bytes, 0, (size_t) kChip));
        EXPECT_TRUE (FlashHolds (*module, kSecondBase, bytes, (size_t) kFileSecond, (size_t) kTail));
        EXPECT_TRUE (FlashIsAll (*module, kSecondBase + kTail, (size_t) (kChip - kTail), 0x00));
        EXPECT_EQ (h.panel->GetFlashPageEditor()->getText(), "400");
        EXPECT_EQ (h.panel->GetFileOffsetEditor()->getText(), words ? "1000000" : "2000000");
        EXPECT_FALSE (watch.invalid);
        // The bar counts the second chip's program pass alone, and ends full.
        EXPECT_EQ (h.panel->GetTotalBytes(), (int) kTail);
        EXPECT_EQ (h.panel->GetDoneBytes(), (int) kTail);
        EXPECT_DOUBLE_EQ (h.panel->GetProgress(), 1.0);
        EXPECT_TRUE (IsJobLog (h.panel->GetLogText())) << h.panel->GetLogText().substring (0, 200);
    }
}

TEST (UpdateFlow, StrayEntriesBeforeTheDriverAreSkippedWithTheirReasonAndNeverSent)
{
    PanelHarness h;
    auto drivers = h.folder.getChildFile ("Drivers");
    const auto right = drivers.getChildFile ("QVM428_KV29F064.bin");
    for (const auto& f : drivers.findChildFiles (juce::File::findFiles, false))
        ASSERT_TRUE (f == right || f.deleteFile());

    // Each sorts before the right driver; none may reach the module.
    enum class Kind { Folder, Empty, Text };
    struct Stray { const char* name; Kind kind; const char* logged; };
    const Stray strays[] = {
        { "0-old.bin", Kind::Folder, "Skipped 0-old.bin: it is a folder.\n" },
        { "1-\xE9t\xE9.bin", Kind::Text, "Skipped 1-\\xE9t\\xE9.bin: it holds no sector table.\n" },
        { "2-empty.bin", Kind::Empty, "Skipped 2-empty.bin: it is empty.\n" },
        { "3-notes.txt", Kind::Text, "Skipped 3-notes.txt: it holds no sector table.\n" },
    };
    const std::string text = "Backups of the old drivers are in the folder beside this note.\n";
    for (const auto& s : strays)
    {
        // Names are made from their bytes: one of them is no UTF-8.
        const auto path = drivers.getFullPathName().toStdString() + "/" + s.name;
        if (s.kind == Kind::Folder)
        {
            ASSERT_EQ (::mkdir (path.c_str(), 0755), 0);
            continue;
        }
        std::FILE* f = std::fopen (path.c_str(), "wb");
        ASSERT_NE (f, nullptr) << s.name;
        if (s.kind == Kind::Text)
            std::fwrite (text.data(), 1, text.size(), f);
        std::fclose (f);
    }

    // The workflow clears the pane when it starts: the log is taken as it is written.
    auto module = h.AddModule (SimMode::Loader);
    h.Start();
    ASSERT_TRUE (h.WaitConnected());
    const auto image = h.MakeImage ("image.bin", 0x40000);
    h.Choose (image);
    ASSERT_TRUE (Press (h));
    ASSERT_TRUE (RunUntilBoxes (h, 1, 60000)) << Diagnose (h, module.get());
    ASSERT_EQ (h.boxes.size(), 1u) << BoxTexts (h);
    EXPECT_EQ (h.boxes[0].text, kCompleted);
    EXPECT_TRUE (FlashHolds (*module, 0, PanelHarness::Bytes (image), 0, 0x40000));

    // Only the right driver went out: by the search, for the chosen flash type and for the first group.
    EXPECT_EQ (CountBefore (*module, SimCommand::LoadDriver, SimCommand::EraseSector), 3);
    const auto sent = module->driver(), wanted = PanelHarness::Bytes (right);
    EXPECT_TRUE (sent.size() >= wanted.size() && std::equal (wanted.begin(), wanted.end(), sent.begin()));
    h.panel->GetLogText();   // text still gathering goes to the recorder too
    const auto log = h.recorder.text;
    for (const auto& s : strays)
        EXPECT_TRUE (log.contains (s.logged)) << s.logged << "\nlog:\n" << log;
}

namespace
{
    /** One of the workflows, set up on a fresh panel and module. */
    struct OnlyChangedCase
    {
        const char* workflow;
        int imageBytes;                      ///< above 0x60000: a model update
        bool qvm428;                         ///< the QVM410 driver removed
        bool twoChips;                       ///< the two-chip flow on a 4-sector copy of its driver
    };

    constexpr uint64_t kSecondChip = (uint64_t) 0x400 << 17, kFileSecond = 0x2000000;

    /** Bytes of each region: a chip of the two-chip flow, else 1 MiB. */
    uint64_t RegionBytes (const OnlyChangedCase& c) { return c.twoChips ? 0x80000 : 0x100000; }

    /** The flash regions a case looks at: the chip, and the second chip in the two-chip flow. */
    std::vector<uint64_t> Regions (const OnlyChangedCase& c)
    {
        return c.twoChips ? std::vector<uint64_t> { 0, kSecondChip } : std::vector<uint64_t> { 0 };
    }

    /** The flash after one update from `start` (a region each), or empty when it did not complete. */
    std::vector<uint8_t> UpdateFrom (const OnlyChangedCase& c, const std::vector<std::vector<uint8_t>>& start,
                                     bool onlyChanged, uint64_t& programmed)
    {
        PanelHarness h;
        std::shared_ptr<SimulatedModule> module;
        if (c.twoChips)
        {
            const auto driver = h.folder.getChildFile ("Drivers/QVM428_S29GL256x2_R.bin");
            juce::MemoryBlock bytes;
            driver.loadFileAsData (bytes);
            static_cast<uint8_t*> (bytes.getData())[18] = 4;
            static_cast<uint8_t*> (bytes.getData())[19] = 0;
            driver.replaceWithData (bytes.getData(), bytes.getSize());
            module = h.bus->addModule (ModuleConfig (SimMode::Loader, 1, "S29GL256x2_R", { 0, 0x400 }));
        }
        else
        {
            if (c.qvm428)
                h.folder.getChildFile ("Drivers/QVM410_KV29F064.bin").deleteFile();
            module = h.AddModule (SimMode::Loader);
        }
        for (size_t r = 0; r < start.size(); ++r)
            module->preloadFlash (Regions (c)[r], start[r]);
        h.Start();
        h.panel->SetOnlyChanged (onlyChanged);
        h.Choose (h.MakeImage ("image.bin", c.imageBytes, true, false, 9));
        if (! Press (h) || ! RunUntilBoxes (h, 1, 120000) || h.boxes[0].text != kCompleted)
        {
            ADD_FAILURE() << Diagnose (h, module.get());
            return {};
        }
        // The bar counts the whole image, checked and written.
        EXPECT_DOUBLE_EQ (h.panel->GetProgress(), 1.0);
        programmed = 0;
        for (const auto& r : Programmed (*module))
            programmed += r.second;
        std::vector<uint8_t> flash;
        for (auto base : Regions (c))
        {
            const auto part = module->readFlash (base, RegionBytes (c));
            flash.insert (flash.end(), part.begin(), part.end());
        }
        return flash;
    }
}

TEST (UpdateFlow, OnlyWhatChangedLeavesTheFlashAsAFullUpdateWhateverItHeldAndWritesLess)
{
    const OnlyChangedCase cases[] = {
        { "file write", 0x60000, false, false },
        { "QVM410 update", 0xC0000, false, false },
        { "QVM428 update", 0xC0000, true, false },
        { "two chips", (int) (kFileSecond + 0x40000), false, true },
    };
    enum class Start { Erased, Previous, Random, CutOff, Holds };
    for (const auto& c : cases)
    {
        PanelHarness files;
        const auto image = PanelHarness::Bytes (files.MakeImage ("image.bin", c.imageBytes, true, false, 9));
        const auto previous = PanelHarness::Bytes (files.MakeImage ("previous.bin", c.imageBytes, true, false, 4));
        juce::Random random (30);
        for (auto start : { Start::Erased, Start::Previous, Start::Random, Start::CutOff, Start::Holds })
        {
            SCOPED_TRACE (std::string (c.workflow) + ", start " + std::to_string ((int) start));
            std::vector<std::vector<uint8_t>> flash;
            for (auto base : Regions (c))
            {
                const uint64_t from = base == 0 ? 0 : kFileSecond;
                std::vector<uint8_t> region (RegionBytes (c), 0xFF);
                for (uint64_t a = 0; a < region.size(); ++a)
                {
                    const bool inImage = from + a < image.size();
                    const uint8_t now = inImage ? image[from + a] : 0xFF, before = inImage ? previous[from + a] : 0x5A;
                    switch (start)
                    {
                        case Start::Erased:   break;
                        case Start::Previous: region[a] = before; break;
                        case Start::Random:   region[a] = (uint8_t) random.nextInt (256); break;
                        // Written up to 0x38800 (the sector there half programmed, the next erased), the old one beyond.
                        case Start::CutOff:   region[a] = a < 0x38800 ? now : a < 0x40000 ? 0xFF : before; break;
                        case Start::Holds:    region[a] = now; break;
                    }
                }
                flash.push_back (std::move (region));
            }
            uint64_t fullWrites = 0, onlyWrites = 0;
            const auto full = UpdateFrom (c, flash, false, fullWrites);
            const auto only = UpdateFrom (c, flash, true, onlyWrites);
            ASSERT_FALSE (full.empty());
            ASSERT_TRUE (full == only);
            if (start == Start::Holds || start == Start::CutOff)
            {
                EXPECT_LT (onlyWrites, start == Start::Holds ? fullWrites / 2 : fullWrites);
            }
        }
    }
}
