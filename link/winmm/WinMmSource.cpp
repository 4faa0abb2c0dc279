#include "link/winmm/WinMmSource.h"
#include <algorithm>
#include "link/OutputTurns.h"
#include "link/QueuedOutPort.h"
#include "link/winmm/WinMmIn.h"
#include "link/winmm/WinMmNames.h"
#include "link/winmm/WinMmOut.h"
#include "platform/WineMidiExit.h"
#ifndef NOMINMAX
 #define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

namespace
{
    /** The device interface a driver tells for device `i`, or empty. */
    template <typename Handle>
    juce::String InterfacePath (UINT i, MMRESULT (WINAPI *message) (Handle, UINT, DWORD_PTR, DWORD_PTR))
    {
        ULONG size = 0;
        const auto h = reinterpret_cast<Handle> ((UINT_PTR) i);
        if (message (h, DRV_QUERYDEVICEINTERFACESIZE, (DWORD_PTR) &size, 0) != MMSYSERR_NOERROR)
            return {};
        WCHAR path[512] = {};
        if (size == 0 || size > sizeof (path)
            || message (h, DRV_QUERYDEVICEINTERFACE, (DWORD_PTR) path, sizeof (path)) != MMSYSERR_NOERROR)
            return {};
        return juce::String (path);
    }

    /** One direction's ports: `count` devices, described by `caps` and `message`. */
    template <typename Caps, typename Handle>
    std::vector<MidiPortInfo> Listed (UINT count, MMRESULT (WINAPI *caps) (UINT_PTR, Caps*, UINT),
                                      MMRESULT (WINAPI *message) (Handle, UINT, DWORD_PTR, DWORD_PTR))
    {
        std::vector<WinMmDevice> devices;
        for (UINT i = 0; i < count; ++i)
        {
            Caps c {};
            if (caps (i, &c, sizeof (c)) == MMSYSERR_NOERROR)
                devices.push_back ({ juce::String (c.szPname), InterfacePath<Handle> (i, message) });
            else
                devices.push_back ({});   // keeps the numbers of the devices after it
        }
        return ListWinMmPorts (devices);
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
            return device < 0 ? nullptr : OpenWinMmInput ((unsigned) device, handler);
        }

        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& info) override
        {
            auto turn = TakeOpeningTurn();
            if (! turn.owns_lock())
                return nullptr;
            const int device = FindWinMmPort (Outputs(), info);
            auto out = device < 0 ? nullptr : OpenWinMmOutput ((unsigned) device);
            turn.unlock();
            // midiOutLongMsg keeps the caller until the message is out, without a
            // time-out: the writer thread waits instead.
            return WithWriterThread (std::move (out));
        }
    };
}

std::shared_ptr<MidiPortSource> MakeWinMmPortSource()
{
    EndWineMidiDeliveryAtExit();
    return std::make_shared<WinMmPortSource>();
}
