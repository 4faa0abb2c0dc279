#pragma once
// MIDI ports on file descriptors: what a raw MIDI device, a pipe or a socket
// gives. The output writes each message whole; the input's reader thread
// polls the descriptor and hands whole messages to the handler.
#include <functional>
#include <memory>
#include "link/MidiPorts.h"
#include "link/MidiStreamAssembler.h"

/** Closes the device behind a descriptor (once its port is done with it). */
using FdCloser = std::function<void()>;

/** A device that takes no byte for this long while a write waits has failed. */
constexpr int kWriteStallMs = 5000;

/** Writes all `size` bytes: continues short writes, waits in poll while a
    non-blocking descriptor is full, for at most `boundMs` in all (-1: as long
    as the device keeps taking bytes, kWriteStallMs without any); false when
    the device fails or the bound has passed. */
bool WriteWhole (int fd, const uint8_t* bytes, size_t size, int boundMs = -1);

/** An output on a descriptor. Each send waits until the whole message is
    with the device: that is the flow control (put it behind WithWriterThread).
    A SysEx goes in pieces with gaps when pacing is on (SysExPace.h). */
class FdMidiOutPort : public MidiOutPort
{
public:
    /** Writes to `fd`; `closer` runs when the port dies. */
    FdMidiOutPort (int fd, FdCloser closer);
    ~FdMidiOutPort() override;
    /** Writes the message whole; after the device failed nothing is written. */
    void sendMessageNow (const juce::MidiMessage& message) override;
    /** Nothing to drop: a message half on the wire must still end. */
    void reset() override {}
    /** Whether a write failed (the device is gone). */
    bool hasFailed() const override { return m_bFailed; }
    /** Told of each piece of a paced SysEx that has left; set before the first send. */
    void setObserver (std::shared_ptr<MidiOutObserver> observer) override { m_pObserver = std::move (observer); }

private:
    const int m_nFd;
    FdCloser m_Closer;
    bool m_bFailed = false;
    std::shared_ptr<MidiOutObserver> m_pObserver;
};

/** An input on a descriptor, read by a thread of its own while started. */
class FdMidiInPort : public MidiInPort
{
public:
    /** Reads `fd` for `handler`; `closer` runs once the reader has ended. */
    FdMidiInPort (int fd, MidiInHandler* handler, FdCloser closer,
                  size_t sysExBound = MidiStreamAssembler::kDefaultSysExBound);
    ~FdMidiInPort() override;
    /** Starts the reader thread. */
    void start() override;
    /** Stops it; no callback runs once this returns (except the one that calls it). */
    void stop() override;
    /** SysEx messages dropped for their size. */
    uint64_t OversizedSysEx() const;
    /** SysEx messages ended by a status byte before their F7. */
    uint64_t DamagedSysEx() const;

    struct Reader;

private:
    std::shared_ptr<Reader> m_pReader;
};
