#include "link/JuceMidiPorts.h"
#include <juce_audio_devices/juce_audio_devices.h>

namespace
{
    /** Forwards JUCE's input callback to the link's handler. */
    class JuceInPort : public MidiInPort, private juce::MidiInputCallback
    {
    public:
        JuceInPort (const juce::MidiDeviceInfo& info, MidiInHandler* h) : handler (h)
        {
            input = juce::MidiInput::openDevice (info.identifier, this);
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

    class JuceMidiPortSource : public MidiPortSource
    {
    public:
        juce::StringArray getInputNames() override { return namesOf (juce::MidiInput::getAvailableDevices()); }
        juce::StringArray getOutputNames() override { return namesOf (juce::MidiOutput::getAvailableDevices()); }

        std::unique_ptr<MidiInPort> openInput (int index, MidiInHandler* handler) override
        {
            const auto devices = juce::MidiInput::getAvailableDevices();
            if (! juce::isPositiveAndBelow (index, devices.size()))
                return nullptr;
            auto port = std::make_unique<JuceInPort> (devices[index], handler);
            if (! port->isOpen())
                return nullptr;
            return port;
        }

        std::unique_ptr<MidiOutPort> openOutput (int index) override
        {
            const auto devices = juce::MidiOutput::getAvailableDevices();
            if (! juce::isPositiveAndBelow (index, devices.size()))
                return nullptr;
            auto out = juce::MidiOutput::openDevice (devices[index].identifier);
            if (out == nullptr)
                return nullptr;
            return std::make_unique<JuceOutPort> (std::move (out));
        }

    private:
        static juce::StringArray namesOf (const juce::Array<juce::MidiDeviceInfo>& devices)
        {
            juce::StringArray names;
            for (auto& d : devices)
                names.add (d.name);
            return names;
        }
    };
}

std::shared_ptr<MidiPortSource> MakeJuceMidiPortSource()
{
    return std::make_shared<JuceMidiPortSource>();
}
