#pragma once
// The USB gadget a simulated module sits behind (Linux configfs): plugging it
// into its device controller and taking it off again, which the computer on
// the other side of the cable sees as a device arriving and leaving, and the
// device side's raw MIDI port that the gadget's MIDI function makes.
#include <string>

class GadgetController
{
public:
    /** The gadget in `gadgetDir` (its configfs folder), plugged into `udc`;
        an empty `udc` takes the controller the gadget is plugged into now. */
    GadgetController (std::string gadgetDir, std::string udc);

    /** The controller's name; empty when none was named or found. */
    const std::string& Udc() const { return m_Udc; }
    /** Plugs the gadget into its controller; false when the kernel refuses. */
    bool Plug();
    /** Takes the gadget off its controller; false when the kernel refuses. */
    bool Unplug();
    /** The identifier ("hw:C,0,0") of the MIDI function's raw port while the
        gadget is plugged in; empty when its card is not there. */
    std::string DevicePort() const;
    /** Waits up to `boundMs` for DevicePort(); empty when it did not come. */
    std::string WaitForDevicePort (int boundMs) const;

private:
    bool WriteUdc (const std::string& text);

    const std::string m_GadgetDir;
    std::string m_Udc;
};
