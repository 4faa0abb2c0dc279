// The simulated module over the bus, spoken to with raw SysEx: probes,
// restart into the loader, driver upload and check, erase/program/read with
// chunking and the FS trailer, and scripted faults.
#include <gtest/gtest.h>
#include <random>
#include "link/SysExCodec.h"
#include "sim/SimDriverImage.h"
#include "sim/SimSysExCodec.h"
#include "tests/SimTestHost.h"

namespace
{
    const Bytes kAppProbe { 0x00, 0x20, 0x54, 0x05, 0x06 };
    const Bytes kAppIdentity { 0x00, 0x20, 0x54, 0x05, 0x06, 0x00 };
    const Bytes kContinue { 0x00, 0x20, 0x54, 0x7D, 0x00, 0x00 };

    Bytes LoaderProbe (uint8_t index) { return { 0x00, 0x20, 0x54, 0x7D, 0x08, index, 0x01 }; }

    Bytes WithWordAddress (Bytes head, uint32_t byteAddress, std::initializer_list<uint8_t> tail = {})
    {
        const uint32_t w = byteAddress / 2;
        for (const int shift : { 21, 14, 7, 0 })
            head.push_back ((uint8_t) ((w >> shift) & 0x7F));
        head.insert (head.end(), tail);
        return head;
    }
    Bytes Erase (uint32_t a)      { return WithWordAddress ({ 0x00, 0x20, 0x54, 0x7D, 0x04 }, a); }
    Bytes WriteStart (uint32_t a) { return WithWordAddress ({ 0x00, 0x20, 0x54, 0x7D, 0x02 }, a, { 0x00 }); }
    Bytes ReadBlock (uint32_t a)  { return WithWordAddress ({ 0x00, 0x20, 0x54, 0x7D, 0x02 }, a, { 0x01 }); }
    Bytes Check (int page)        { return { 0x00, 0x20, 0x54, 0x7D, 0x05, (uint8_t) ((page >> 7) & 0x7F), (uint8_t) (page & 0x7F) }; }

    // The host's side of the encodings, written from the wire format on its own.
    Bytes DataBlock (const uint8_t* data)
    {
        Bytes out { 0x00, 0x20, 0x54, 0x7D, 0x01 };
        for (int pos = 0; pos < 4096; pos += 7)
        {
            const int k = std::min (7, 4096 - pos);
            uint8_t tops = 0;
            for (int j = 0; j < k; ++j)
            {
                out.push_back (data[pos + j] & 0x7F);
                tops |= (uint8_t) ((data[pos + j] >> 7) << (k - 1 - j));
            }
            out.push_back (tops);
        }
        return out;
    }
    Bytes DecodeChunk (const Bytes& reply)
    {
        Bytes out;
        for (size_t pos = 6; pos < reply.size(); pos += 8)
        {
            const size_t n = std::min<size_t> (8, reply.size() - pos);
            for (size_t j = 0; j + 1 < n; ++j)
                out.push_back ((uint8_t) (reply[pos + j] | (((reply[pos + n - 1] >> (n - 2 - j)) & 1) << 7)));
        }
        return out;
    }
    Bytes Trailer (const uint8_t* block)
    {
        auto rol = [] (uint8_t v, int s) { s &= 7; return (uint8_t) (s ? (v << s) | (v >> (8 - s)) : v); };
        unsigned a = 0, b = 0;
        for (int line = 0; line < 4096; line += 16)
            for (int j = 0; j < 8; ++j)
            {
                a += rol (block[line + 2 * j], j + 1);
                b += rol (block[line + 2 * j + 1], 7 - j);
            }
        return { (uint8_t) b, (uint8_t) (b >> 8), (uint8_t) a, (uint8_t) (a >> 8) };
    }
    Bytes Pattern (size_t size, unsigned seed)
    {
        Bytes out (size);
        for (size_t i = 0; i < size; ++i)
            out[i] = (uint8_t) ((i * 131 + seed * 17 + (i >> 8)) & 0xFF);
        return out;
    }

    const std::vector<SimRegion> kGeometry { { 8, 8 }, { 64, 127 } };   // 8 MiB

    struct SimModuleTest : ::testing::Test
    {
        VirtualMidiBus bus;
        std::shared_ptr<SimulatedModule> module;
        SimTestLink link;

        void start (SimModuleConfig config = {})
        {
            module = bus.addModule (config);
            ASSERT_TRUE (link.open (bus, config.inputName));
        }
        void upload (const Bytes& driver)
        {
            link.send ({ 0x00, 0x20, 0x54, 0x7D, 0x03 });
            for (size_t pos = 0; pos < driver.size(); pos += 4096)
            {
                Bytes block (4096, 0xA5);
                std::copy (driver.begin() + (long) pos, driver.begin() + (long) std::min (driver.size(), pos + 4096), block.begin());
                ASSERT_EQ (link.ask (DataBlock (block.data())), SimStatus (0));
            }
        }
        void uploadGood() { upload (MakeSimDriver ("SIMMCU", "SIM29GL064", kGeometry)); }
        // Reads one block the way the host parser does; returns the decoded bytes.
        Bytes read (uint32_t address, bool sendContinue = false)
        {
            Bytes data;
            const size_t expected = module->config().fsFlag == 1 ? 4100 : 4096;
            const size_t before = link.handler.count();
            link.send (ReadBlock (address));
            for (size_t i = before; link.handler.waitFor (i + 1); ++i)
            {
                const Bytes chunk = link.handler.at (i);
                if (chunk.size() < 6 || chunk[4] != 0x01)
                    return chunk;   // a status instead of data
                const Bytes part = DecodeChunk (chunk);
                data.insert (data.end(), part.begin(), part.end());
                if (data.size() >= expected)
                    break;
                if (chunk[5] != 1 && sendContinue)
                    link.send (kContinue);
            }
            return data;
        }
    };
}

TEST (SimCodec, MatchesTheWireVectors)
{
    uint8_t groups[4];
    SimWriteWordAddress (0x123456 / 2, groups);
    EXPECT_EQ (Bytes (groups, groups + 4), Bytes ({ 0x00, 0x24, 0x34, 0x2B }));
    EXPECT_EQ (SimReadWordAddress (groups), 0x91A2Bu);

    Bytes ff (4096, 0xFF), encoded;
    SimEncode8to7 (ff.data(), ff.size(), encoded);
    ASSERT_EQ (encoded.size(), 4682u);
    EXPECT_TRUE (std::all_of (encoded.begin(), encoded.end() - 2, [] (uint8_t b) { return b == 0x7F; }));
    EXPECT_EQ (encoded[4680], 0x7F);
    EXPECT_EQ (encoded[4681], 0x01);
    Bytes back;
    SimDecode8to7 (encoded.data(), encoded.size(), back);
    EXPECT_EQ (back, ff);

    auto trailer = [] (Bytes block) { uint8_t t[4]; SimReadTrailer (block.data(), t); return Bytes (t, t + 4); };
    EXPECT_EQ (trailer (Bytes (4096, 0x01)), Bytes ({ 0x00, 0xFF, 0x00, 0xFF }));
    EXPECT_EQ (trailer (Bytes (4096, 0xFF)), Bytes ({ 0x00, 0xF8, 0x00, 0xF8 }));
    Bytes one (4096, 0);
    one[1] = 0x80;
    EXPECT_EQ (trailer (one), Bytes ({ 0x40, 0x00, 0x00, 0x00 }));
    one[1] = 0;
    one[0] = 0x80;
    EXPECT_EQ (trailer (one), Bytes ({ 0x00, 0x00, 0x01, 0x00 }));
}

TEST (SimCodec, WordAtATimeLoopsGiveTheBytesOfTheDefinition)
{
    std::mt19937 random (11);
    for (size_t length = 0; length <= 4100; length += length < 40 ? 1 : 353)
    {
        SCOPED_TRACE (length);
        Bytes data (length);
        for (auto& b : data)
            b = (uint8_t) random();
        Bytes encoded, back;
        SimEncode8to7 (data.data(), data.size(), encoded);
        Bytes host (encoded.size() + 8);
        ASSERT_EQ (Encode8to7 (data.data(), (int) length, host.data()), (int) encoded.size());
        EXPECT_TRUE (std::equal (encoded.begin(), encoded.end(), host.begin()));
        SimDecode8to7 (encoded.data(), encoded.size(), back);
        EXPECT_EQ (back, data);

        // Any 7-bit bytes (every length, a lone last byte too) decode as the host's parser decodes them.
        Bytes reply { 0x00, 0x20, 0x54, 0x7D, 0x01, 0x00 };
        for (const auto b : data)
            reply.push_back (b & 0x7F);
        back.clear();
        SimDecode8to7 (reply.data() + 6, length, back);
        EXPECT_EQ (back, DecodeChunk (reply));
    }
    Bytes block (4096);
    for (int round = 0; round < 8; ++round)
    {
        for (auto& b : block)
            b = round == 0 ? 0xFF : (uint8_t) random();
        Bytes encoded;
        SimEncode8to7 (block.data(), block.size(), encoded);
        const Bytes command = DataBlock (block.data());
        EXPECT_EQ (encoded, Bytes (command.begin() + 5, command.end()));
        uint8_t t[4];
        SimReadTrailer (block.data(), t);
        EXPECT_EQ (Bytes (t, t + 4), Trailer (block.data()));
    }
}

TEST (SimFlashStore, FollowsNorRulesAndStaysSparse)
{
    SimFlash flash;
    const Bytes a { 0xF0, 0x0F, 0xAA }, b { 0x3C, 0xFF, 0x55 };
    flash.program (0x1FFF, a.data(), 3);   // straddles two pages
    flash.program (0x1FFF, b.data(), 3);
    Bytes got (5);
    flash.read (0x1FFE, got.data(), 5);
    EXPECT_EQ (got, Bytes ({ 0xFF, 0x30, 0x0F, 0x00, 0xFF }));
    flash.erase (0x2000, 1024);            // part of the second page
    flash.read (0x1FFE, got.data(), 5);
    EXPECT_EQ (got, Bytes ({ 0xFF, 0x30, 0xFF, 0xFF, 0xFF }));
    flash.erase (0, 0x10000);
    EXPECT_EQ (flash.usedPages(), 0u);

    const Bytes zeros (4096, 0);
    for (uint64_t addr = 0; addr < (16u << 20); addr += 4096)
        flash.program (addr, zeros.data(), zeros.size());
    EXPECT_EQ (flash.usedPages(), 4096u);
    EXPECT_EQ (flash.bufferedPages(), 0u);

    // Kept in a file and taken back: zero pages stay zeros, erased ones erased.
    flash.erase (0x100000, 4096);
    flash.program (0x1000010, a.data(), 3);   // takes the buffer an erased page gave back
    Bytes page (4096), expected (4096, 0xFF);
    std::copy (a.begin(), a.end(), expected.begin() + 0x10);
    flash.read (0x1000000, page.data(), page.size());
    EXPECT_EQ (page, expected);
    const auto file = juce::File::createTempFile ("simflash");
    ASSERT_TRUE (flash.saveTo (file));
    SimFlash back;
    back.program (0x2000000, a.data(), 3);
    ASSERT_TRUE (back.loadFrom (file));
    file.deleteFile();
    EXPECT_EQ (back.usedPages(), flash.usedPages());
    Bytes want (0x1002000), have (0x1002000);
    flash.read (0, want.data(), want.size());
    back.read (0, have.data(), have.size());
    EXPECT_TRUE (want == have);
    back.read (0x2000000, got.data(), 3);
    EXPECT_EQ (got[0], 0xFF);
}

TEST_F (SimModuleTest, ApplicationModeAnswersItsProbeAndRestartsIntoTheLoaderElsewhere)
{
    SimModuleConfig config;
    config.startMode = SimMode::Application;
    config.restartAbsenceMs = 30;
    config.portsInsertedOnReturn = 2;
    config.fsFlag = 1;
    bus.addSilentPorts ("First");
    start (config);

    EXPECT_EQ (link.ask (kAppProbe), kAppIdentity);
    link.send (LoaderProbe (1));                // the application ignores the loader probe
    link.send ({ 0x00, 0x20, 0x54, 0x05, 0x08, 0x03 });
    EXPECT_TRUE (bus.waitForIdle());            // vanished, and back after the absence
    EXPECT_EQ (module->mode(), SimMode::Loader);
    EXPECT_EQ (bus.getInputNames().indexOf ("Sim Sound Module"), 3);
    EXPECT_EQ (module->receivedCount (SimCommand::Restart), 1);

    link.send (LoaderProbe (1));                // old ports are dead
    SimTestLink fresh;
    ASSERT_TRUE (fresh.open (bus, "Sim Sound Module"));
    EXPECT_EQ (fresh.ask (LoaderProbe (3)), Bytes ({ 0x00, 0x20, 0x54, 0x7D, 0x09, 3, 1 }));
    fresh.send (kAppProbe);                     // the loader ignores it
    EXPECT_TRUE (bus.waitForIdle());
    EXPECT_EQ (fresh.handler.count(), 1u);
    EXPECT_EQ (link.handler.count(), 1u);
}

TEST_F (SimModuleTest, LoaderIdentityCarriesTheConfiguredFsFlag)
{
    start();
    EXPECT_EQ (link.ask (LoaderProbe (5)), Bytes ({ 0x00, 0x20, 0x54, 0x7D, 0x09, 5, 1 }));
    module->setFsFlag (0);
    EXPECT_EQ (link.ask (LoaderProbe (6)), Bytes ({ 0x00, 0x20, 0x54, 0x7D, 0x09, 6, 0 }));
    module->setFsFlag (-1);
    EXPECT_EQ (link.ask (LoaderProbe (7)), Bytes ({ 0x00, 0x20, 0x54, 0x7D, 0x09, 7 }));
    module->setFsFlag (2);
    EXPECT_EQ (link.ask (LoaderProbe (0)), Bytes ({ 0x00, 0x20, 0x54, 0x7D, 0x09, 0, 2 }));
}

TEST_F (SimModuleTest, DriverUploadAndFlashCheck)
{
    SimModuleConfig config;
    config.chipPages = { 0, 0x400 };
    start (config);

    EXPECT_EQ (link.ask (Check (0)), SimStatus (2));   // no driver yet
    const Bytes driver = MakeSimDriver ("SIMMCU", "SIM29GL064", kGeometry, 10000);
    upload (driver);
    EXPECT_EQ (module->receivedCount (SimCommand::DriverBlock), 3);
    const Bytes kept = module->driver();
    ASSERT_EQ (kept.size(), 3u * 4096);
    EXPECT_TRUE (std::equal (driver.begin(), driver.end(), kept.begin()));
    ASSERT_EQ (module->geometry().size(), 135u);
    EXPECT_EQ (module->geometry()[8].nStart, 0x10000);

    EXPECT_EQ (link.ask (Check (0)), SimStatus (0));
    EXPECT_EQ (link.ask (Check (0x400)), SimStatus (0));
    EXPECT_EQ (link.ask (Check (0x40)), SimStatus (1));   // no chip there

    upload (MakeSimDriver ("SIMMCU", "OTHER-CHIP", kGeometry));
    EXPECT_EQ (link.ask (Check (0)), SimStatus (1));
    EXPECT_EQ (module->receivedCount (SimCommand::CheckFlash), 5);
}

TEST_F (SimModuleTest, EraseProgramReadRoundTripWithTrailer)
{
    SimModuleConfig config;
    config.chipPages = { 0, 0x400 };
    config.readChunkGroups = 100;   // 800 encoded bytes per chunk, announced
    start (config);
    uploadGood();

    const uint32_t base = 0x400u << 17;   // second chip, word address 0x4000000
    EXPECT_EQ (link.ask (Erase (base + 0x10000)), SimStatus (0));
    EXPECT_EQ (link.ask (Erase (base + 0x12000)), SimStatus (2));   // not a sector start
    EXPECT_EQ (link.ask (Erase (0x800000)), SimStatus (2));         // beyond the first chip

    const Bytes image = Pattern (8192, 1);
    link.send (WriteStart (base + 0x10000));
    EXPECT_EQ (link.ask (DataBlock (image.data())), SimStatus (0));
    EXPECT_EQ (link.ask (DataBlock (image.data() + 4096)), SimStatus (0));
    EXPECT_EQ (module->readFlash (base + 0x10000, 8192), image);
    EXPECT_EQ (module->received (SimCommand::WriteStart).front().bytes,
               Bytes ({ 0x00, 0x20, 0x54, 0x7D, 0x02, 0x20, 0x02, 0x00, 0x00, 0x00 }));

    const size_t before = link.handler.count();
    const Bytes second = read (base + 0x11000);
    ASSERT_EQ (second.size(), 4100u);
    EXPECT_TRUE (std::equal (image.begin() + 4096, image.end(), second.begin()));
    EXPECT_EQ (Bytes (second.begin() + 4096, second.end()), Trailer (second.data()));
    const auto chunks = link.handler.messages();
    ASSERT_EQ (chunks.size() - before, 6u);   // 4686 encoded bytes in chunks of 800
    for (size_t i = before; i < chunks.size(); ++i)
        EXPECT_EQ (chunks[i][5], i + 1 < chunks.size() ? 1 : 0);

    const std::vector<SimFlashOp> ops { { SimFlashOp::Erase, base + 0x10000, 0x10000 },
                                        { SimFlashOp::Program, base + 0x10000, 8192 } };
    EXPECT_EQ (module->operations(), ops);

    // Programming can only clear bits; erasing brings the sector back.
    link.send (WriteStart (base + 0x10000));
    const Bytes zeros (4096, 0x0F);
    EXPECT_EQ (link.ask (DataBlock (zeros.data())), SimStatus (0));
    EXPECT_EQ (module->readFlash (base + 0x10000, 1)[0], image[0] & 0x0F);
    EXPECT_EQ (link.ask (Erase (base + 0x10000)), SimStatus (0));
    EXPECT_EQ (module->readFlash (base + 0x10000, 8192), Bytes (8192, 0xFF));
}

TEST_F (SimModuleTest, ChunksWaitForContinueWhenNotAnnounced)
{
    SimModuleConfig config;
    config.fsFlag = 0;              // no trailer
    config.readChunkGroups = 200;   // 1600 encoded bytes: three chunks for 4682
    config.announceChunks = false;
    start (config);
    uploadGood();
    const Bytes image = Pattern (4096, 7);
    module->preloadFlash (0x2000, image);

    const size_t before = link.handler.count();
    link.send (ReadBlock (0x2000));
    ASSERT_TRUE (link.handler.waitFor (before + 1));
    EXPECT_TRUE (bus.waitForIdle());
    EXPECT_EQ (link.handler.count(), before + 1);   // the rest waits for Continue
    EXPECT_EQ (link.handler.at (before)[5], 0);
    EXPECT_EQ (link.handler.at (before).size(), 6u + 1600);

    const Bytes data = [&] {
        Bytes all = DecodeChunk (link.handler.at (before));
        for (size_t i = 1; i < 3; ++i)
        {
            const Bytes chunk = link.ask (kContinue);
            const Bytes part = DecodeChunk (chunk);
            all.insert (all.end(), part.begin(), part.end());
        }
        return all;
    }();
    EXPECT_EQ (data, image);
    link.send (kContinue);          // nothing pending: no answer
    EXPECT_TRUE (bus.waitForIdle());
    EXPECT_EQ (link.handler.count(), before + 3);
}

TEST_F (SimModuleTest, ScriptedFaults)
{
    start();
    uploadGood();

    module->silenceNextReplies (1);
    link.send (LoaderProbe (0));
    EXPECT_EQ (link.ask (LoaderProbe (1)), Bytes ({ 0x00, 0x20, 0x54, 0x7D, 0x09, 1, 1 }));

    module->failNext (SimCommand::EraseSector, 3);
    module->preloadFlash (0, Bytes (16, 0x00));
    EXPECT_EQ (link.ask (Erase (0)), SimStatus (3));
    EXPECT_EQ (module->readFlash (0, 1)[0], 0x00);   // not erased
    module->dropNextReplies (SimCommand::EraseSector);
    link.send (Erase (0));
    EXPECT_EQ (link.ask (Erase (0x2000)), SimStatus (0));   // only the second answers
    EXPECT_EQ (module->readFlash (0, 1)[0], 0xFF);          // the silent erase still happened

    module->loseNextProgramBlocks (1);
    const Bytes image = Pattern (4096, 3);
    link.send (WriteStart (0));
    EXPECT_EQ (link.ask (DataBlock (image.data())), SimStatus (0));
    EXPECT_EQ (link.ask (DataBlock (image.data())), SimStatus (0));
    EXPECT_EQ (module->readFlash (0, 4096), Bytes (4096, 0xFF));   // lost
    EXPECT_EQ (module->readFlash (4096, 4096), image);
    EXPECT_EQ (module->operations().back().kind, SimFlashOp::Program);

    module->damageNextReads (SimReadDamage::Data);
    Bytes damaged = read (4096);
    ASSERT_EQ (damaged.size(), 4100u);
    EXPECT_NE (Bytes (damaged.begin() + 4096, damaged.end()), Trailer (damaged.data()));
    module->damageNextReads (SimReadDamage::Trailer);
    damaged = read (4096);
    ASSERT_EQ (damaged.size(), 4100u);
    EXPECT_TRUE (std::equal (image.begin(), image.end(), damaged.begin()));
    EXPECT_NE (Bytes (damaged.begin() + 4096, damaged.end()), Trailer (damaged.data()));
    const Bytes healthy = read (4096);
    EXPECT_EQ (Bytes (healthy.begin() + 4096, healthy.end()), Trailer (healthy.data()));

    module->failNext (SimCommand::ReadBlock, 2);
    EXPECT_EQ (read (4096), SimStatus (2));
}

TEST_F (SimModuleTest, VanishesAtACommandAndComesBackWithoutItsDriver)
{
    start();
    uploadGood();
    module->vanishAtNext (SimCommand::ReadBlock, 20, SimMode::Application, 1);
    const size_t before = link.handler.count();
    link.send (ReadBlock (0));
    EXPECT_TRUE (bus.waitForIdle());
    EXPECT_EQ (link.handler.count(), before);
    EXPECT_EQ (module->mode(), SimMode::Application);
    EXPECT_EQ (bus.getInputNames(), juce::StringArray ({ "Other MIDI Port 1", "Sim Sound Module" }));
    EXPECT_TRUE (module->driver().empty());

    module->vanish();
    EXPECT_FALSE (module->isPresent());
    module->comeBack (SimMode::Loader);
    SimTestLink fresh;
    ASSERT_TRUE (fresh.open (bus, "Sim Sound Module"));
    EXPECT_EQ (fresh.ask (Check (0)), SimStatus (2));   // the driver is gone with the restart
}

TEST_F (SimModuleTest, LatenciesDelayAnswersWithoutReorderingThem)
{
    SimModuleConfig config;
    config.latencies.probe = std::chrono::milliseconds (30);
    start (config);
    uploadGood();
    const size_t before = link.handler.count();
    link.send (LoaderProbe (4));   // slow answer
    link.send (Check (0));         // quick answer, but the module is still busy
    ASSERT_TRUE (link.handler.waitFor (before + 2));
    EXPECT_EQ (link.handler.at (before), Bytes ({ 0x00, 0x20, 0x54, 0x7D, 0x09, 4, 1 }));
    EXPECT_EQ (link.handler.at (before + 1), SimStatus (0));
    EXPECT_EQ (module->busyTime(), std::chrono::milliseconds (30));
}
