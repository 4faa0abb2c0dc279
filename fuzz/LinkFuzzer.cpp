// Fuzz target: the device link's receive parser and status dispatcher, fed
// arbitrary sequences of MIDI messages in every operation state.
//
// Each input builds a fresh link bound to an in-process port pair, starts the
// operation the script's header names (on small driver, image and read-back
// files in a scratch folder) and then plays the script's events into the
// parser, the watchdog and further operation starts. Everything runs on the
// fuzzer's thread, which is the message thread: errors show their boxes at
// once (recorded by the box hook) and nothing waits. Each input is bounded in
// events and in the data it can make the link write.
#include <map>
#include <memory>
#include <vector>
#include <juce_events/juce_events.h>
#include "store/shared/ProgramHooks.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzPorts.h"
#include "fuzz/FuzzScratch.h"
#include "fuzz/LinkScript.h"
#include "link/Communication.h"
#include "store/shared/ProgramGlobals.h"
#include "link/SysExCodec.h"
#include "store/Logger.h"

namespace
{
    constexpr int kMaxEvents = 512;

    struct Files
    {
        std::vector<juce::String> drivers;   // by the header's driver byte
        std::vector<juce::String> images;    // by the header's image byte
        juce::String readBack;               // the read operation's output
    };

    std::shared_ptr<FuzzPortSource> ports;
    Files files;
    int boxes = 0;

    /** A driver file: 16-byte head, the table, the two names, `codeBytes` of code. */
    juce::String MakeDriver (const juce::String& name, const std::vector<std::pair<int, int>>& regions,
                             bool terminate, size_t codeBytes)
    {
        std::vector<uint8_t> d (16, 0x11);
        for (auto& r : regions)
        {
            d.push_back ((uint8_t) (r.first & 0xFF)); d.push_back ((uint8_t) (r.first >> 8));
            d.push_back ((uint8_t) (r.second & 0xFF)); d.push_back ((uint8_t) (r.second >> 8));
        }
        if (terminate)
        {
            d.insert (d.end(), 4, 0);
            const char* mcu = "FUZZMCU";
            const char* flash = "FUZZFLASH";
            for (int i = 0; i < 16; ++i) d.push_back (i < 7 ? (uint8_t) mcu[i] : 0xFF);
            for (int i = 0; i < 16; ++i) d.push_back (i < 9 ? (uint8_t) flash[i] : 0xFF);
            for (size_t i = 0; i < codeBytes; ++i) d.push_back ((uint8_t) (i * 7));
        }
        return WriteScratchFile (name, d.data(), d.size()).getFullPathName();
    }

    juce::String MakeImage (const juce::String& name, size_t size)
    {
        std::vector<uint8_t> d (size);
        for (size_t i = 0; i < size; ++i)
            d[i] = (uint8_t) (i * 131 + (i >> 12));
        if (size > 0xFFF9) { d[0xFFF8] = 'B'; d[0xFFF9] = 'D'; }
        return WriteScratchFile (name, d.data(), d.size()).getFullPathName();
    }

    struct Params
    {
        int page = 0, source = 0, offset = 0, length = 0;
        size_t driver = 0, image = 0;
        bool offsetIsSector = true;
        int sector = 0;
    };

    /** Starts one operation as the job runner would; boxes are recorded by the hook. */
    void StartState (Communication& link, int state, const Params& p)
    {
        const bool word = link.IsWordMode();
        const auto units = [word] (int bytes) { return word ? bytes / 2 : bytes; };
        int flashOffset = p.offset;
        if (p.offsetIsSector && link.GetSectorCount() > 0)
            flashOffset = units (link.GetSector (p.sector % link.GetSectorCount()).nStart);
        const auto& driver = files.drivers[p.driver % files.drivers.size()];
        const auto& image = files.images[p.image % files.images.size()];

        switch (state % kStateCount)
        {
            case kStateIdle:         break;
            case kStateSendDriver:
            case kStateUnbound:      link.SendDriver (driver.toWideCharPointer()); break;
            case kStateCheckFlash:   link.CheckFlash (p.page); break;
            case kStateEraseProgram: link.EraseAndProgramFile (p.page, image, p.source, flashOffset, p.length); break;
            case kStateEraseRange:   link.EraseRange (p.page, flashOffset, p.length); break;
            case kStateProgram:      link.ProgramFile (p.page, image, p.source, flashOffset, p.length); break;
            case kStateZeroBlock:    link.ProgramZeroBlock (p.page, p.source, flashOffset, p.length); break;
            case kStateRead:         link.ReadToFile (files.readBack, p.page, flashOffset, p.length); break;
            case kStateCompare:      link.CompareFiles (image, p.source, files.readBack); break;
            default:                 break;
        }
    }

    /** The replies of one read block, built once per kind: the encoding runs in
        the harness, and only the link's decoding should cost time. */
    const std::vector<juce::MidiMessage>& ReadBlockReplies (uint8_t flags, uint8_t seed, bool fs)
    {
        static std::map<int, std::vector<juce::MidiMessage>> cache;
        const int key = (flags & 0x0F) | (seed << 4) | (fs ? 1 << 12 : 0);
        auto it = cache.find (key);
        if (it != cache.end())
            return it->second;

        uint8_t block[kBlockBytes + kTrailerBytes];
        for (int i = 0; i < kBlockBytes; ++i)
            block[i] = (uint8_t) (i * 13 + seed);
        WriteBlockTrailer (block, block + kBlockBytes);
        if (flags & 1)
            block[kBlockBytes + (seed & 3)] ^= 0x10;
        const int size = fs ? kBlockBytes + kTrailerBytes : kBlockBytes;
        return cache[key] = MakeReadBlockReplies (block, size, 1 + ((flags >> 2) & 3), (flags & 2) != 0);
    }

    void Feed (Communication& link, MidiInPort* from, const std::vector<uint8_t>& bytes)
    {
        if (bytes.empty())
            return;
        link.handleIncomingMidiMessage (from, juce::MidiMessage (bytes.data(), (int) bytes.size(), 0.0));
    }

    std::vector<uint8_t> Reply (std::initializer_list<uint8_t> body)
    {
        std::vector<uint8_t> m { 0xF0, 0x00, 0x20 };
        m.insert (m.end(), body);
        m.push_back (0xF7);
        return m;
    }

    void PlayEvent (Communication& link, FuzzInput& in, const Params& p)
    {
        MidiInPort* input = ports->GetInput();
        switch (in.Byte() % kEventCount)
        {
            case kEventSysEx:
            {
                const uint8_t* bytes = nullptr;
                const size_t n = in.Take (in.Byte(), &bytes);
                std::vector<uint8_t> m { 0xF0 };
                for (size_t i = 0; i < n; ++i)
                    m.push_back (bytes[i] & 0x7F);
                m.push_back (0xF7);
                Feed (link, input, m);
                break;
            }
            case kEventStatus:
                Feed (link, input, Reply ({ 0x54, 0x7D, 0x00, (uint8_t) (in.Byte() & 0x7F) }));
                break;
            case kEventReadChunk:
            {
                const uint8_t m = in.Byte() & 0x7F;
                const int groups = in.Byte();
                const uint8_t seed = in.Byte();
                const int extra = in.Byte() & 7;
                std::vector<uint8_t> msg { 0xF0, 0x00, 0x20, 0x54, 0x7D, 0x01, m };
                for (int i = 0; i < groups * 8 + extra; ++i)
                    msg.push_back ((uint8_t) ((i * 37 + seed) & 0x7F));
                msg.push_back (0xF7);
                Feed (link, input, msg);
                break;
            }
            case kEventReadBlock:
            {
                const uint8_t flags = in.Byte();
                const uint8_t seed = in.Byte();
                for (auto& m : ReadBlockReplies (flags, seed, link.IsFS()))
                    link.handleIncomingMidiMessage (input, m);
                break;
            }
            case kEventLoaderIdentity:
            {
                const uint8_t index = in.Byte() & 0x7F;
                const uint8_t fs = in.Byte();
                const bool fromInput = (in.Byte() & 1) != 0;
                if (fs == 0xFF)
                    Feed (link, fromInput ? input : nullptr, Reply ({ 0x54, 0x7D, 0x09, index }));
                else
                    Feed (link, fromInput ? input : nullptr, Reply ({ 0x54, 0x7D, 0x09, index, (uint8_t) (fs & 0x7F) }));
                break;
            }
            case kEventAppIdentity:
                Feed (link, input, Reply ({ 0x54, 0x05, 0x06, 0x00 }));
                break;
            case kEventTick:
                link.timerCallback();
                break;
            case kEventShort:
            {
                const uint8_t status = (uint8_t) (0x80 | in.Byte());
                const uint8_t d1 = in.Byte() & 0x7F, d2 = in.Byte() & 0x7F;
                Feed (link, input, { status, d1, d2 });
                break;
            }
            case kEventStart:
                StartState (link, in.Byte(), p);
                break;
            case kEventRaw:
            {
                const uint8_t* bytes = nullptr;
                const size_t n = in.Take (in.Word() % 6000, &bytes);
                Feed (link, input, std::vector<uint8_t> (bytes, bytes + n));
                break;
            }
            default:
                break;
        }
    }
}

extern "C" int LLVMFuzzerInitialize (int*, char***)
{
    juce::MessageManager::getInstance();
    ports = std::make_shared<FuzzPortSource>();
    SetMidiPortSource (ports);
    SetMessageBoxHook ([] (juce::MessageBoxIconType, const juce::String&, const juce::String&) { ++boxes; });
    SetQuitHook ([] {});

    files.drivers = {
        MakeDriver ("d16x1k.bin", { { 1, 16 } }, true, 5000),               // 16 KiB, four read blocks
        MakeDriver ("dboot.bin", { { 8, 8 }, { 64, 4 } }, true, 300),        // boot blocks, 320 KiB
        MakeDriver ("d128x64k.bin", { { 64, 128 } }, true, 9000),          // 8 MiB
        MakeDriver ("dempty.bin", {}, true, 100),                           // no sector: Error Code 15
        MakeDriver ("dopen.bin", { { 64, 2 } }, false, 0),                  // no terminator
        MakeDriver ("dfull.bin", { { 128, 1536 } }, true, 10),              // the full-image geometry
        MakeDriver ("dhuge.bin", { { 64, 65535 }, { 64, 65535 } }, true, 0),   // beyond 512 MiB
        FuzzScratchFolder().getChildFile ("missing-driver.bin").getFullPathName()   // Error Code 14
    };
    files.images = {
        MakeImage ("i0.bin", 0),
        MakeImage ("i100.bin", 100),
        MakeImage ("i5000.bin", 5000),
        MakeImage ("i70000.bin", 70000),
        FuzzScratchFolder().getChildFile ("missing-image.bin").getFullPathName()   // Error Code 16
    };
    files.readBack = FuzzScratchFolder().getChildFile ("readback.bin").getFullPathName();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    FuzzInput in (data, size);
    const int state = in.Byte() % kStateCount;
    const int flags = in.Byte();
    Params p;
    p.driver = in.Byte();
    p.image = in.Byte();
    p.page = in.Byte() & 3;
    p.source = in.Byte() * 256;
    const uint8_t offset = in.Byte();
    p.offsetIsSector = (offset & 0x80) == 0;
    p.sector = offset & 0x7F;
    p.offset = (offset & 0x7F) * 4096;
    p.length = in.Byte() * 1024;

    ResetGlobalsForTests();
    g_bFullImage = (flags & kFlagFullImage) != 0;
    g_bEraseOnly = (flags & kFlagEraseOnly) != 0 ? 1 : 0;

    {
        CLogger logger;
        Communication link;
        link.SetLogger (&logger);
        link.SetWordMode ((flags & kFlagWordMode) != 0);

        link.Connect();
        link.StopTimer();
        if (state != kStateUnbound)
        {
            const uint8_t fs = (flags & kFlagFS) != 0 ? 1 : 0;
            Feed (link, ports->GetInput(), Reply ({ 0x54, 0x7D, 0x09, 0x00, fs }));
            link.StopTimer();
            // Operations that work on the flash need the sector table of a driver.
            if (state >= kStateEraseProgram && state <= kStateCompare)
                link.SendDriver (files.drivers[p.driver % files.drivers.size()].toWideCharPointer());
        }
        g_nJobPhase = (uint8_t) ((flags >> kFlagPhaseShift) & 3);
        StartState (link, state, p);

        for (int events = 0; in.More() && events < kMaxEvents; ++events)
            PlayEvent (link, in, p);
        link.Shutdown();
    }

    // Timer messages the link's timer may have posted meanwhile are handled
    // now and then, so the queue never grows.
    static int inputs = 0;
    if (++inputs % 1024 == 0)
        juce::MessageManager::getInstance()->runDispatchLoopUntil (0);
    return 0;
}
