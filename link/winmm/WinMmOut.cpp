#include "link/winmm/WinMmOut.h"
#include "link/OutputTurns.h"
#include "link/SysExPace.h"
#include "platform/Wine.h"
#ifndef NOMINMAX
 #define NOMINMAX
#endif
#include <windows.h>
#include <mmsystem.h>

namespace
{
    constexpr int kBusyTries = 50;         // a short message the driver is not ready for, tried again each millisecond
    constexpr DWORD kDoneLookMs = 50;      // how often the end of a long message is looked for, should its signal be missed

    class WinMmOutPort : public MidiOutPort
    {
    public:
        ~WinMmOutPort() override
        {
            if (handle != nullptr)
            {
                const std::lock_guard<std::timed_mutex> l (OutputTurns());
                ::midiOutClose (handle);
            }
            if (done != nullptr)
                ::CloseHandle (done);
        }

        bool Open (UINT device)
        {
            done = ::CreateEventW (nullptr, FALSE, FALSE, nullptr);
            if (done == nullptr)
                return false;
            if (::midiOutOpen (&handle, device, (DWORD_PTR) done, 0, CALLBACK_EVENT) != MMSYSERR_NOERROR)
                handle = nullptr;
            return handle != nullptr;
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
            MIDIHDR h {};
            h.lpData = reinterpret_cast<LPSTR> (const_cast<uint8_t*> (bytes));   // only read
            h.dwBufferLength = h.dwBytesRecorded = (DWORD) size;
            if (::midiOutPrepareHeader (handle, &h, sizeof (h)) != MMSYSERR_NOERROR)
                return false;
            const MMRESULT sent = ::midiOutLongMsg (handle, &h, sizeof (h));
            if (sent == MMSYSERR_NOERROR)
                while ((h.dwFlags & MHDR_DONE) == 0)
                    ::WaitForSingleObject (done, kDoneLookMs);   // as long as the device takes: the writer thread waits
            MMRESULT r = MMSYSERR_NOERROR;
            for (int t = 0; t < kBusyTries; ++t)
            {
                r = ::midiOutUnprepareHeader (handle, &h, sizeof (h));
                if (r != MIDIERR_STILLPLAYING)
                    break;
                ::Sleep (1);
            }
            return sent == MMSYSERR_NOERROR && r == MMSYSERR_NOERROR;
        }

        HMIDIOUT handle = nullptr;
        HANDLE done = nullptr;   // set by the driver when a long message has ended
        bool failed = false;     // the writer thread's only
        const bool underWine = RunningUnderWine();
        std::shared_ptr<MidiOutObserver> observer;   // told of each buffer of a SysEx in pieces
    };
}

std::unique_ptr<MidiOutPort> OpenWinMmOutput (unsigned device)
{
    auto port = std::make_unique<WinMmOutPort>();
    if (! port->Open ((UINT) device))
        return nullptr;
    return port;
}
