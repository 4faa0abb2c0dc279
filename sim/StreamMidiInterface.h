#pragma once
// The far end of a byte stream that behaves like a USB-MIDI interface: it
// takes the host's bytes in small pieces at a set rate, with a small socket
// buffer in between, hands whole messages to whatever sits behind it, and
// sends that device's messages back over the stream at the same rate.
// POSIX only (a socket pair); the host reads and writes `HostFd()`.
#if ! defined(_WIN32)
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>
#include <juce_audio_basics/juce_audio_basics.h>
#include "link/MidiStreamAssembler.h"

class StreamMidiInterface
{
public:
    /** How the interface moves bytes. */
    struct Settings
    {
        int bytesPerFrame = 48;        ///< MIDI bytes per frame each way: one 64-byte USB full-speed packet of 16 events
        int frameMicros = 1000;        ///< one USB frame
        int socketBuffer = 4096;       ///< bytes the stream holds between host and interface (each way)
        bool hostNonBlocking = false;  ///< the host's end returns short writes instead of blocking
    };

    /** Receives each whole message from the host (on the interface's thread). */
    using Receiver = std::function<void (const juce::MidiMessage&)>;

    /** A running interface. */
    explicit StreamMidiInterface (const Settings& settings);
    /** A running interface with the default (USB full-speed) settings. */
    StreamMidiInterface();
    /** Stops the interface's thread and closes both ends. */
    ~StreamMidiInterface();

    /** The host's end of the stream (owned by the interface: dup it to keep it). */
    int HostFd() const { return m_nHostFd; }
    /** Sets who receives the host's messages. */
    void SetReceiver (Receiver receiver);
    /** Queues a message to the host; it goes out at the interface's rate. */
    void Send (const juce::MidiMessage& message);
    /** Stops taking bytes from the host (a device that never drains), or takes them again. */
    void Hold (bool hold);
    /** Bytes taken from the host so far. */
    uint64_t BytesTaken() const { return m_nTaken.load(); }
    /** SysEx messages from the host that arrived damaged or too long. */
    uint64_t BadSysEx() const { return m_Assembler.DamagedSysEx() + m_Assembler.OversizedSysEx(); }

private:
    void Run();

    const Settings m_Settings;
    int m_nHostFd = -1;
    int m_nDeviceFd = -1;
    MidiStreamAssembler m_Assembler;
    std::mutex m_Lock;                 // guards the receiver, the outgoing bytes and the flags
    std::condition_variable m_Wake;
    Receiver m_Receiver;
    std::deque<uint8_t> m_Outgoing;
    bool m_bStopping = false;
    std::atomic<bool> m_bHold { false };
    std::atomic<uint64_t> m_nTaken { 0 };
    std::thread m_Thread;
};
#endif
