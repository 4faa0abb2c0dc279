#include "link/JuceMidiPorts.h"
#include <juce_audio_devices/juce_audio_devices.h>
#include "link/DeliveryGate.h"
#include "link/OutputTurns.h"
#include "link/QueuedOutPort.h"
#if defined(KESTRAVA_RAWMIDI)
 #include "link/rawmidi/AlsaErrors.h"
 #include "link/rawmidi/SeqMidiOut.h"
#endif

namespace
{
    /** Forwards JUCE's input callback to the link's handler. JUCE's stop only
        keeps later messages from being handed over (on ALSA a callback may
        still run, or be about to): the gate makes stop() wait for it. */
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
        ~JuceInPort() override { gate.Close(); }
        bool isOpen() const { return input != nullptr; }
        void start() override
        {
            gate.Open();
            input->start();
        }
        void stop() override
        {
            input->stop();
            gate.Close();
        }

    private:
        void handleIncomingMidiMessage (juce::MidiInput*, const juce::MidiMessage& m) override
        {
            gate.Deliver ([&] { handler->handleIncomingMidiMessage (this, m); });
        }

        MidiInHandler* handler;
        DeliveryGate gate;
        std::unique_ptr<juce::MidiInput> input;   // destroyed first: its thread never calls into a gate that is gone
    };

   #if ! defined(KESTRAVA_RAWMIDI)
    class JuceOutPort : public MidiOutPort
    {
    public:
        explicit JuceOutPort (std::unique_ptr<juce::MidiOutput> o) : output (std::move (o)) {}
        ~JuceOutPort() override
        {
            const std::lock_guard<std::timed_mutex> l (OutputTurns());
            output.reset();
        }
        void sendMessageNow (const juce::MidiMessage& m) override { output->sendMessageNow (m); }
        void reset() override { output->clearAllPendingMessages(); }

    private:
        std::unique_ptr<juce::MidiOutput> output;
    };
   #endif

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
           #if defined(KESTRAVA_RAWMIDI)
            // JUCE sends a SysEx as one event, which the kernel cuts at its
            // buffer's size on the way to a card: the program's own output paces it.
            return WithWriterThread (OpenSequencerOutput (info.identifier.toStdString(), info.name.toStdString()));
           #else
            auto l = TakeOpeningTurn();
            if (! l.owns_lock())
                return nullptr;
            auto out = juce::MidiOutput::openDevice (info.identifier);
            if (out == nullptr || out->getName() != info.name)
                return nullptr;
            l.unlock();
            // Some drivers keep the caller until a long message is out (WinMM's
            // midiOutLongMsg has no time-out): the writer thread waits instead.
            return WithWriterThread (std::make_unique<JuceOutPort> (std::move (out)));
           #endif
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
