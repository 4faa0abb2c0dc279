#include "link/rawmidi/AlsaRawMidi.h"
#include <alsa/asoundlib.h>
#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <poll.h>
#include <thread>
#include "link/ClosingDevices.h"
#include "link/rawmidi/CardLocation.h"
#include "link/rawmidi/OutputDrain.h"

namespace
{
    std::string CardName (int card)
    {
        char* name = nullptr;
        if (snd_card_get_name (card, &name) < 0 || name == nullptr)
            return "Card " + std::to_string (card);
        std::string s (name);
        std::free (name);
        return s;
    }

    /** The name of one direction: the subdevice's, else the device's. */
    std::string StreamName (const std::string& card, const snd_rawmidi_info_t* info)
    {
        std::string port = snd_rawmidi_info_get_subdevice_name (info);
        if (port.empty())
            port = snd_rawmidi_info_get_name (info);
        return RawMidiPortName (card, port);
    }

    std::string Identifier (int card, int device, int subdevice)
    {
        return "hw:" + std::to_string (card) + "," + std::to_string (device) + "," + std::to_string (subdevice);
    }

    /** Bytes still queued in an output's buffer; -1 when the card cannot tell (it is gone). */
    long QueuedBytes (snd_rawmidi_t* handle)
    {
        snd_rawmidi_params_t* params;
        snd_rawmidi_status_t* status;
        snd_rawmidi_params_alloca (&params);
        snd_rawmidi_status_alloca (&status);
        if (snd_rawmidi_params_current (handle, params) < 0 || snd_rawmidi_status (handle, status) < 0)
            return -1;
        const auto size = snd_rawmidi_params_get_buffer_size (params);
        const auto avail = snd_rawmidi_status_get_avail (status);
        return avail < size ? (long) (size - avail) : 0L;
    }

    /** Closes an output: what is still queued gets the time the wire needs
        for it, the rest is dropped, so that the kernel's close (which waits up
        to 10 s for the buffer to empty, holding the card) returns at once. */
    void CloseOutput (snd_rawmidi_t* handle, const std::string& identifier)
    {
        const ClosingDevice closing (identifier);
        WaitOutputDrained ({ [handle] { return QueuedBytes (handle); },
                             [] (std::chrono::microseconds us) { std::this_thread::sleep_for (us); },
                             [] { return QueuedOutput::Clock::now(); } });
        if (snd_rawmidi_drop (handle) == 0)
        {
            snd_rawmidi_close (handle);
            return;
        }
        // The card is gone and takes no call but the close, which waits out
        // the kernel's bound on what is left: nobody needs to wait for that.
        std::thread ([handle] { snd_rawmidi_close (handle); }).detach();
    }

    void ListDevice (snd_ctl_t* ctl, int card, const std::string& cardName, const std::string& cardLocation, int device,
                     std::vector<AlsaRawMidiStream>& out)
    {
        snd_rawmidi_info_t* info;
        snd_rawmidi_info_alloca (&info);
        for (const auto stream : { SND_RAWMIDI_STREAM_INPUT, SND_RAWMIDI_STREAM_OUTPUT })
        {
            snd_rawmidi_info_set_device (info, (unsigned) device);
            snd_rawmidi_info_set_subdevice (info, 0);
            snd_rawmidi_info_set_stream (info, stream);
            if (snd_ctl_rawmidi_info (ctl, info) < 0)
                continue;
            const unsigned count = snd_rawmidi_info_get_subdevices_count (info);
            for (unsigned sub = 0; sub < count; ++sub)
            {
                snd_rawmidi_info_set_subdevice (info, sub);
                if (snd_ctl_rawmidi_info (ctl, info) == 0)
                    out.push_back ({ Identifier (card, device, (int) sub), StreamName (cardName, info), card,
                                     stream == SND_RAWMIDI_STREAM_INPUT,
                                     cardLocation.empty() ? std::string()
                                                          : cardLocation + "," + std::to_string (device) + "," + std::to_string (sub) });
            }
        }
    }
}

std::string RawMidiPortName (const std::string& card, const std::string& port)
{
    if (port.empty())
        return card;
    if (port.compare (0, card.size(), card) == 0)
        return port;
    return card + ": " + port;
}

std::vector<AlsaRawMidiPort> JoinRawMidiStreams (const std::vector<AlsaRawMidiStream>& streams)
{
    std::vector<AlsaRawMidiPort> ports;
    for (auto& s : streams)
    {
        auto it = std::find_if (ports.begin(), ports.end(), [&] (const AlsaRawMidiPort& p) { return p.identifier == s.identifier; });
        if (it == ports.end())
            it = ports.insert (ports.end(), AlsaRawMidiPort { s.identifier, {}, {}, s.card, s.location });
        (s.input ? it->inputName : it->outputName) = s.name;
    }
    return ports;
}

std::vector<AlsaRawMidiPort> ListAlsaRawMidiPorts()
{
    std::vector<AlsaRawMidiStream> streams;
    int card = -1;
    while (snd_card_next (&card) == 0 && card >= 0)
    {
        snd_ctl_t* ctl = nullptr;
        if (snd_ctl_open (&ctl, ("hw:" + std::to_string (card)).c_str(), 0) < 0)
            continue;
        const auto cardName = CardName (card);
        const auto cardLocation = CardLocation (card);
        int device = -1;
        while (snd_ctl_rawmidi_next_device (ctl, &device) == 0 && device >= 0)
            ListDevice (ctl, card, cardName, cardLocation, device, streams);
        snd_ctl_close (ctl);
    }
    return JoinRawMidiStreams (streams);
}

AlsaRawMidiOpened OpenAlsaRawMidi (const std::string& identifier, const std::string& name, bool input, size_t bufferBytes)
{
    if (! input && ! DeviceCloseEnded (identifier))
    {
        AlsaRawMidiOpened closing;
        closing.error = -EINPROGRESS;
        return closing;
    }
    snd_rawmidi_t* handle = nullptr;
    const int err = input ? snd_rawmidi_open (&handle, nullptr, identifier.c_str(), SND_RAWMIDI_NONBLOCK)
                          : snd_rawmidi_open (nullptr, &handle, identifier.c_str(), SND_RAWMIDI_NONBLOCK);
    if (err < 0 || handle == nullptr)
    {
        AlsaRawMidiOpened failed;
        failed.error = err < 0 ? err : -ENODEV;
        return failed;
    }
    AlsaRawMidiOpened opened;
    if (input)
        opened.close = [handle] { snd_rawmidi_close (handle); };
    else
        opened.close = [handle, identifier] { CloseOutput (handle, identifier); };

    // The descriptor is read and written directly: only the kernel's own device will do.
    snd_rawmidi_info_t* info;
    snd_rawmidi_info_alloca (&info);
    pollfd p {};
    if (snd_rawmidi_type (handle) != SND_RAWMIDI_TYPE_HW
        || snd_rawmidi_info (handle, info) < 0
        || StreamName (CardName (snd_rawmidi_info_get_card (info)), info) != name
        || snd_rawmidi_poll_descriptors (handle, &p, 1) != 1)
    {
        opened.close();
        AlsaRawMidiOpened other;
        other.error = -ENODEV;   // not the port that was listed
        return other;
    }

    snd_rawmidi_params_t* params;
    snd_rawmidi_params_alloca (&params);
    if (snd_rawmidi_params_current (handle, params) == 0
        && snd_rawmidi_params_set_buffer_size (handle, params, bufferBytes) == 0)
        snd_rawmidi_params (handle, params);   // a driver that refuses keeps its own size
    opened.fd = p.fd;
    return opened;
}

bool ListHardwareSequencerClients (std::vector<std::pair<int, int>>& clientAndCard)
{
    clientAndCard.clear();
    snd_seq_t* seq = nullptr;
    if (snd_seq_open (&seq, "default", SND_SEQ_OPEN_OUTPUT, SND_SEQ_NONBLOCK) < 0 || seq == nullptr)
        return false;
    snd_seq_client_info_t* client;
    snd_seq_client_info_alloca (&client);
    snd_seq_client_info_set_client (client, -1);
    while (snd_seq_query_next_client (seq, client) >= 0)
    {
        const int card = snd_seq_client_info_get_card (client);
        if (card >= 0)
            clientAndCard.emplace_back (snd_seq_client_info_get_client (client), card);
    }
    snd_seq_close (seq);
    return true;
}
