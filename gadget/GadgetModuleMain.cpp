// kestrava-gadget-module: the simulated sound module behind a USB gadget, for
// tests on a real Linux MIDI stack (a guest with dummy_hcd; see
// tests/hardware/). The computer on the host side of the controller sees a
// USB-MIDI module; when the module restarts it leaves the bus and comes back,
// as a module does when it switches into its loader.
//
//   kestrava-gadget-module --gadget DIR [options]
//     --gadget DIR               the gadget's configfs folder (plugged in at start)
//     --udc NAME                 its device controller (default: the one it is plugged into)
//     --flash FILE               the module's flash: read at start, written at exit
//     --mode application|loader  the firmware it starts in (default application)
//     --away-ms N                how long it is away when it restarts (default 1000)
//     --unplug-after-blocks N    unplugged for good at the next program block once
//                                N have come (0: never); SIGUSR1 plugs it in again
//     --write-bound-ms N         an answer the computer does not take in this time
//                                is dropped (default 1000)
//     --lossy-buffer N           plays a cheap interface on the way to the module:
//                                a buffer of N bytes drained at 3125 bytes/s that
//                                loses what overflows (default 0: none)
//     --late-read N:MS           answers its Nth read request MS milliseconds late,
//                                busy meanwhile (counted from the start)
//
// It prints one line per event ("ready", "unplugged", "plugged in", ...) and,
// at SIGTERM or SIGINT, what it received; then it writes the flash and exits.
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>
#include "demo/DemoModule.h"
#include "sim/VirtualMidiBus.h"
#include "gadget/GadgetBridge.h"
#include "gadget/GadgetController.h"

namespace
{
    std::atomic<bool> g_stop { false };
    std::atomic<bool> g_plugBack { false };

    struct Options
    {
        std::string gadget;
        std::string udc;
        std::string flash;
        SimMode mode = SimMode::Application;
        int awayMs = 1000;
        int unplugAfterBlocks = 0;
        int writeBoundMs = 1000;
        int lossyBuffer = 0;
        int lateRead = 0;
        int lateMs = 0;
    };

    const auto g_start = std::chrono::steady_clock::now();

    /** One event line, with the seconds since the start. */
    template <typename... Args>
    void Say (const char* format, Args... args)
    {
        const std::chrono::duration<double> t = std::chrono::steady_clock::now() - g_start;
        std::printf ("[%7.3f] ", t.count());
        std::printf (format, args...);
        std::printf ("\n");
        std::fflush (stdout);
    }

    bool ParseNumber (const char* text, int& value)
    {
        char* end = nullptr;
        const long v = std::strtol (text, &end, 10);
        if (end == text || *end != 0 || v < 0 || v > 1000000000)
            return false;
        value = (int) v;
        return true;
    }

    bool Parse (int argc, char** argv, Options& o)
    {
        for (int i = 1; i < argc; ++i)
        {
            const std::string a = argv[i];
            const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
            if (value == nullptr)
                return false;
            ++i;
            if (a == "--gadget") o.gadget = value;
            else if (a == "--udc") o.udc = value;
            else if (a == "--flash") o.flash = value;
            else if (a == "--mode" && std::string (value) == "application") o.mode = SimMode::Application;
            else if (a == "--mode" && std::string (value) == "loader") o.mode = SimMode::Loader;
            else if (a == "--away-ms") { if (! ParseNumber (value, o.awayMs)) return false; }
            else if (a == "--unplug-after-blocks") { if (! ParseNumber (value, o.unplugAfterBlocks)) return false; }
            else if (a == "--write-bound-ms") { if (! ParseNumber (value, o.writeBoundMs)) return false; }
            else if (a == "--lossy-buffer") { if (! ParseNumber (value, o.lossyBuffer)) return false; }
            else if (a == "--late-read")
            {
                const std::string v = value;
                const auto colon = v.find (':');
                if (colon == std::string::npos || ! ParseNumber (v.substr (0, colon).c_str(), o.lateRead)
                    || ! ParseNumber (v.substr (colon + 1).c_str(), o.lateMs) || o.lateRead < 1)
                    return false;
            }
            else return false;
        }
        return ! o.gadget.empty();
    }

    const char* ModeName (SimMode mode) { return mode == SimMode::Loader ? "loader" : "application"; }

    /** Plugs the gadget in and opens its port once the module is there. */
    bool Connect (GadgetController& gadget, GadgetBridge& bridge, bool plug)
    {
        if (plug && ! gadget.Plug())
        {
            Say ("cannot plug the gadget into %s", gadget.Udc().c_str());
            return false;
        }
        // The function's card is made while the gadget is plugged in; opening
        // it may fail for a moment after it appears.
        const auto end = std::chrono::steady_clock::now() + std::chrono::seconds (10);
        while (std::chrono::steady_clock::now() < end)
        {
            const auto port = gadget.WaitForDevicePort (100);
            if (! port.empty() && bridge.Open (port))
            {
                Say ("ready on %s (controller %s)", port.c_str(), gadget.Udc().c_str());
                return true;
            }
            std::this_thread::sleep_for (std::chrono::milliseconds (50));
        }
        Say ("the gadget's MIDI port on %s cannot be opened", gadget.Udc().c_str());
        return false;
    }
}

int main (int argc, char** argv)
{
    Options options;
    if (! Parse (argc, argv, options))
    {
        std::fprintf (stderr, "usage: kestrava-gadget-module --gadget DIR [--udc NAME] [--flash FILE]\n"
                              "       [--mode application|loader] [--away-ms N] [--unplug-after-blocks N]\n"
                              "       [--write-bound-ms N] [--lossy-buffer N] [--late-read N:MS]\n");
        return 64;
    }
    std::signal (SIGTERM, [] (int) { g_stop = true; });
    std::signal (SIGINT, [] (int) { g_stop = true; });
    std::signal (SIGUSR1, [] (int) { g_plugBack = true; });

    auto config = DemoModuleConfig();
    config.startMode = options.mode;
    config.restartAbsenceMs = options.awayMs;
    config.portsInsertedOnReturn = 0;
    VirtualMidiBus bus;
    auto module = bus.addModule (config);
    const juce::File flash = options.flash.empty() ? juce::File() : juce::File (options.flash);
    if (options.lateRead > 0)
        module->delayRead (options.lateRead - 1, std::chrono::milliseconds (options.lateMs));
    if (flash != juce::File() && ! module->loadFlash (flash))
    {
        std::fprintf (stderr, "kestrava-gadget-module: cannot read the flash %s\n", options.flash.c_str());
        return 1;
    }

    GadgetController gadget (options.gadget, options.udc);
    GadgetBridge bridge (bus, options.writeBoundMs, (size_t) options.lossyBuffer);
    if (gadget.Udc().empty())
    {
        std::fprintf (stderr, "kestrava-gadget-module: %s is plugged into no controller (give --udc)\n",
                      options.gadget.c_str());
        return 1;
    }
    if (! Connect (gadget, bridge, false))
        return 1;
    Say ("module in %s mode", ModeName (module->mode()));
    if (options.lossyBuffer > 0)
        Say ("behind a lossy interface: a buffer of %d bytes drained at 3125 bytes/s", options.lossyBuffer);
    if (options.lateRead > 0)
        Say ("answers read request %d %d ms late", options.lateRead, options.lateMs);

    enum class Unplug { Never, Waiting, Armed, Done } unplug = options.unplugAfterBlocks > 0 ? Unplug::Waiting : Unplug::Never;
    bool heldAway = false;     // unplugged for good: it stays away until SIGUSR1
    bool failed = false;
    auto awaySince = std::chrono::steady_clock::now();
    while (! g_stop)
    {
        std::this_thread::sleep_for (std::chrono::milliseconds (5));
        if (unplug == Unplug::Waiting && module->receivedCount (SimCommand::ProgramBlock) >= options.unplugAfterBlocks)
        {
            module->vanishAtNext (SimCommand::ProgramBlock);
            unplug = Unplug::Armed;
        }
        if (g_plugBack.exchange (false) && heldAway)
        {
            heldAway = false;
            module->comeBack (options.mode);
        }
        const bool present = module->isPresent();
        if (bridge.IsOpen() && ! present)
        {
            bridge.Close();
            if (! gadget.Unplug())
                Say ("cannot unplug the gadget from %s", gadget.Udc().c_str());
            awaySince = std::chrono::steady_clock::now();
            heldAway = unplug == Unplug::Armed;
            if (heldAway)
            {
                unplug = Unplug::Done;
                Say ("unplugged for good after %d program blocks", module->receivedCount (SimCommand::ProgramBlock) - 1);
            }
            else
            {
                Say ("unplugged: restarting");
            }
        }
        else if (! bridge.IsOpen() && present)
        {
            const std::chrono::duration<double> away = std::chrono::steady_clock::now() - awaySince;
            Say ("plugged in after %.2f s, %s mode", away.count(), ModeName (module->mode()));
            if (! Connect (gadget, bridge, true))
            {
                failed = true;
                break;
            }
        }
    }

    bridge.Close();
    int commands = 0;
    for (int kind = 0; kind < (int) SimCommand::Count; ++kind)
        commands += module->receivedCount ((SimCommand) kind);
    Say ("received %d commands: %d driver blocks, %d program blocks, %d read blocks; "
         "%llu SysEx from the computer cut short or too long, %llu answers dropped, "
         "%llu bytes lost in the interface's buffer",
         commands, module->receivedCount (SimCommand::DriverBlock),
         module->receivedCount (SimCommand::ProgramBlock), module->receivedCount (SimCommand::ReadBlock),
         (unsigned long long) bridge.BadSysEx(), (unsigned long long) bridge.DroppedAnswers(),
         (unsigned long long) bridge.LostBytes());
    if (flash != juce::File() && ! module->saveFlash (flash))
    {
        std::fprintf (stderr, "kestrava-gadget-module: cannot write the flash %s\n", options.flash.c_str());
        return 1;
    }
    return failed ? 1 : 0;
}
