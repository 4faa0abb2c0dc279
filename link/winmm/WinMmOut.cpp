#include "link/winmm/WinMmOut.h"
#include <mutex>
#include <set>
#include <vector>
#include "link/BoundedCalls.h"
#include "link/ClosingDevices.h"
#include "link/SysExPace.h"
#include "link/winmm/LongSendWait.h"
#include "link/winmm/WinMmDescribe.h"
#include "platform/Wine.h"

namespace
{
    constexpr int kBusyTries = 50;

    CloseTry ClosingTry (MMRESULT r)
    {
        return r == MMSYSERR_NOERROR ? CloseTry::Closed : r == MIDIERR_STILLPLAYING ? CloseTry::StillPlaying : CloseTry::Failed;
    }

    /** Devices whose last close the driver refused for good. */
    class Kept
    {
    public:
        void Add (const std::string& key)          { const std::lock_guard<std::mutex> l (lock); keys.insert (key); }
        void Remove (const std::string& key)       { const std::lock_guard<std::mutex> l (lock); keys.erase (key); }
        bool Has (const std::string& key)          { const std::lock_guard<std::mutex> l (lock); return keys.count (key) != 0; }

    private:
        std::mutex lock;
        std::set<std::string> keys;
    };

    Kept& KeptDevices()
    {
        static auto* kept = new Kept();   // never destroyed: a port may close as the program ends
        return *kept;
    }         // a short message the driver is not ready for, tried again each millisecond

    /** A long message's header and bytes, the driver's while it has them. */
    struct LongBuffer
    {
        MIDIHDR header {};
        std::vector<char> bytes;
    };

    class WinMmOutPort : public MidiOutPort
    {
    public:
        explicit WinMmOutPort (const juce::String& key) : closeKey (key.toStdString()) {}

        ~WinMmOutPort() override
        {
            bool closed = true;
            if (handle != nullptr)
            {
                // No lock of all outputs is held: a driver that hangs here holds
                // up this device alone, which counts as closing meanwhile. A
                // buffer left with the driver makes it refuse the close: it is
                // told to give every buffer back, and the close tried again.
                const ClosingDevice closing (closeKey);
                closed = CloseAfterResets ([this] { return ClosingTry (::midiOutClose (handle)); },
                                           [this] { ::midiOutReset (handle); ::Sleep (10); });
            }
            if (! closed)
            {
                // The driver may still signal the event: it is never freed.
                KeptDevices().Add (closeKey);
                AddDriverNotice ("MIDI port \"" + name + "\": its driver kept a buffer and did not let the port be closed; "
                                 "it may not open again until the interface is unplugged and plugged in again.");
                return;
            }
            if (done != nullptr)
                ::CloseHandle (done);
        }

        bool Open (UINT device, const MidiPortInfo& listed)
        {
            name = listed.name;
            done = ::CreateEventW (nullptr, FALSE, FALSE, nullptr);
            if (done == nullptr)
                return false;
            const MMRESULT opened = ::midiOutOpen (&handle, device, (DWORD_PTR) done, 0, CALLBACK_EVENT);
            if (opened != MMSYSERR_NOERROR)
            {
                handle = nullptr;
                if (KeptDevices().Has (closeKey))
                    AddDriverNotice ("MIDI port \"" + name + "\" cannot be opened (WinMM error " + juce::String ((int) opened)
                                     + "): its driver still holds it from the close that failed. Unplug the interface "
                                       "and plug it in again.");
            }
            else
            {
                KeptDevices().Remove (closeKey);
            }
            // The number may have gone to another device since the listing.
            return handle != nullptr && IsListedWinMmDevice (listed, DescribeWinMmOutput (handle));
        }

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            if (failed)
                return;
            const auto* bytes = message.getRawData();
            const int size = message.getRawDataSize();
            if (message.isSysEx())
            {
                // A SysEx spread over several buffers, the first starting with F0
                // and the last ending with F7, as classic drivers take it.
                const auto send = [this] (const uint8_t* b, size_t n) { return SendLong (b, (int) n); };
                failed = ! SendSysExInPieces (bytes, (size_t) size, WinMmSysExPace (CurrentSysExPace(), underWine),
                                              PiecesTo (send, observer));
            }
            else
            {
                failed = size > 3 ? ! SendLong (bytes, size) : ! SendShort (bytes, size);
            }
        }

        /** Nothing to drop: every send has ended before the next begins. */
        void reset() override {}

        bool hasFailed() const override { return failed; }
        void setObserver (std::shared_ptr<MidiOutObserver> o) override { observer = std::move (o); }

    private:
        bool SendShort (const uint8_t* bytes, int size)
        {
            DWORD packed = 0;
            for (int i = 0; i < size; ++i)
                packed |= (DWORD) bytes[i] << (8 * i);
            MMRESULT r = MMSYSERR_NOERROR;
            for (int t = 0; t < kBusyTries; ++t)
            {
                r = ::midiOutShortMsg (handle, packed);
                if (r != MIDIERR_NOTREADY)
                    break;
                ::Sleep (1);
            }
            return r == MMSYSERR_NOERROR;
        }

        bool SendLong (const uint8_t* bytes, int size)
        {
            // On the heap: a driver that never gives the buffer back may use it for good.
            auto buffer = std::make_unique<LongBuffer>();
            buffer->bytes.assign (bytes, bytes + size);
            MIDIHDR& h = buffer->header;
            h.lpData = buffer->bytes.data();
            h.dwBufferLength = h.dwBytesRecorded = (DWORD) size;
            if (::midiOutPrepareHeader (handle, &h, sizeof (h)) != MMSYSERR_NOERROR)
                return false;
            const MMRESULT sent = ::midiOutLongMsg (handle, &h, sizeof (h));
            auto end = LongSendEnd::Sent;
            if (sent == MMSYSERR_NOERROR)
                end = AwaitLongSend ((size_t) size, { [&h] { return (h.dwFlags & MHDR_DONE) != 0; },
                                                      [this] (std::chrono::milliseconds ms) { ::WaitForSingleObject (done, (DWORD) ms.count()); },
                                                      [this] { ::midiOutReset (handle); },
                                                      [] { return LongSendWait::Clock::now(); } });
            if (end == LongSendEnd::Kept)
            {
                (void) buffer.release();   // still the driver's: never unprepared nor freed
                return false;
            }
            MMRESULT r = MMSYSERR_NOERROR;
            for (int t = 0; t < kBusyTries; ++t)
            {
                r = ::midiOutUnprepareHeader (handle, &h, sizeof (h));
                if (r != MIDIERR_STILLPLAYING)
                    break;
                ::Sleep (1);
            }
            return sent == MMSYSERR_NOERROR && end == LongSendEnd::Sent && r == MMSYSERR_NOERROR;
        }

        const std::string closeKey;   // the device, as ClosingDevices knows it
        juce::String name;            // the port's, for the log
        HMIDIOUT handle = nullptr;
        HANDLE done = nullptr;   // set by the driver when a long message has ended
        bool failed = false;     // the writer thread's only
        const bool underWine = RunningUnderWine();
        std::shared_ptr<MidiOutObserver> observer;   // told of each buffer of a SysEx in pieces
    };
}

std::unique_ptr<MidiOutPort> OpenWinMmOutput (unsigned device, const MidiPortInfo& listed)
{
    auto port = std::make_unique<WinMmOutPort> (listed.identifier);
    if (! port->Open ((UINT) device, listed))
        return nullptr;
    return port;
}
