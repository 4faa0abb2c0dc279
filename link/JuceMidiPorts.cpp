#include "link/JuceMidiPorts.h"
#include <juce_audio_devices/juce_audio_devices.h>
#include "link/QueuedOutPort.h"
#if defined(KESTRAVA_RAWMIDI)
 #include "link/rawmidi/AlsaErrors.h"
#endif

namespace
{
    /** Forwards JUCE's input callback to the link's handler. */
    class JuceInPort : public MidiInPort, private juce::MidiInputCallback
    {
    public:
        JuceInPort (const MidiPortInfo& info, MidiInHandler* h) : handler (h)
        {
            input = juce::MidiInput::openDevice (info.identifier, this);
            // The identifier was handed to another port meanwhile: not the one listed.
            if (input != nullptr && input->getName() != info.name)
                input.reset();
        }
        bool isOpen() const { return input != nullptr; }
        void start() override { input->start(); }
        void stop() override { input->stop(); }

    private:
        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& m) override
        {
            handler->handleIncomingMidiMessage (this, m);
        }

        MidiInHandler* handler;
        std::unique_ptr<juce::MidiInput> input;
    };

    class JuceOutPort : public MidiOutPort
    {
    public:
        explicit JuceOutPort (std::unique_ptr<juce::MidiOutput> o) : output (std::move (o)) {}
        void sendMessageNow (const juce::MidiMessage& m) override { output->sendMessageNow (m); }
        void reset() override { output->clearAllPendingMessages(); }

    private:
        std::unique_ptr<juce::MidiOutput> output;
    };

    std::vector<MidiPortInfo> Listed (const juce::Array<juce::MidiDeviceInfo>& devices)
    {
        std::vector<MidiPortInfo> ports;
        for (auto& d : devices)
            ports.push_back ({ d.name, d.identifier, JuceMidiBackendName() });
        return ports;
    }

    class JuceMidiPortSource : public MidiPortSource
    {
    public:
       #if defined(KESTRAVA_RAWMIDI)
        JuceMidiPortSource() { InstallAlsaErrorHandler(); }
        juce::String takeNotice() override { return juce::String::fromUTF8 (TakeAlsaNotice().c_str()); }
       #endif

        MidiPortList listPorts() override
        {
            return { Listed (juce::MidiInput::getAvailableDevices()), Listed (juce::MidiOutput::getAvailableDevices()) };
        }

        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& info, MidiInHandler* handler) override
        {
            auto port = std::make_unique<JuceInPort> (info, handler);
            if (! port->isOpen())
                return nullptr;
            return port;
        }

        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& info) override
        {
            auto out = juce::MidiOutput::openDevice (info.identifier);
            if (out == nullptr || out->getName() != info.name)
                return nullptr;
            // Some drivers keep the caller until a long message is out (WinMM's
            // midiOutLongMsg has no time-out): the writer thread waits instead.
            return WithWriterThread (std::make_unique<JuceOutPort> (std::move (out)));
        }
    };
}

std::shared_ptr<MidiPortSource> MakeJuceMidiPortSource()
{
    return std::make_shared<JuceMidiPortSource>();
}

const char* JuceMidiBackendName()
{
#if defined(_WIN32)
    return "winmm";
#elif defined(__APPLE__)
    return "coremidi";
#else
    return "alsa-seq";
#endif
}
