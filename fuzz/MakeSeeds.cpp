// Writes the seed corpora of the fuzz targets:
//   kestrava_fuzz_seeds <corpus folder> <demo data folder>
// fuzz_link:        replies captured from the simulated module (identity,
//                   status, check answers, read chunks with and without the
//                   trailer, Continue-driven chunks) as link scripts;
// fuzz_driver_file: the demo's drivers and a few damaged ones;
// fuzz_settings:    a config.ini as the program writes it and hand-made ones;
// fuzz_image:       image descriptions with and without markers, the full
//                   image size and sizes past 2 GiB.
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <mutex>
#include <vector>
#include <juce_events/juce_events.h>
#include "store/shared/ProgramHooks.h"
#include "fuzz/LinkScript.h"
#include "link/Communication.h"
#include "store/shared/ProgramGlobals.h"
#include "platform/ProfileStrings.h"
#include "sim/SimDriverImage.h"
#include "sim/VirtualMidiBus.h"
#include "store/Preset.h"

namespace
{
    using Bytes = std::vector<uint8_t>;

    /** Passes the bus's ports through and keeps a copy of everything the module answers. */
    class CapturingSource : public MidiPortSource, private MidiInHandler
    {
    public:
        explicit CapturingSource (std::shared_ptr<VirtualMidiBus> b) : bus (std::move (b)) {}

        MidiPortList listPorts() override { return bus->listPorts(); }
        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& port, MidiInHandler* handler) override
        {
            target = handler;
            return bus->openInput (port, this);
        }
        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& port) override { return bus->openOutput (port); }

        /** Forgets what was captured. */
        void Clear() { std::lock_guard<std::mutex> l (lock); replies.clear(); }
        /** What was captured so far. */
        std::vector<juce::MidiMessage> Replies() { std::lock_guard<std::mutex> l (lock); return replies; }
        /** Runs the message loop until `n` replies were captured (bounded). */
        bool WaitFor (size_t n)
        {
            for (int i = 0; i < 2000; ++i)
            {
                if (Replies().size() >= n)
                    return true;
                juce::MessageManager::getInstance()->runDispatchLoopUntil (5);
            }
            return false;
        }

    private:
        void handleIncomingMidiMessage (MidiInPort* source, const juce::MidiMessage& m) override
        {
            {
                std::lock_guard<std::mutex> l (lock);
                replies.push_back (m);
            }
            if (target != nullptr)
                target->handleIncomingMidiMessage (source, m);
        }

        std::shared_ptr<VirtualMidiBus> bus;
        MidiInHandler* target = nullptr;
        std::mutex lock;
        std::vector<juce::MidiMessage> replies;
    };

    void Write (const juce::File& folder, const juce::String& name, const Bytes& bytes)
    {
        folder.createDirectory();
        const auto file = folder.getChildFile (name);
        file.deleteFile();
        juce::FileOutputStream out (file);
        if (! bytes.empty())
            out.write (bytes.data(), bytes.size());
    }

    Bytes Concat (std::initializer_list<Bytes> parts)
    {
        Bytes out;
        for (auto& p : parts)
            out.insert (out.end(), p.begin(), p.end());
        return out;
    }

    //==========================================================================
    /** Runs the link against a simulated module and writes what it answered. */
    bool WriteLinkSeeds (const juce::File& out, const juce::File& scratch)
    {
        auto bus = std::make_shared<VirtualMidiBus>();
        auto capture = std::make_shared<CapturingSource> (bus);
        SetMidiPortSource (capture);
        SetMessageBoxHook ([] (juce::MessageBoxIconType, const juce::String&, const juce::String& text)
                           { std::fprintf (stderr, "box: %s", text.toRawUTF8()); });

        SimModuleConfig c;
        c.chipName = "FUZZFLASH";
        auto module = bus->addModule (c);
        const auto driver = scratch.getChildFile ("driver.bin");
        const auto d = MakeSimDriver ("FUZZMCU", "FUZZFLASH", { { 1, 16 } }, 5000);
        driver.replaceWithData (d.data(), d.size());

        bool ok = true;
        auto link = std::make_unique<Communication>();
        link->SetWordMode (false);
        const auto run = [&] (const char* name, LinkScriptWriter script, size_t replies, const std::function<void()>& start)
        {
            capture->Clear();
            start();
            if (! capture->WaitFor (replies))
            {
                std::fprintf (stderr, "seeds: %s: %d of %d replies\n", name, (int) capture->Replies().size(), (int) replies);
                ok = false;
            }
            link->StopTimer();
            for (auto& m : capture->Replies())
                script.Raw (m);
            Write (out, name, script.Bytes());
        };

        // Identity in loader mode, FS: the port binding.
        run ("loader-identity-fs", LinkScriptWriter (kStateIdle, 0), 1, [&] { link->Connect(); });
        g_nJobPhase = 3;
        // The driver upload: two blocks, two status replies.
        run ("driver-upload", LinkScriptWriter (kStateSendDriver, kFlagFS | (3 << kFlagPhaseShift)), 2,
             [&] { link->SendDriver (driver.getFullPathName().toWideCharPointer()); });
        // The flash check answered 0 by a driver that finds its chip.
        run ("check-flash", LinkScriptWriter (kStateCheckFlash, kFlagFS | (3 << kFlagPhaseShift)), 1,
             [&] { link->CheckFlash (0); });
        // Erasing two sectors of 1 KiB.
        run ("erase-range", LinkScriptWriter (kStateEraseRange, kFlagFS | (3 << kFlagPhaseShift), 0, 0, 0, 0, 0, 2), 2,
             [&] { link->EraseRange (0, 0, 2048); });
        // Reading two blocks with their trailers, in one chunk each.
        const auto readPath = scratch.getChildFile ("read.bin").getFullPathName();
        run ("read-fs", LinkScriptWriter (kStateRead, kFlagFS | (3 << kFlagPhaseShift), 0, 0, 0, 0, 0, 8), 2,
             [&] { link->ReadToFile (readPath, 0, 0, 8192); });
        // Reading one block in chunks of 100 groups that wait for Continue.
        module->setReadChunking (100, false);
        run ("read-continue", LinkScriptWriter (kStateRead, kFlagFS | (3 << kFlagPhaseShift), 0, 0, 0, 0, 0, 4), 6,
             [&] { link->ReadToFile (readPath, 0, 0, 4096); });
        // Chunks that announce the next one.
        module->setReadChunking (200, true);
        run ("read-announced", LinkScriptWriter (kStateRead, kFlagFS | (3 << kFlagPhaseShift), 0, 0, 0, 0, 0, 4), 3,
             [&] { link->ReadToFile (readPath, 0, 0, 4096); });
        // A module in HS mode: identity without FS, blocks without trailer.
        module->setReadChunking (0, true);
        module->setFsFlag (0);
        g_nJobPhase = 0;
        run ("loader-identity-hs", LinkScriptWriter (kStateIdle, 0), 1, [&] { link->Reset(); });
        g_nJobPhase = 3;
        run ("read-hs", LinkScriptWriter (kStateRead, 3 << kFlagPhaseShift, 0, 0, 0, 0, 0, 4), 1,
             [&] { link->ReadToFile (readPath, 0, 0, 4096); });
        // The application firmware's identity.
        module->setMode (SimMode::Application);
        g_nJobPhase = 0;
        run ("application-identity", LinkScriptWriter (kStateIdle, 0), 1, [&] { link->ProbeApplication(); });

        link.reset();
        SetMidiPortSource (nullptr);
        bus.reset();

        // Scripts built from the event kinds rather than captured.
        {
            LinkScriptWriter s (kStateRead, kFlagFS | (3 << kFlagPhaseShift), 0, 0, 0, 0, 0, 16);
            for (int i = 0; i < 4; ++i)
                s.ReadBlock (i == 1 ? 1 : 4, i);   // the second block once damaged
            s.ReadBlock (0, 1);
            Write (out, "read-four-blocks", s.Bytes());
        }
        {
            LinkScriptWriter s (kStateEraseProgram, 3 << kFlagPhaseShift, 0, 3, 0, 0, 0, 0);
            for (int i = 0; i < 40; ++i)
                s.Status (0);
            Write (out, "erase-and-program", s.Bytes());
        }
        {
            LinkScriptWriter s (kStateRead, kFlagFS | (3 << kFlagPhaseShift), 0, 0, 0, 0, 0, 4);
            for (int i = 0; i < 12; ++i)
                s.Tick();
            Write (out, "read-watchdog", s.Bytes());
        }
        {
            LinkScriptWriter s (kStateSendDriver, 1 << kFlagPhaseShift, 5);
            s.Status (0); s.Status (0); s.Start (kStateCheckFlash); s.Status (0);
            Write (out, "full-image-search", s.Bytes());
        }
        return ok;
    }

    //==========================================================================
    void WriteDriverSeeds (const juce::File& out, const juce::File& demo)
    {
        out.createDirectory();
        for (const auto& f : demo.getChildFile ("Drivers").findChildFiles (juce::File::findFiles, false, "*.bin"))
            f.copyFileTo (out.getChildFile (f.getFileName()));

        const auto driver = [] (const std::vector<SimRegion>& regions) { return MakeSimDriver ("QVM428", "KV29F064", regions); };
        Write (out, "empty", {});
        Write (out, "fifteen-bytes", Bytes (15, 0x5A));
        auto open = driver ({ { 64, 2 } });
        open.resize (16 + 8);   // the table without its terminator
        Write (out, "no-terminator", open);
        Write (out, "beyond-512mib", driver ({ { 64, 4096 }, { 64, 4096 }, { 8, 1 } }));
        Write (out, "empty-table", driver ({}));
        auto unpadded = driver ({ { 64, 128 } });
        for (size_t i = 16 + 8; i < 16 + 8 + 32; ++i)
            if (unpadded[i] == 0xFF)
                unpadded[i] = 0;
        Write (out, "names-nul-padded", unpadded);
        auto nonAscii = driver ({ { 8, 8 }, { 64, 127 } });
        const uint8_t names[] = { 'Q', 'V', 'M', 0xC3, 0xA4, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                  'K', 'V', 0xFF, 0x80, 0x01, 0xE6, 0x97, 0xA5, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF };
        std::memcpy (nonAscii.data() + 16 + 12, names, sizeof (names));
        Write (out, "names-non-ascii", nonAscii);
    }

    //==========================================================================
    void WriteSettingsSeeds (const juce::File& out, const juce::File& scratch)
    {
        // As the program writes it: a LastSave and two named presets.
        const auto ini = scratch.getChildFile ("config.ini");
        ini.deleteFile();
        {
            CLocalPreset store;
            store.LoadAll (ini.getFullPathName().toWideCharPointer());
            _STR_PRESET p = *store.Get (-1);
            std::wcscpy (p.MCUName, L"QVM410");
            std::wcscpy (p.FlashName, L"KV29F064");
            p.FlashOffset = 65536;
            store.Put (&p);
            std::wcscpy (p.PresetName, L"Alpha");
            store.Put (&p);
            std::wcscpy (p.PresetName, L"beta");
            p.UserWordAddress = false;
            store.Put (&p);
            store.SaveAll();
        }
        juce::MemoryBlock written;
        ini.loadFileAsData (written);
        const auto* w = static_cast<const uint8_t*> (written.getData());
        const Bytes program (w, w + written.getSize());
        for (uint8_t mode : { 0, 3, 7, 15 })
            Write (out, "program-written-" + juce::String (mode), Concat ({ { mode }, program }));

        const auto text = [] (const char* s) { return Bytes (s, s + std::strlen (s)); };
        Write (out, "hand-made", Concat ({ { 3 }, text ("; settings\n[GlobleInfo]\nTotalPreset = 2\n\n[LastSave]\n"
                                                      "MCUName=\"QVM428\"\nFlashPage= -1\nUserWordAddress=0\nBeepWhenDone=2\n"
                                                      "[Other]\nkeep=me\n[LastSave]\nMCUName=second\n") }));
        Write (out, "total-huge", Concat ({ { 2 }, text ("[GlobleInfo]\r\nTotalPreset=1000000\r\n[Preset0]\r\nPresetName=a\r\n"
                                                       "FlashOffset=99999999999\r\nReadLength=-99999999999\r\n") }));
        Write (out, "total-negative", Concat ({ { 2 }, text ("[GlobleInfo]\nTotalPreset=-3") }));
        Write (out, "utf8-bom", Concat ({ { 3 }, text ("\xEF\xBB\xBF[LastSave]\nNameWrite=/tmp/\xC3\xA4.bin\n") }));
        Bytes utf16 { 3, 0xFF, 0xFE };
        for (char c : std::string ("[LastSave]\r\nMCUName=QVM410\r\n"))
        {
            utf16.push_back ((uint8_t) c);
            utf16.push_back (0);
        }
        Write (out, "utf16", utf16);
        Write (out, "binary", Concat ({ { 1 }, { 0x00, 0xFF, '[', 0x80, ']', '\r', '=', 0x1A, '\n', 0xC3 } }));
    }

    //==========================================================================
    void WriteImageSeeds (const juce::File& out)
    {
        // flags (name, folder), size (choice byte and delta), then patches (base, delta, n, bytes).
        Write (out, "low-marker", { 0, 3, 0, 1, 0, 2, 'B', 'D' });
        Write (out, "high-marker", { 1, 2, 2, 2, 0, 2, 'B', 'D' });
        Write (out, "both-markers", { 2, 3, 0, 1, 0, 2, 'B', 'D', 2, 0, 2, 'B', 'D' });
        Write (out, "short-of-low", { 0, 1, 1, 1, 0, 2, 'B', 'D' });
        Write (out, "full-image", { 0, 4, 0, 1, 0, 2, 'B', 'D' });
        Write (out, "full-image-less-one", { 0, 4, 0xFF, 1, 0, 2, 'B', 'D' });
        Write (out, "two-gib", { 3, 6, 0, 1, 0, 2, 'B', 'D' });
        Write (out, "two-gib-less-one", { 3, 5, 0, 1, 0, 2, 'B', 'D' });
        Write (out, "folder", { 0x80 });
        Write (out, "empty", { 0, 0, 0 });
    }
}

int main (int argc, char** argv)
{
    if (argc != 3)
    {
        std::fprintf (stderr, "usage: kestrava_fuzz_seeds <corpus folder> <demo data folder>\n");
        return 2;
    }
    juce::ScopedJuceInitialiser_GUI juce;
    const juce::File corpus (juce::File::getCurrentWorkingDirectory().getChildFile (argv[1]));
    const juce::File demo (juce::File::getCurrentWorkingDirectory().getChildFile (argv[2]));
    const auto scratch = juce::File::createTempFile ("kestrava-seeds");
    scratch.createDirectory();

    const bool ok = WriteLinkSeeds (corpus.getChildFile ("fuzz_link"), scratch);
    WriteDriverSeeds (corpus.getChildFile ("fuzz_driver_file"), demo);
    WriteSettingsSeeds (corpus.getChildFile ("fuzz_settings"), scratch);
    WriteImageSeeds (corpus.getChildFile ("fuzz_image"));
    scratch.deleteRecursively();
    return ok ? 0 : 1;
}
