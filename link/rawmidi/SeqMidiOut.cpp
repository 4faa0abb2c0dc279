#include "link/rawmidi/SeqMidiOut.h"
#include <alsa/asoundlib.h>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <thread>
#include "link/ClosingDevices.h"
#include "link/rawmidi/AlsaErrors.h"
#include "link/rawmidi/AlsaRawMidi.h"
#include "link/rawmidi/OutputDrain.h"
#include "link/rawmidi/PacedSysEx.h"
#include "link/rawmidi/RawMidiProc.h"

namespace
{
    // snd-seq-midi numbers a card's ports by raw device and subdevice.
    constexpr int kPortsPerRawDevice = 32;
    constexpr int kBusyRetries = 5000;   // 1 ms apart: a program's port whose queue stays full has failed

    bool ParseSequencerIdentifier (const std::string& identifier, int& client, int& port)
    {
        char rest = 0;
        return std::sscanf (identifier.c_str(), "%d-%d%c", &client, &port, &rest) == 2 && client >= 0 && port >= 0;
    }

    /** The card behind a sequencer client; -1 for a program's. */
    int ClientCard (snd_seq_t* seq, int client)
    {
        snd_seq_client_info_t* info;
        snd_seq_client_info_alloca (&info);
        return snd_seq_get_any_client_info (seq, client, info) == 0 ? snd_seq_client_info_get_card (info) : -1;
    }

    /** What a close of the port is known by: the raw port the kernel reaches
        through it ("hw:C,D,S", as the raw route's), else its own identifier. */
    std::string CloseKey (int card, int client, int port)
    {
        if (card < 0)
            return SequencerIdentifier (client, port);
        return "hw:" + std::to_string (card) + "," + std::to_string (port / kPortsPerRawDevice) + ","
               + std::to_string (port % kPortsPerRawDevice);
    }

    class SeqMidiOut : public MidiOutPort
    {
    public:
        SeqMidiOut (snd_seq_t* s, int own, int client, int port)
            : seq (s), ownPort (own), destClient (client), destPort (port)
        {
            snd_midi_event_new (16, &encoder);
            card = ClientCard (seq, client);
            device = port / kPortsPerRawDevice;
            subdevice = port % kPortsPerRawDevice;
            if (card >= 0)
                if (const auto sub = ParseRawMidiProc (ReadRawMidiProc (card, device), true, subdevice))
                    capacity = sub->bufferSize;
        }

        ~SeqMidiOut() override
        {
            const ClosingDevice closing (CloseKey (card, destClient, destPort));
            if (card >= 0)
                WaitOutputDrained ({ [this] { return Queued(); },
                                     [] (std::chrono::microseconds us) { std::this_thread::sleep_for (us); },
                                     [] { return QueuedOutput::Clock::now(); } });
            snd_seq_drop_output (seq);
            // Unsubscribing closes the card's output, after the kernel has
            // waited (up to 10 s) for its buffer to empty; done here rather than
            // by the close, which would hold every sequencer client's opening meanwhile.
            snd_seq_disconnect_to (seq, ownPort, destClient, destPort);
            if (encoder != nullptr)
                snd_midi_event_free (encoder);
            snd_seq_close (seq);
        }

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            if (failed)
                return;
            const auto* bytes = message.getRawData();
            const auto size = (size_t) message.getRawDataSize();
            if (size == 0)
                return;
            if (bytes[0] == 0xF0)
                failed = ! SendPaced (bytes, size, Pacing());
            else
                failed = ! SendEncoded (bytes, size);
        }

        void reset() override {}
        bool hasFailed() const override { return failed; }
        void setObserver (std::shared_ptr<MidiOutObserver> o) override { observer = std::move (o); }

    private:
        /** Bytes the card's buffer still holds; -1 when it cannot be read. */
        long Queued() const
        {
            const auto sub = ParseRawMidiProc (ReadRawMidiProc (card, device), true, subdevice);
            if (! sub.has_value() || sub->avail < 0 || sub->bufferSize < 0)
                return -1;
            return std::max (0L, sub->bufferSize - sub->avail);
        }

        SysExPacing Pacing()
        {
            SysExPacing p;
            if (card >= 0)
            {
                p.room = [this]
                {
                    const auto sub = ParseRawMidiProc (ReadRawMidiProc (card, device), true, subdevice);
                    return sub.has_value() && sub->avail >= 0 ? sub->avail : -1L;
                };
                p.capacity = capacity;
            }
            p.send = [this] (const uint8_t* b, size_t n)
            {
                snd_seq_event_t ev;
                snd_seq_ev_clear (&ev);
                snd_seq_ev_set_sysex (&ev, (unsigned) n, const_cast<uint8_t*> (b));
                return Output (ev);
            };
            p.sleep = [] (std::chrono::microseconds us) { std::this_thread::sleep_for (us); };
            p.now = [] { return SysExPacing::Clock::now(); };
            p.pace = CurrentSysExPace();
            p.pieceLeft = PieceTeller (observer);
            return p;
        }

        bool SendEncoded (const uint8_t* bytes, size_t size)
        {
            if (encoder == nullptr)
                return false;
            snd_midi_event_reset_encode (encoder);
            while (size > 0)
            {
                snd_seq_event_t ev;
                snd_seq_ev_clear (&ev);
                const long used = snd_midi_event_encode (encoder, bytes, (long) size, &ev);
                if (used <= 0)
                    return false;
                bytes += used;
                size -= (size_t) used;
                if (ev.type != SND_SEQ_EVENT_NONE && ! Output (ev))
                    return false;
            }
            return true;
        }

        /** One event to the port, sent at once; a program whose queue is full is
            waited for a while. The event goes to that port alone, never to
            whoever else might subscribe: an error then always means it was not
            taken, and trying again never sends it twice. */
        bool Output (snd_seq_event_t& ev)
        {
            snd_seq_ev_set_source (&ev, ownPort);
            snd_seq_ev_set_dest (&ev, destClient, destPort);
            snd_seq_ev_set_direct (&ev);
            for (int attempt = 0; attempt < kBusyRetries; ++attempt)
            {
                const int err = snd_seq_event_output_direct (seq, &ev);
                if (err >= 0)
                    return true;
                if (err != -EAGAIN && err != -ENOMEM)
                    return false;
                std::this_thread::sleep_for (std::chrono::milliseconds (1));
            }
            return false;
        }

        snd_seq_t* const seq;
        const int ownPort, destClient, destPort;
        snd_midi_event_t* encoder = nullptr;
        int card = -1, device = 0, subdevice = 0;
        long capacity = -1;
        bool failed = false;
        std::shared_ptr<MidiOutObserver> observer;   // told of each event of a SysEx that has left
    };
}

std::string SequencerIdentifier (int client, int port)
{
    return std::to_string (client) + "-" + std::to_string (port);
}

std::unique_ptr<MidiOutPort> OpenSequencerOutput (const std::string& identifier, const std::string& name)
{
    int client = -1, port = -1;
    if (! ParseSequencerIdentifier (identifier, client, port))
        return nullptr;
    InstallAlsaErrorHandler();
    snd_seq_t* seq = nullptr;
    if (snd_seq_open (&seq, "default", SND_SEQ_OPEN_OUTPUT, 0) < 0 || seq == nullptr)
        return nullptr;

    snd_seq_port_info_t* info;
    snd_seq_port_info_alloca (&info);
    const bool same = snd_seq_get_any_port_info (seq, client, port, info) == 0
                      && (snd_seq_port_info_get_capability (info) & SND_SEQ_PORT_CAP_SUBS_WRITE) != 0
                      && (name.empty() || name == snd_seq_port_info_get_name (info))
                      && DeviceCloseEnded (CloseKey (ClientCard (seq, client), client, port));
    snd_seq_set_client_name (seq, "Kestrava");
    // No other client may subscribe to the program's port (nor connect it):
    // what it sends goes to the one port it was opened for.
    const int own = same ? snd_seq_create_simple_port (seq, "Kestrava out", SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_NO_EXPORT,
                                                       SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION)
                          : -1;
    // Subscribing makes the kernel open a card's raw output: a port some
    // program holds directly fails here.
    if (own < 0 || snd_seq_connect_to (seq, own, client, port) < 0)
    {
        snd_seq_close (seq);
        return nullptr;
    }
    return std::make_unique<SeqMidiOut> (seq, own, client, port);
}

bool SequencerPortReadable (const std::string& identifier)
{
    int client = -1, port = -1;
    if (! ParseSequencerIdentifier (identifier, client, port))
        return false;
    snd_seq_t* seq = nullptr;
    if (snd_seq_open (&seq, "default", SND_SEQ_OPEN_INPUT, SND_SEQ_NONBLOCK) < 0 || seq == nullptr)
        return false;
    const int own = snd_seq_create_simple_port (seq, "Kestrava check", SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE,
                                                SND_SEQ_PORT_TYPE_MIDI_GENERIC | SND_SEQ_PORT_TYPE_APPLICATION);
    const bool readable = own >= 0 && snd_seq_connect_from (seq, own, client, port) == 0;
    snd_seq_close (seq);   // the subscription ends with the client
    return readable;
}

std::string CardSequencerPort (int card, int device, int subdevice)
{
    std::vector<std::pair<int, int>> clients;
    if (! ListHardwareSequencerClients (clients))
        return {};
    snd_seq_t* seq = nullptr;
    if (snd_seq_open (&seq, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0 || seq == nullptr)
        return {};
    std::string found;
    snd_seq_port_info_t* info;
    snd_seq_port_info_alloca (&info);
    const int port = device * kPortsPerRawDevice + subdevice;
    for (auto& [client, clientCard] : clients)
        if (clientCard == card && snd_seq_get_any_port_info (seq, client, port, info) == 0
            && (snd_seq_port_info_get_type (info) & SND_SEQ_PORT_TYPE_MIDI_GENERIC) != 0)
        {
            found = SequencerIdentifier (client, port);
            break;
        }
    snd_seq_close (seq);
    return found;
}
