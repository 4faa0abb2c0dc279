#include "link/Communication.h"
#include <algorithm>
#include <cstring>
#include <limits>
#include <utility>
#include "link/SysExPace.h"
#include "store/shared/ProgramGlobals.h"
#include "store/shared/Notifications.h"
#include "store/shared/ProgramHooks.h"
#include "platform/SystemCalls.h"
#include "store/Logger.h"

namespace
{
    constexpr auto kNoOutDevice = static_cast<ErrorCode> (-1);   // the "No out device" box; the step then stops as on any error
}

/** Carries an error found on the MIDI input thread to the message thread,
    where its box is shown. */
class Communication::ErrorRelay : public juce::MessageListener
{
public:
    explicit ErrorRelay (Communication& l) : link (l) {}
    void handleMessage (const juce::Message& m) override
    {
        if (auto* n = AsNotify (m))
        {
            n->Taken();
            link.ShowError (static_cast<ErrorCode> (n->intParameter1), n->intParameter2 != 0);
        }
    }

private:
    Communication& link;
};

Communication::Communication()
    : m_pErrorRelay (std::make_unique<ErrorRelay> (*this))
{
}

Communication::~Communication()
{
    Shutdown();
}

void Communication::Shutdown()
{
    stopTimer();
    std::vector<InPtr> inputs;
    std::vector<OutPtr> outputs;
    {
        std::lock_guard<std::mutex> l (m_PortLock);
        inputs.swap (m_ppInputs);
        outputs.swap (m_ppOutputs);
        inputs.push_back (std::move (m_pMidiIn));
        outputs.push_back (std::move (m_pMidiOut));
        for (auto& r : m_RetiredInputs)  inputs.push_back (std::move (r));
        for (auto& r : m_RetiredOutputs) outputs.push_back (std::move (r));
        m_RetiredInputs.clear();
        m_RetiredOutputs.clear();
        m_bArrays = false;
    }
    g_bPortsOpen = false;
    ReleasePorts (inputs, outputs);
    std::lock_guard<std::mutex> l (m_OpLock);
    CloseReadFile();
    m_bChecking = false;
    m_eReadWait = ReadWait::None;
    m_Source.Release();
}

//==============================================================================
void Communication::SetLogger (CLogger* logger)                  { m_pLogger = logger; }
void Communication::SetListener (juce::MessageListener* listener) { m_pListener = listener; }
void Communication::SetWordMode (bool wordMode)                  { m_bWordMode = wordMode; }

int64_t Communication::ToBytes (int value) const
{
    return m_bWordMode ? (int64_t) value * 2 : (int64_t) value;
}

int64_t Communication::PageBase (int page)
{
    // Multiplied, not shifted: a negative page gives a negative base, which no range fits.
    return (int64_t) page * 0x20000;
}

bool Communication::FitsWireAddress (int64_t byteStart, int64_t byteLength)
{
    // The wire carries 28 bits of word address: bytes 0 up to kMaxFlashBytes.
    return byteStart >= 0 && byteLength >= 0 && byteStart + byteLength <= kMaxFlashBytes;
}

void Communication::StopTimer()       { stopTimer(); }
void Communication::StartProbeTimer() { startTimer (700); }
void Communication::StopTimerFromAnyThread() { stopTimer(); }

//==============================================================================
void Communication::Post (int code, int argument, int third)
{
    if (m_pListener != nullptr)
        m_pListener->postMessage (new NotifyMessage (code, argument, third));
}

void Communication::PostProgress (int kind, int64_t done, int64_t total)
{
    // Transfers stay within the wire's reach (512 MiB and one block), so the record's 32 bits hold them.
    if (m_pListener != nullptr)
        m_pListener->postMessage (new ProgressNotify (kind, (int) done, (int) total));
}

void Communication::Log (const char* text)
{
    if (m_pLogger != nullptr)
        m_pLogger->Print ("%s", text);
}

void Communication::SetPendingError (ErrorCode code, bool lostBytes)
{
    // Called with the operation lock held: the operation is over, whatever arrives for it now is ignored.
    StopTimerFromAnyThread();
    m_bFailed = true;
    m_bSending = false;
    m_bChecking = false;
    m_eReadWait = ReadWait::None;
    m_Replies.GiveUp (GetTickCount());
    CloseReadFile();
    m_Source.Release();
    if (m_nPendingError == 0)
    {
        m_nPendingError = code;
        m_bPendingLoss = lostBytes;
    }
}

void Communication::FlushPendingError()
{
    int code;
    bool lost;
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        code = std::exchange (m_nPendingError, 0);
        lost = std::exchange (m_bPendingLoss, false);
    }
    if (code == 0)
        return;
    if (juce::MessageManager::getInstance()->isThisTheMessageThread())
        ShowError (static_cast<ErrorCode> (code), lost);
    else
        m_pErrorRelay->postMessage (new NotifyMessage (code, lost ? 1 : 0));
}

void Communication::ShowError (ErrorCode code, bool lostBytes)
{
    // Under "auto" pacing the panel decides: a slower pace and the group again, or this box.
    if (lostBytes && CurrentPaceChoice().automatic)
    {
        Post (kStepDoneMessage, kLostBytes, code);
        return;
    }
    // A transfer with no output ends its step like any other failure: nothing would ever answer it.
    const auto text = code == kNoOutDevice ? juce::String (kNoOutDeviceText) : juce::String::formatted ("Error Code %d\n", (int) code);
    if (m_OnError)
        m_OnError (code == kNoOutDevice ? 0 : code, text);
    ShowErrorBox (text);
    Post (kStepStartMessage, 1);
}

//==============================================================================
void Communication::SendPacket (const uint8_t* data, int length)
{
    OutPtr out;
    {
        std::lock_guard<std::mutex> l (m_PortLock);
        out = m_pMidiOut;
    }
    if (out == nullptr)
        return;

    // Commands and data blocks of one size reuse one message object: nothing is
    // allocated per block on the program and read paths.
    auto& slot = length == kDataPacketBytes ? m_pOutMessage
                                            : m_SmallMessages[(size_t) juce::jlimit (0, (int) m_SmallMessages.size() - 1, length)];
    if (length > kSmallMessageMax && length != kDataPacketBytes)
    {
        out->sendMessageNow (juce::MidiMessage (data, length, 0.0));
        return;
    }
    if (slot == nullptr || slot->getRawDataSize() != length)
        slot = std::make_unique<juce::MidiMessage> (data, length, 0.0);
    else
        std::memcpy (const_cast<uint8_t*> (slot->getRawData()), data, (size_t) length);
    out->sendMessageNow (*slot);
}

void Communication::SendCommand (std::initializer_list<uint8_t> body)
{
    int n = 0;
    m_Packet[n++] = 0xF0;
    m_Packet[n++] = 0x00;
    m_Packet[n++] = 0x20;
    m_Packet[n++] = 0x54;
    for (auto b : body)
        m_Packet[n++] = b;
    m_Packet[n++] = 0xF7;
    SendPacket (m_Packet, n);
}

void Communication::SendAddressCommand (uint8_t command, int64_t wordAddress, int trailingByte)
{
    // Every operation has checked its range against the wire's reach before it sends.
    jassert (wordAddress >= 0 && wordAddress < kMaxFlashBytes / 2);
    uint8_t a[4];
    EncodeAddress (a, (int) wordAddress);
    if (trailingByte < 0)
        SendCommand ({ 0x7D, command, a[0], a[1], a[2], a[3] });
    else
        SendCommand ({ 0x7D, command, a[0], a[1], a[2], a[3], (uint8_t) trailingByte });
}

void Communication::EndCutMessage()
{
    // The load-driver command alone has no answer; whatever the module answers to
    // the message its F0 ends comes while the failed operation's answers are ignored.
    std::lock_guard<std::mutex> l (m_OpLock);
    SendCommand ({ 0x7D, 0x03 });
}

bool Communication::BeginTransfer (int64_t byteAddress, int64_t length, bool toFlash)
{
    // m_Source holds the range to send: `length` bytes, to the byte address on the flash or as the driver.
    {
        std::lock_guard<std::mutex> l (m_PortLock);
        if (m_pMidiOut == nullptr)
        {
            SetPendingError (kNoOutDevice);
            return true;
        }
    }
    m_nTransferPos = 0;
    if (m_pListener != nullptr)
        m_pListener->postMessage (new NotifyMessage (kProgressMessage, 2));
    m_nTransferLength = length;

    // The first block is read before anything is sent: a file that cannot deliver it sends nothing.
    if (! FillBlockFromSource())
    {
        SetPendingError (kErrProgramFileUnreadable);
        return true;
    }
    if (toFlash)
        SendAddressCommand (0x02, (m_nTransferPos + byteAddress) / 2, 0x00);
    else
        SendCommand ({ 0x7D, 0x03 });
    m_bSending = true;
    SendDataBlock();
    return false;
}

bool Communication::FillBlockFromSource()
{
    const int n = (int) std::max<int64_t> (0, std::min<int64_t> (kBlockBytes, m_nTransferLength - m_nTransferPos));
    if (n > 0 && ! m_Source.Copy (m_nTransferPos, m_Block, n))
        return false;
    // The part of a last, short block beyond the data is sent as erased flash.
    if (n < kBlockBytes)
        std::memset (m_Block + n, 0xFF, (size_t) (kBlockBytes - n));
    return true;
}

void Communication::SendDataBlock()
{
    uint8_t* p = m_Packet;
    p[0] = 0xF0; p[1] = 0x00; p[2] = 0x20; p[3] = 0x54; p[4] = 0x7D; p[5] = 0x01;
    const int encoded = Encode8to7 (m_Block, kBlockBytes, p + 6);
    p[6 + encoded] = 0xF7;
    SendPacket (p, 7 + encoded);
    m_nIdleTicks = 0;
}

//==============================================================================
void Communication::handleIncomingMidiMessage (MidiInPort* source, const juce::MidiMessage& message)
{
    if (! message.isSysEx())
        return;
    const uint8_t* d = message.getSysExData();
    const int n = message.getSysExDataSize();
    if (n < 6 || d[0] != 0x00 || d[1] != 0x20)
        return;

    if (d[2] == 0x54 && d[3] == 0x7D && d[4] == 0x00)
    {
        m_nIdleTicks = 0;
        {
            std::lock_guard<std::mutex> l (m_OpLock);
            if (! m_bFailed)
                OnStatusReply (d[5]);
        }
        FlushPendingError();
    }
    else if (d[2] == 0x54 && d[3] == 0x7D && d[4] == 0x09)
    {
        OnLoaderIdentity (source, d, n);
    }
    else if (d[2] == 0x54 && d[3] == 0x7D && d[4] == 0x01)
    {
        {
            // Read data counts only while a read waits for it: a late reply
            // neither reaches nor keeps alive whatever operation follows the read.
            std::lock_guard<std::mutex> l (m_OpLock);
            if (! m_bFailed && m_nOp == kOpReading && m_eReadWait != ReadWait::None)
            {
                m_nIdleTicks = 0;
                if (n >= 8)
                    OnReadData (d, n);
            }
        }
        FlushPendingError();
    }
    else if (d[2] == 0x54 && d[3] == 0x05 && d[4] == 0x06 && d[5] == 0x00)
    {
        OnApplicationIdentity();
    }
}

void Communication::OnStatusReply (int status)
{
    if (status != 0)
    {
        // Any other answer ends a transfer in progress through the dispatcher.
        OnStatus (status, m_bSending.exchange (false));
        return;
    }
    if (! m_bSending)
    {
        OnStatus (0);
        return;
    }

    m_nTransferPos += kBlockBytes;
    if (m_nTransferPos < m_nTransferLength)
    {
        // A file is read here, on the MIDI input thread, one piece at a time as the blocks go out.
        // The next block leaves first: the module works on it while the progress is posted.
        if (! FillBlockFromSource())
        {
            SetPendingError (kErrProgramFileUnreadable);
            return;
        }
        SendDataBlock();
        PostProgress (2, m_nTransferPos, m_nTransferLength);
        return;
    }
    PostProgress (2, m_nTransferPos, m_nTransferLength);
    m_bSending = false;
    m_Source.Release();
    if (m_pListener != nullptr)
        m_pListener->postMessage (new NotifyMessage (kProgressMessage, 0));
    OnStatus (0);
}

void Communication::OnStatus (int status, bool afterBlock)
{
    // A data block refused or left unanswered is what bytes lost on the way look like.
    if (status == 2)
    {
        SetPendingError (kErrModuleRefused, afterBlock);
        return;
    }
    if (status == 3)
    {
        m_nIdleTicks = 0;
        if (m_nOp == kOpReading)
            OnReadStatus3();
        else
            SetPendingError (kErrNoAnswer, afterBlock);
        return;
    }

    switch (m_nOp.load())
    {
        case kOpSendDriver:
            Log ("Send driver OK!\n");
            Post (kStepDoneMessage, 0);
            break;
        case kOpCheckFlash:
            OnCheckFlashAnswer (status);
            break;
        case kOpErasing:
            OnEraseAcknowledged();
            break;
        case kOpProgramming:
            Log ("Program finished.\n");
            Post (kStepDoneMessage, 0);
            StopTimerFromAnyThread();
            break;
        default:
            break;
    }
}

//==============================================================================
bool Communication::QuitIfRequested()
{
    if (! g_bQuitRequested)
        return false;
    stopTimer();
    ClosePorts();
    RequestApplicationQuit();
    return true;
}

void Communication::timerCallback()
{
    if (QuitIfRequested())
        return;
    if (g_nSwitchState == 2)
    {
        // The module restarting into its loader is not back yet. It may come
        // back as new ports (a USB device enumerates again): scan at every
        // cycle. Nothing is said while it is away; a module away for as many
        // cycles as a search may last is reported at every further cycle, and
        // the panel ends the wait as a search that timed out.
        stopTimer();
        if (++m_nLoaderWaitCycles > kSearchCycles)
            Post (kNotFoundMessage, kLoaderNotBack);
        ClosePorts();
        FindDevices();
        ProbeLoader();
        return;
    }
    if (g_nJobPhase == 0)
    {
        stopTimer();
        if (m_bFound)
        {
            g_bConnected = true;
            Post (kPresenceMessage, 1);
            if (g_nDeviceFamily == 2)
                ProbeLoader();
            else
                ProbeApplication();
        }
        else
        {
            g_bConnected = false;
            Post (kNotFoundMessage, 0);
            ClosePorts();
            FindDevices();
            if (g_nDeviceFamily == 2)
            {
                g_nDeviceFamily = 1;
                ProbeApplication();
            }
            else
            {
                g_nDeviceFamily = 2;
                ProbeLoader();
            }
        }
        return;
    }

    // The reply watchdog: a time-out at the ninth tick without a reply.
    {
        std::lock_guard<std::mutex> l (m_OpLock);
        if (! m_bFailed && ++m_nIdleTicks > 8)
            OnWatchdog();
    }
    FlushPendingError();
}

void Communication::OnWatchdog()
{
    // Nine ticks without a reply: a time-out, which a read tells apart from the
    // module's own time-out status (the request it re-asks may still be answered).
    m_nIdleTicks = 0;
    if (m_nOp == kOpReading)
        OnReadQuiet();
    else
        SetPendingError (kErrNoAnswer, m_bSending);   // a data block left unanswered: bytes lost on the way
}

//==============================================================================
int Communication::GetSectorCount() const
{
    std::lock_guard<std::mutex> l (m_OpLock);
    return (int) m_pSectors.size();
}

_STR_SECTOR Communication::GetSector (int index) const
{
    std::lock_guard<std::mutex> l (m_OpLock);
    if (! juce::isPositiveAndBelow (index, (int) m_pSectors.size()))
        return { 0, 0 };
    return m_pSectors[(size_t) index];
}

int64_t Communication::GetFlashSize() const
{
    std::lock_guard<std::mutex> l (m_OpLock);
    return FlashSize();
}

int64_t Communication::FlashSize() const
{
    if (m_pSectors.empty())
        return 0;
    const auto& last = m_pSectors.back();
    return (int64_t) last.nStart + last.nSize;
}

bool Communication::IsReadFileOpen() const
{
    std::lock_guard<std::mutex> l (m_OpLock);
    return m_hReadFile != nullptr;
}
