#include "link/winmm/WinMmIn.h"
#include <atomic>
#include <future>
#include <mutex>
#include <thread>
#include "link/BoundedCalls.h"
#include "link/winmm/LongSendWait.h"
#include "link/winmm/WinMmDescribe.h"
#include "link/winmm/WinMmStream.h"

namespace
{
    // Each buffer takes the longest answer whole (4.7 KB); the driver fills
    // the next while one is read, and drops a SysEx when none is left.
    constexpr int kBuffers = 8;
    constexpr DWORD kBufferBytes = 8192;

    struct Buffers
    {
        MIDIHDR headers[kBuffers] {};
        char bytes[kBuffers][kBufferBytes];
    };

    class WinMmInPort : public MidiInPort
    {
    public:
        explicit WinMmInPort (MidiInHandler* handler) : stream (this, handler, stopped) {}

        ~WinMmInPort() override
        {
            if (handle != nullptr)
                Close();
            if (receiver.joinable())
            {
                ::PostThreadMessageW (receiverId, WM_QUIT, 0, 0);
                receiver.join();
            }
        }

        bool Open (UINT device, const MidiPortInfo& listed)
        {
            // The driver posts its messages to the receiver, whose queue must be there first.
            std::promise<DWORD> ready;
            auto id = ready.get_future();
            receiver = std::thread ([this, ready = std::move (ready)]() mutable
            {
                MSG m;
                ::PeekMessageW (&m, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
                ready.set_value (::GetCurrentThreadId());
                Receive();
            });
            receiverId = id.get();
            if (::midiInOpen (&handle, device, (DWORD_PTR) receiverId, 0, CALLBACK_THREAD) != MMSYSERR_NOERROR)
            {
                handle = nullptr;
                return false;
            }
            if (! IsListedWinMmDevice (listed, DescribeWinMmInput (handle)))
                return false;   // the number went to another device meanwhile
            buffers = std::make_unique<Buffers>();
            for (int i = 0; i < kBuffers; ++i)
            {
                auto& h = buffers->headers[i];
                h.lpData = buffers->bytes[i];
                h.dwBufferLength = kBufferBytes;
                if (::midiInPrepareHeader (handle, &h, sizeof (h)) != MMSYSERR_NOERROR)
                    return false;
                if (::midiInAddBuffer (handle, &h, sizeof (h)) != MMSYSERR_NOERROR)
                    return false;
            }
            return true;
        }

        void start() override
        {
            {
                const std::lock_guard<std::mutex> l (deliveryLock);
                stream.Restart();
                stopped = false;
            }
            ::midiInStart (handle);
        }

        void stop() override
        {
            stopped = true;
            ::midiInStop (handle);   // a SysEx half in its buffer comes back, and is not delivered
            if (std::this_thread::get_id() == receiver.get_id())
                return;   // inside its own callback: nothing follows it
            const std::lock_guard<std::mutex> l (deliveryLock);   // a delivery under way ends first
        }

    private:
        /** The receiver thread: the driver's messages, in the order it sent them. */
        void Receive()
        {
            MSG m;
            while (::GetMessageW (&m, nullptr, 0, 0) > 0)
            {
                if (m.message == MM_MIM_DATA)
                {
                    const std::lock_guard<std::mutex> l (deliveryLock);
                    if (! stopped)
                        stream.ShortMessage ((uint32_t) m.lParam);
                }
                else if (m.message == MM_MIM_LONGDATA || m.message == MM_MIM_LONGERROR)
                {
                    auto* h = reinterpret_cast<MIDIHDR*> (m.lParam);
                    {
                        const std::lock_guard<std::mutex> l (deliveryLock);
                        if (! stopped && m.message == MM_MIM_LONGERROR)
                            stream.LongError();
                        else if (! stopped)
                            stream.LongData (reinterpret_cast<const uint8_t*> (h->lpData), h->dwBytesRecorded);
                    }
                    // Given back only once read: the driver fills it again at once.
                    const std::lock_guard<std::mutex> l (bufferLock);
                    if (! closing)
                        ::midiInAddBuffer (handle, h, sizeof (MIDIHDR));
                }
            }
        }

        /** Closes the device; every buffer comes back first, the close is synchronous. */
        void Close()
        {
            stop();
            {
                const std::lock_guard<std::mutex> l (bufferLock);
                closing = true;
            }
            ::midiInReset (handle);
            bool released = true;
            if (buffers != nullptr)
            {
                for (auto& h : buffers->headers)
                {
                    if ((h.dwFlags & MHDR_PREPARED) == 0)
                        continue;
                    MMRESULT r = MMSYSERR_NOERROR;
                    for (int t = 0; t < kCloseTries; ++t)
                    {
                        r = ::midiInUnprepareHeader (handle, &h, sizeof (h));
                        if (r != MIDIERR_STILLPLAYING)
                            break;
                        ::midiInReset (handle);
                        ::Sleep (10);
                    }
                    released = released && r == MMSYSERR_NOERROR;
                }
            }
            const bool closed = CloseAfterResets ([this]
            {
                const MMRESULT r = ::midiInClose (handle);
                return r == MMSYSERR_NOERROR ? CloseTry::Closed : r == MIDIERR_STILLPLAYING ? CloseTry::StillPlaying : CloseTry::Failed;
            }, [this] { ::midiInReset (handle); ::Sleep (10); });
            handle = nullptr;
            // A driver that did not let go of its buffers may still write into
            // them: they are never freed.
            if (! closed || ! released)
            {
                (void) buffers.release();
                AddDriverNotice ("A MIDI input's driver did not let go of its buffers as the input closed; they are left to it.");
            }
        }

        std::atomic<bool> stopped { true };
        WinMmStream stream;               // receiver thread, under deliveryLock
        std::mutex deliveryLock;          // held while the handler is called
        std::mutex bufferLock;            // a buffer is given back only while not closing
        bool closing = false;             // under bufferLock
        HMIDIIN handle = nullptr;
        std::unique_ptr<Buffers> buffers;
        std::thread receiver;
        DWORD receiverId = 0;
    };
}

std::unique_ptr<MidiInPort> OpenWinMmInput (unsigned device, const MidiPortInfo& listed, MidiInHandler* handler)
{
    auto port = std::make_unique<WinMmInPort> (handler);
    if (! port->Open ((UINT) device, listed))
        return nullptr;
    return port;
}
