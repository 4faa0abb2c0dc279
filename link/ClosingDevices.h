#pragma once
// The closes of the program's own outputs that are still under way, by
// device. A close may take long in a driver (the kernel drains what is still
// queued for a device that takes nothing; a Windows driver hangs), and opening
// the same device meanwhile would wait on that driver, or find it busy. Such a
// device costs its port one scan: the first opening that finds its close under
// way waits a bounded time for it, later ones give up at once until it has
// ended. Other devices never wait for it.
#include <chrono>
#include <string>

/** How long the first opening of a device waits for its close under way. */
constexpr std::chrono::milliseconds kClosingDeviceWait { 500 };

/** Marks the close of the device `key` as under way for as long as it lives
    (keys are the backend's own: a raw port's identifier, a WinMM device's). */
class ClosingDevice
{
public:
    explicit ClosingDevice (std::string key);
    ~ClosingDevice();
    ClosingDevice (const ClosingDevice&) = delete;
    ClosingDevice& operator= (const ClosingDevice&) = delete;

private:
    const std::string m_strKey;
};

/** Whether the device `key` may be opened now: no close of it is under way,
    or the one under way ends within `wait` (waited for only by the first
    opening that finds it; later ones are told false at once). */
bool DeviceCloseEnded (const std::string& key, std::chrono::milliseconds wait = kClosingDeviceWait);
