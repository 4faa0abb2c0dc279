// Damaged and hostile driver files, end to end: the link's upload refuses
// them with the driver's error and sends nothing, the range checks refuse
// them with their own text, and names the catalog cannot take as ASCII still
// reach the lists.
#include <gtest/gtest.h>
#include "sim/SimDriverImage.h"
#include "tests/LinkTestRig.h"
#include "tests/PanelTestSupport.h"

namespace
{
    using Regions = std::vector<std::pair<uint16_t, uint16_t>>;

    std::vector<uint8_t> DriverBytes (const Regions& regions, bool terminated = true)
    {
        const auto f = juce::File::createTempFile ("driver");
        paneltest::WriteDriver (f, regions, terminated, linktest::kChip, linktest::kChip);
        const auto bytes = linktest::Rig::ReadFile (f);
        f.deleteFile();
        return bytes;
    }

    /** Writes a file byte for byte (an empty vector makes an empty file, not none). */
    juce::File WriteBytes (const juce::File& file, const std::vector<uint8_t>& bytes)
    {
        juce::FileOutputStream out (file);
        out.setPosition (0);
        out.truncate();
        if (! bytes.empty())
            out.write (bytes.data(), bytes.size());
        return file;
    }

    /** Every damaged driver, with what it is. */
    std::vector<std::pair<const char*, std::vector<uint8_t>>> DamagedDrivers()
    {
        return {
            { "empty", {} },
            { "15 bytes", std::vector<uint8_t> (15, 0x40) },
            { "table without terminator", DriverBytes ({ { 64, 64 }, { 64, 64 } }, false) },
            { "no region", DriverBytes ({}) },
            { "one sector past 512 MiB", DriverBytes ({ { 64, 8192 }, { 1, 1 } }) },
            // 65535 x 65535 KiB per region: a sector table of billions of entries and
            // start addresses far beyond 32 bits if anything were built from it.
            { "counts far past 512 MiB", DriverBytes (Regions (64, { 65535, 65535 })) },
            // An erased flash dump taken for a driver: 2.4 million regions of 65535 x
            // 64 MiB, whose sum would overflow even a 64-bit byte count.
            { "9 MB of 0xFF", std::vector<uint8_t> (9u << 20, 0xFF) },
        };
    }
}

TEST (BadInputDriver, DamagedDriversAreRefusedWithErrorCode15AndNothingIsSent)
{
    linktest::Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ConnectForJob());

    for (const auto& [what, bytes] : DamagedDrivers())
    {
        SCOPED_TRACE (what);
        const auto driver = WriteBytes (rig.folder.getChildFile ("driver.bin"), bytes);
        const auto from = rig.Mark();
        EXPECT_TRUE (rig.link->SendDriver (driver.getFullPathName().toWideCharPointer()));
        ASSERT_TRUE (rig.WaitFor (kStepStartMessage, 1, 1, from));
        EXPECT_EQ (rig.timeline.Boxes (from), juce::StringArray ("Error Code 15\n"));
        EXPECT_EQ (rig.link->GetSectorCount(), 0);
        EXPECT_EQ (module->receivedCount (SimCommand::LoadDriver), 0);
    }

    // The link is not stuck: a good driver goes through at once.
    EXPECT_TRUE (rig.UploadDriver (rig.MakeDriver (linktest::kUniform64)));
    EXPECT_EQ (rig.link->GetSectorCount(), 128);
}

TEST (BadInputDriver, TenThousandRegionsAndExactly512MiBAreTakenWhole)
{
    linktest::Rig rig;
    auto module = rig.AddModule();
    ASSERT_TRUE (rig.ConnectForJob());

    // 10,000 regions of one 1 KiB sector: the file is 40 KB, sent in ten blocks.
    const auto many = rig.WriteFile ("many.bin", DriverBytes (Regions (10000, { 1, 1 })));
    ASSERT_TRUE (rig.UploadDriver (many));
    EXPECT_EQ (rig.link->GetSectorCount(), 10000);
    EXPECT_EQ (rig.link->GetSector (9999).nStart, 9999 * 1024);
    EXPECT_EQ (module->driver().size(), 10u * 4096u);

    // The largest flash a word address reaches: the last sector ends at 512 MiB.
    const auto largest = rig.WriteFile ("largest.bin", DriverBytes ({ { 64, 4096 }, { 32, 8192 } }));
    ASSERT_TRUE (rig.UploadDriver (largest));
    EXPECT_EQ (rig.link->GetSectorCount(), 4096 + 8192);
    EXPECT_EQ (rig.link->GetFlashSize(), int64_t (1) << 29);
    EXPECT_EQ (rig.link->GetSector (4096 + 8191).nStart, (1 << 29) - 32 * 1024);
}

TEST (BadInputDriver, TheRangeChecksRefuseDamagedDriversWithTheirOwnText)
{
    PanelHarness h;
    auto& panel = h.Start();
    paneltest::TakeLog (panel);

    for (const auto& [what, bytes] : DamagedDrivers())
    {
        SCOPED_TRACE (what);
        const auto driver = WriteBytes (h.folder.getChildFile ("damaged.bin"), bytes);
        EXPECT_TRUE (panel.LoadSectorTable (driver.getFullPathName().toWideCharPointer()));
        EXPECT_EQ (paneltest::TakeLog (panel), "Flash infomation is not correct.");
    }
}

TEST (BadInputDriver, UnpaddedAndNonAsciiNamesReachTheListsAndTheSettings)
{
    PanelHarness h (false);
    const auto drivers = h.folder.getChildFile ("Drivers");
    drivers.createDirectory();
    h.folder.getChildFile ("QvDoc").createDirectory();

    // Sixteen characters each, no padding: the flash name follows the MCU name at once.
    paneltest::WriteDriver (drivers.getChildFile ("a.bin"), { { 64, 128 } }, true, "MCU_SIXTEEN_CHRS", "FLASH_SIXTEEN_16");
    // Bytes that are no ASCII: UTF-8 in one name, stray high bytes in the other.
    paneltest::WriteDriver (drivers.getChildFile ("b.bin"), { { 64, 128 } }, true, "QVM\xC3\xA4", "KV\x80\xFE" "29");

    auto& panel = h.Start();
    auto* mcus = panel.GetMCUCombo();
    ASSERT_EQ (mcus->getNumItems(), 2);
    EXPECT_EQ (mcus->getItemText (0), "MCU_SIXTEEN_CHRS");
    EXPECT_EQ (mcus->getItemText (1), juce::String (juce::CharPointer_UTF8 ("QVM\xC3\xA4")));

    mcus->setSelectedId (1, juce::dontSendNotification);
    panel.FillFlashTypes();
    EXPECT_EQ (panel.GetFlashTypeCombo()->getText(), "FLASH_SIXTEEN_16");

    mcus->setSelectedId (2, juce::dontSendNotification);
    panel.FillFlashTypes();
    const auto flashName = panel.GetFlashTypeCombo()->getText();
    EXPECT_EQ (flashName.length(), 6) << "each stray byte stays one character";
    EXPECT_TRUE (flashName.startsWith ("KV") && flashName.endsWith ("29"));

    // The names go to the settings and come back at the next start.
    panel.StoreLastSave();
    h.panel.reset();
    auto& again = h.Start();
    EXPECT_EQ (again.GetMCUCombo()->getSelectedId(), 2);
    EXPECT_EQ (again.GetFlashTypeCombo()->getText(), flashName);
}
