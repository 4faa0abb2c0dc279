#include "fuzz/FuzzPorts.h"
#include <cstdio>
#include <cstdlib>

class FuzzPortSource::Input : public MidiInPort
{
public:
    explicit Input (FuzzPortSource& s) : source (s) { source.m_pInput = this; }
    ~Input() override
    {
        MidiInPort* self = this;
        source.m_pInput.compare_exchange_strong (self, nullptr);
    }
    void start() override {}
    void stop() override {}

private:
    FuzzPortSource& source;
};

class FuzzPortSource::Output : public MidiOutPort
{
public:
    explicit Output (FuzzPortSource& s) : source (s) {}

    void sendMessageNow (const juce::MidiMessage& m) override
    {
        // Whatever the module is sent must be one well-formed SysEx message:
        // F0, data bytes below 0x80, F7.
        const auto* p = m.getRawData();
        const int n = m.getRawDataSize();
        bool ok = n >= 2 && p[0] == 0xF0 && p[n - 1] == 0xF7;
        for (int i = 1; ok && i < n - 1; ++i)
            ok = p[i] < 0x80;
        if (! ok)
        {
            std::fprintf (stderr, "the link sent a malformed message of %d bytes\n", n);
            std::abort();
        }
        ++source.m_nSent;
    }
    void reset() override {}

private:
    FuzzPortSource& source;
};

namespace
{
    const MidiPortInfo kFuzzPort { "Fuzz Port", "fuzz:0", "fuzz" };
}

MidiPortList FuzzPortSource::listPorts()
{
    return { { kFuzzPort }, { kFuzzPort } };
}

std::unique_ptr<MidiInPort> FuzzPortSource::openInput (const MidiPortInfo& port, MidiInHandler*)
{
    return port.identifier == kFuzzPort.identifier ? std::make_unique<Input> (*this) : nullptr;
}

std::unique_ptr<MidiOutPort> FuzzPortSource::openOutput (const MidiPortInfo& port)
{
    return port.identifier == kFuzzPort.identifier ? std::make_unique<Output> (*this) : nullptr;
}
