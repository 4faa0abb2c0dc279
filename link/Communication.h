#pragma once
// The device link: finds the module among the MIDI ports, carries every
// command and data block as a SysEx message, parses the replies, supervises
// them with a watchdog and reports to the panel through posted notifications.
#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>
#include <juce_events/juce_events.h>
#include "link/MidiPorts.h"
#include "link/ReplyLedger.h"
#include "link/SysExCodec.h"
#include "link/TransferSource.h"
#include "store/DriverFile.h"
#include "store/shared/Troubles.h"

class CLogger;

/** Operation states: which operation the next status reply belongs to. */
enum LinkOp : int
{
    kOpSendDriver = 0,
    kOpCheckFlash = 1,
    kOpErasing    = 2,
    kOpProgramming = 3,
    kOpReading    = 5
};

class Communication : public MidiInHandler, public juce::Timer
{
public:
    /** Unanswered probe cycles a search may last; the next one times it out (about 64 s). */
    static constexpr int kSearchCycles = 90;
    /** The argument of kNotFoundMessage for a module that restarted into its loader
        and has not answered within the search's cycles. */
    static constexpr int kLoaderNotBack = 1;

    Communication();
    ~Communication() override;

    //==== configuration ======================================================
    /** The log every message goes to (not owned). */
    void SetLogger (CLogger* logger);
    /** The receiver of every notification (not owned). */
    void SetListener (juce::MessageListener* listener);
    /** User values are 16-bit words (true) or bytes (false). */
    void SetWordMode (bool wordMode);
    /** Told of each error box just before the link opens it: its code (0: none) and text. */
    void SetErrorListener (std::function<void (int code, const juce::String& text)> listener) { m_OnError = std::move (listener); }

    //==== ports, probing and presence =========================================
    /** Opens the ports and sends the first loader probe (once, at start-up). */
    void Connect();
    /** Clears the shared update state, reopens the ports and probes again. */
    void Reset();
    /** Scans the MIDI devices and opens every usable port. */
    void FindDevices();
    /** Closes every opened port except the bound pair. */
    void ClosePorts();
    /** Sends the loader probe on every opened output and starts the 700 ms timer. */
    void ProbeLoader();
    /** Sends the application probe on every opened output and starts the 700 ms timer. */
    void ProbeApplication();
    /** Tells a module in application mode to restart into its loader. */
    void RequestUpdateMode();
    /** The name of the output the module answered on; empty while none is bound. */
    juce::String GetBoundOutputName() const;
    /** Whether the module's output has gone: none bound, its last write failed, or
        its port is no longer listed (unplugged). */
    bool IsBoundOutputGone() const;
    /** Ends whatever message the module was taking when bytes were lost (a short
        command: its F0 ends a SysEx cut short). Answers to the lost message
        are ignored until the next operation starts. */
    void EndCutMessage();
    /** Stops the link timer. */
    void StopTimer();
    /** Starts the link timer with the 700 ms probe period. */
    void StartProbeTimer();
    /** Stops the timer and closes every port, the bound pair too: no callback runs afterwards. */
    void Shutdown();
    /** Carries out a close the user asked for, as the timer's tick does (timer
        stopped, ports closed, the application asked to quit); false when none was asked for. */
    bool QuitIfRequested();

    //==== flash operations (true: failed at once, already reported) ==========
    /** Uploads a driver file and builds the sector table from it. */
    bool SendDriver (const wchar_t* path);
    /** Asks the driver whether it finds the flash at a page. */
    void CheckFlash (int page);
    /** Erases the sectors of the range, then programs the file into it. */
    bool EraseAndProgramFile (int page, const juce::String& path, int srcOffset, int flashOffset, int length);
    /** Erases the sectors of a range; never programs. */
    bool EraseRange (int page, int flashOffset, int length);
    /** Programs a file into an already erased range. */
    bool ProgramFile (int page, const juce::String& path, int srcOffset, int flashOffset, int length);
    /** Programs zero bytes. */
    bool ProgramZeroBlock (int page, int srcOffset, int flashOffset, int length);
    /** Reads a flash range into a file. */
    bool ReadToFile (const juce::String& path, int page, int flashOffset, int length);
    /** Compares the written file from a byte offset with the read-back file. */
    bool CompareFiles (const juce::String& writtenPath, int srcOffset, const juce::String& readPath);

    /** What a checked range is expected to hold ("only what changed"). */
    enum CheckFill : int
    {
        kFillFile   = 0,   ///< the file's bytes from the source offset, 0xFF where the file has ended
        kFillZeros  = 1,   ///< zero bytes (a zero block)
        kFillErased = 2    ///< 0xFF (erased, nothing programmed there)
    };
    /** The argument of kStepDoneMessage when a checked range already holds what it is to hold. */
    static constexpr int kDoneInPlace = 2;
    /** The argument of kStepDoneMessage, with "auto" pacing, when the step failed as bytes
        lost on the way do: no answer to a data block, or a refusal of one. The third
        parameter carries the error code; the panel steps the pace down and runs the
        step's group again, or shows the error as the link would have. */
    static constexpr int kLostBytes = 3;
    /** Reads a range before it is written and compares it, block by block, with what the
        workflow would leave there; stops at the first differing block. Ends with
        kStepDoneMessage (kDoneInPlace) when the range is in place, (0) when it differs. */
    bool CheckRange (int page, const juce::String& path, int srcOffset, int flashOffset, int length, int fill);

    //==== MIDI input and timer ===============================================
    /** The receive parser (MIDI input thread). */
    void handleIncomingMidiMessage (MidiInPort* source, const juce::MidiMessage& message) override;
    /** A damaged or oversized SysEx an input dropped: one line in the log (MIDI input thread). */
    void handleDroppedSysEx (MidiInPort* source, bool oversized) override;
    /** Probe cycle, quit path and reply watchdog (message thread). */
    void timerCallback() override;

    //==== inspection (tests, benchmarks) =====================================
    /** Entries of the sector table. */
    int GetSectorCount() const;
    /** One entry of the sector table (start and size in bytes). */
    _STR_SECTOR GetSector (int index) const;
    /** Flash size described by the last driver, in bytes. */
    int64_t GetFlashSize() const;
    /** FS flag of the last loader identity reply. */
    bool IsFS() const { return m_bFS.load(); }
    /** A module answered the probe cycle in progress. */
    bool IsFound() const { return m_bFound.load(); }
    /** Current operation state. */
    int GetOp() const { return m_nOp.load(); }
    /** Whether an input and an output are bound. */
    bool HasBoundPair() const;
    /** Number of opened (non-null) input and output entries. */
    int CountOpenPorts() const;
    /** Watchdog ticks since the last reply, command or block that has left. */
    int GetIdleTicks() const { return m_nIdleTicks.load(); }
    /** Failed compares in a row. */
    int GetCompareRetries() const { return m_nCompareRetries.load(); }
    /** Byte of the written file where the last compare found its first difference; -1 for none. */
    int64_t GetFirstDifference() const { return m_nFirstDifference.load(); }
    /** Word or byte mode. */
    bool IsWordMode() const { return m_bWordMode.load(); }
    /** A read output file is open. */
    bool IsReadFileOpen() const;

private:
    using InPtr = std::shared_ptr<MidiInPort>;
    using OutPtr = std::shared_ptr<MidiOutPort>;

    class ErrorRelay;
    class OutputNotes;

    // notifications and errors
    void Post (int code, int argument = 0, int third = 0);
    void PostProgress (int kind, int64_t done, int64_t total);
    void Log (const char* text);
    void SetPendingError (ErrorCode code, bool lostBytes = false);
    void FlushPendingError();
    void ShowError (ErrorCode code, bool lostBytes = false);
    void StopTimerFromAnyThread();

    // wire
    int64_t ToBytes (int value) const;
    static int64_t PageBase (int page);
    static bool FitsWireAddress (int64_t byteStart, int64_t byteLength);
    void SendPacket (const uint8_t* data, int length);
    void SendCommand (std::initializer_list<uint8_t> body);
    void SendAddressCommand (uint8_t command, int64_t wordAddress, int trailingByte);
    bool BeginTransfer (int64_t byteAddress, int64_t length, bool toFlash);
    void SendDataBlock();
    bool FillBlockFromSource();
    /** The status dispatcher; `afterBlock`: a data block was waiting for its answer. */
    void OnStatus (int status, bool afterBlock = false);
    void OnStatusReply (int status);
    void OnWatchdog();
    void OnReadData (const uint8_t* data, int size);

    // ports
    void ProbeAll (const uint8_t* body, int bodyLength, bool withIndex);
    void OnLoaderIdentity (MidiInPort* source, const uint8_t* data, int size);
    void OnApplicationIdentity();
    void ReleasePorts (std::vector<InPtr>& inputs, std::vector<OutPtr>& outputs);

    // flash operations
    void StartOperation (int op);
    void StoreRange (int page, int srcOffset, int flashOffset, int length);
    void PlanErase();
    bool EraseNextSector();
    void OnEraseAcknowledged();
    void StartProgramming();
    void OnCheckFlashAnswer (int status);
    void StartReading();
    void RequestBlock (int64_t byteAddress);
    void OnReadBlock (bool damaged);
    void OnReadTimeout();
    void OnReadQuiet();
    void OnReadStatus3();
    void OnLateReply();
    void OnStrayReply();
    void AskNext();
    void Settle (bool thenFinish, bool quietOnly = false);
    void EndSettle();
    void EndRead();
    void FinishRead();
    void EndRetryLine();
    void OnCheckBlock();
    bool CloseReadFile();
    bool RefuseRead (const juce::String& why);
    bool EndCompare (ErrorCode errorCode);
    int64_t FlashSize() const;

    //==== state (declaration order as the link keeps it) =====================
    std::atomic<int> m_nCompareRetries { 0 };
    std::atomic<int64_t> m_nFirstDifference { -1 };
    std::atomic<bool> m_bFS { false };
    juce::MessageListener* m_pListener = nullptr;
    CLogger* m_pLogger = nullptr;

    mutable std::mutex m_PortLock;            // guards the port arrays and the bound pair
    InPtr m_pMidiIn;
    OutPtr m_pMidiOut;
    std::vector<InPtr> m_ppInputs;
    std::vector<OutPtr> m_ppOutputs;
    bool m_bArrays = false;                    // the discovery arrays exist
    std::vector<InPtr> m_RetiredInputs;        // bound ports replaced on the MIDI thread, released later
    std::vector<OutPtr> m_RetiredOutputs;
    std::vector<std::pair<const MidiInPort*, juce::String>> m_InputNames;   // the last scan's inputs, for the log
    std::vector<MidiPortInfo> m_OutputInfos;   // the last scan's outputs, as m_ppOutputs
    MidiPortInfo m_BoundOutInfo;               // the bound output's port

    mutable std::mutex m_OpLock;               // guards the operation state below
    std::vector<_STR_SECTOR> m_pSectors;
    uint8_t m_Block[kBlockBytes + kTrailerBytes] {};
    uint8_t m_Packet[8192] {};
    CTransferSource m_Source;                  // what the transfer in progress sends (the image is read from disk)
    std::vector<uint8_t> m_pDriver;
    std::atomic<int> m_nInputs { 0 }, m_nOutputs { 0 };
    int m_nDriverSize = 0;
    int64_t m_nImageSize = 0;                  // bytes of the file to program, measured when its step starts
    int m_nPage = 0;
    int64_t m_nFlashOffset = 0;
    int64_t m_nLength = 0;
    int64_t m_nSrcOffset = 0;
    int64_t m_nStartAddr = 0;
    std::atomic<bool> m_bWordMode { true };
    std::atomic<int> m_nOp { kOpSendDriver };
    int64_t m_nProgramLength = 0;
    int m_nFirstSector = 0, m_nEndSector = 0, m_nNextSector = 0;
    std::atomic<int> m_nIdleTicks { 0 };
    int64_t m_nTransferLength = 0, m_nTransferPos = 0;
    std::atomic<bool> m_bSending { false };
    std::atomic<bool> m_bFound { false };
    std::FILE* m_hReadFile = nullptr;
    static constexpr int64_t kCompareChunk = 1 << 18;
    std::mutex m_CompareLock;                  // guards m_pCompareChunks: one compare at a time uses them
    std::unique_ptr<uint8_t[]> m_pCompareChunks;   // a chunk of each file, kept from one compare to the next
    int m_nBlockFill = 0;
    bool m_bBlockOverflow = false;
    int m_nReadRetries = 0;
    bool m_bChecking = false;                  // the read in progress is a check: compared, not stored
    std::vector<uint8_t> m_Expected;           // what the checked range is to hold

    // What a read waits for. A read reply carries no address, so a reply that
    // comes after its block was asked for again must never count for another block.
    enum class ReadWait : int
    {
        None,     ///< no read runs: read data is dropped
        Reply,    ///< the reply to the block asked for
        Settle,   ///< replies still owed by requests that timed out, before anything else is asked
        Guard     ///< one quiet period at the end of a read a late reply could have reached
    };
    ReadWait m_eReadWait = ReadWait::None;
    CReplyLedger m_Replies;                    // read requests and their answers
    bool m_bSettleThenFinish = false;          // the settle ends the read (else it asks for m_nTransferPos)
    bool m_bSettleQuietOnly = false;           // the settle ends only after a quiet period
    bool m_bBlockFramed = true;                // the block in assembly came as one reply: each chunk announced the next, the last ended it
    bool m_bRetryLine = false;                 // the log's line of retries is open
    int64_t m_nUnsureFrom = -1;                // first position of this read taken while a given-up reply could come
    int m_nVoids = 0;                          // stray replies this read met: it ends unanswered past a bound
    bool m_bCheckDiffers = false;              // the check found a difference
    bool m_bCheckVoid = false;                 // the check was reached by a late reply: taken as differing

    // additions of this implementation
    std::atomic<bool> m_bFailed { false };     // the running operation failed: its replies are ignored
    std::atomic<int> m_nLoaderWaitCycles { 0 }; // unanswered cycles since the module was told to restart
    bool m_bEraseOnlyStep = false;             // the erase ends its step (no programming follows)
    int m_nPendingError = 0;                   // error found under the lock, reported after it
    bool m_bPendingLoss = false;               // it came as lost bytes do (see kLostBytes)
    std::unique_ptr<ErrorRelay> m_pErrorRelay;
    std::function<void (int, const juce::String&)> m_OnError;   // message thread only
    static constexpr int kSmallMessageMax = 16;
    std::unique_ptr<juce::MidiMessage> m_pOutMessage;   // reused for the data blocks
    std::array<std::unique_ptr<juce::MidiMessage>, kSmallMessageMax + 1> m_SmallMessages;   // reused commands, by length
};
