#include "link/winmm/WinMmSource.h"
#include <algorithm>
#include <type_traits>
#include "link/BoundedPorts.h"
#include "link/ClosingDevices.h"
#include "link/QueuedOutPort.h"
#include "link/winmm/WinMmDescribe.h"
#include "link/winmm/WinMmIn.h"
#include "link/winmm/WinMmOut.h"
#include "platform/WineMidiExit.h"

namespace
{
    /** One direction's ports: `count` devices, described by `caps` and `message`. */
    template <typename Caps, typename Handle>
    std::vector<MidiPortInfo> Listed (UINT count, MMRESULT (WINAPI *caps) (UINT_PTR, Caps*, UINT),
                                      MMRESULT (WINAPI *message) (Handle, UINT, DWORD_PTR, DWORD_PTR))
    {
        // One entry each, described or not: the numbers stay. A driver that
        // hangs in its description costs its device this listing.
        const char* direction = std::is_same<Handle, HMIDIIN>::value ? "in" : "out";
        return ListWinMmPorts (DescribeWinMmWithin (count, direction, [caps, message] (unsigned i)
        {
            return DescribeWinMm<Caps, Handle> (reinterpret_cast<Handle> ((UINT_PTR) i), caps, message);
        }));
    }

    std::vector<MidiPortInfo> Inputs()  { return Listed<MIDIINCAPSW, HMIDIIN> (::midiInGetNumDevs(), ::midiInGetDevCapsW, ::midiInMessage); }
    std::vector<MidiPortInfo> Outputs() { return Listed<MIDIOUTCAPSW, HMIDIOUT> (::midiOutGetNumDevs(), ::midiOutGetDevCapsW, ::midiOutMessage); }

    /** The ports a user can know by a name (a device whose description could not be read has none). */
    std::vector<MidiPortInfo> Named (std::vector<MidiPortInfo> ports)
    {
        ports.erase (std::remove_if (ports.begin(), ports.end(), [] (const MidiPortInfo& p) { return p.name.isEmpty(); }), ports.end());
        return ports;
    }

    class WinMmPortSource : public MidiPortSource
    {
    public:
        MidiPortList listPorts() override { return { Named (Inputs()), Named (Outputs()) }; }

        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& info, MidiInHandler* handler) override
        {
            const int device = FindWinMmPort (Inputs(), info);
            return device < 0 ? nullptr : OpenWinMmInput ((unsigned) device, info, handler);
        }

        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& info) override
        {
            // A close of this device that has not ended (a hung driver) costs
            // this port one scan; the other devices are opened meanwhile.
            if (! DeviceCloseEnded (info.identifier.toStdString()))
                return nullptr;
            const int device = FindWinMmPort (Outputs(), info);
            // The writer thread waits for the driver, each wait bounded.
            return WithWriterThread (device < 0 ? nullptr : OpenWinMmOutput ((unsigned) device, info));
        }
    };
}

std::shared_ptr<MidiPortSource> MakeWinMmPortSource()
{
    EndWineMidiDeliveryAtExit();
    // Every open, start, stop and close waits for its driver a bounded time.
    return WithBoundedCalls (std::make_shared<WinMmPortSource>());
}
