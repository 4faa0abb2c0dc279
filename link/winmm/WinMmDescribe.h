#pragma once
// What WinMM tells of a device, by its number (for the listing) or through an
// opened handle (to check that the open reached the device that was listed).
// Windows only: included by the backend's own files.
#include "link/winmm/WinMmNames.h"
#ifndef NOMINMAX
 #define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>
#include <mmddk.h>

/** The device interface a driver tells for `handle` (a device number cast to a handle, or an opened one), or empty. */
template <typename Handle>
juce::String WinMmInterfacePath (Handle handle, MMRESULT (WINAPI *message) (Handle, UINT, DWORD_PTR, DWORD_PTR))
{
    ULONG size = 0;
    if (message (handle, DRV_QUERYDEVICEINTERFACESIZE, (DWORD_PTR) &size, 0) != MMSYSERR_NOERROR)
        return {};
    WCHAR path[512] = {};
    if (size == 0 || size > sizeof (path)
        || message (handle, DRV_QUERYDEVICEINTERFACE, (DWORD_PTR) path, sizeof (path)) != MMSYSERR_NOERROR)
        return {};
    return juce::String (path);
}

/** What WinMM tells of the device behind `handle`, through `caps` and
    `message`; empty fields for what it does not tell. */
template <typename Caps, typename Handle>
WinMmDevice DescribeWinMm (Handle handle, MMRESULT (WINAPI *caps) (UINT_PTR, Caps*, UINT),
                           MMRESULT (WINAPI *message) (Handle, UINT, DWORD_PTR, DWORD_PTR))
{
    Caps c {};
    WinMmDevice d;
    if (caps ((UINT_PTR) handle, &c, sizeof (c)) == MMSYSERR_NOERROR)
        d.name = juce::String (c.szPname);
    d.interfacePath = WinMmInterfacePath<Handle> (handle, message);
    return d;
}

/** The device an opened output reached. */
inline WinMmDevice DescribeWinMmOutput (HMIDIOUT handle)
{
    return DescribeWinMm<MIDIOUTCAPSW, HMIDIOUT> (handle, ::midiOutGetDevCapsW, ::midiOutMessage);
}

/** The device an opened input reached. */
inline WinMmDevice DescribeWinMmInput (HMIDIIN handle)
{
    return DescribeWinMm<MIDIINCAPSW, HMIDIIN> (handle, ::midiInGetDevCapsW, ::midiInMessage);
}
