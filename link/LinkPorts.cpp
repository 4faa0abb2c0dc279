// Port discovery, the two probes, binding by the loader identity reply and
// the update-mode switch.
#include "link/Communication.h"
#include "store/shared/ProgramGlobals.h"
#include "store/shared/Notifications.h"
#include "store/RunLog.h"

namespace
{
    constexpr int kIndexedOutputs = 128;   // the loader probe names its output in one 7-bit byte
}

/** Hears how the messages of one output end: a block that has left, and each
    piece of a paced one, restarts the watchdog's count, so that it counts from
    the last piece; a failed write and a writer left behind are logged. */
class Communication::OutputNotes : public MidiOutObserver
{
public:
    OutputNotes (Communication& l, juce::String n) : link (l), name (std::move (n)) {}

    void written (bool ok) override
    {
        if (ok)
            link.m_nIdleTicks = 0;
        else if (! failureTold.exchange (true))
            link.Log (("MIDI: a message could not be written to " + name + "; nothing more goes out on it until the ports are scanned again\n").toRawUTF8());
    }

    bool pieceWritten() override
    {
        link.m_nIdleTicks = 0;
        return true;
    }

    void leftBehind() override
    {
        link.Log (("MIDI: " + name + " was closed while a write to it was still under way; the write is left to end on its own\n").toRawUTF8());
    }

private:
    Communication& link;
    const juce::String name;
    std::atomic<bool> failureTold { false };
};

void Communication::Connect()
{
    FindDevices();
    ProbeLoader();
}

void Communication::Reset()
{
    g_bFullImage = false;
    g_nJobPhase = 0;
    g_nSwitchState = 0;
    g_strMCUName = "123";
    g_bConnected = false;
    g_nDeviceFamily = 0;
    ClosePorts();
    FindDevices();
    ProbeLoader();
}

void Communication::ReleasePorts (std::vector<InPtr>& inputs, std::vector<OutPtr>& outputs)
{
    // Never called with a lock held: stopping an input waits for its callback.
    for (auto& in : inputs)
        if (in != nullptr)
            in->stop();
    inputs.clear();
    outputs.clear();
}

void Communication::FindDevices()
{
    auto& source = GetMidiPortSource();
    // One listing: the names tested and the ports opened are the same entries,
    // even when devices come and go meanwhile (a module restarting into its loader).
    const auto ports = source.listPorts();
    RunLog::RecordPorts (NamesOf (ports.inputs), NamesOf (ports.outputs));
    const auto notice = source.takeNotice();
    if (notice.isNotEmpty())
        Log ((notice.trimEnd() + "\n").toRawUTF8());

    std::vector<InPtr> oldInputs;
    std::vector<OutPtr> oldOutputs;
    {
        std::lock_guard<std::mutex> l (m_PortLock);
        oldInputs.swap (m_ppInputs);
        oldOutputs.swap (m_ppOutputs);
        oldInputs.push_back (std::move (m_pMidiIn));
        oldOutputs.push_back (std::move (m_pMidiOut));
        for (auto& r : m_RetiredInputs)  oldInputs.push_back (std::move (r));
        for (auto& r : m_RetiredOutputs) oldOutputs.push_back (std::move (r));
        m_RetiredInputs.clear();
        m_RetiredOutputs.clear();
        m_bArrays = false;
        m_nInputs = (int) ports.inputs.size();
        m_nOutputs = (int) ports.outputs.size();
    }
    ReleasePorts (oldInputs, oldOutputs);

    std::vector<InPtr> inputs (ports.inputs.size());
    std::vector<OutPtr> outputs (ports.outputs.size());
    for (size_t i = 0; i < ports.inputs.size(); ++i)
    {
        const auto& port = ports.inputs[i];
        if (IsSkippedSoundCardPort (port))
            continue;
        if (auto first = source.openInput (port, this))
        {
            first->start();
            first->stop();
            first.reset();
            if (auto again = source.openInput (port, this))
            {
                again->start();
                inputs[i] = std::move (again);
            }
        }
    }
    for (size_t i = 0; i < ports.outputs.size(); ++i)
    {
        const auto& port = ports.outputs[i];
        if (IsSkippedSoundCardPort (port))
            continue;
        outputs[i] = source.openOutput (port);
        if (outputs[i] != nullptr)
            outputs[i]->setObserver (std::make_shared<OutputNotes> (*this, port.name));
    }
    // Said once the ports are open: the source tells which ones were busy.
    const auto opening = source.takeNotice();
    if (opening.isNotEmpty())
        Log ((opening.trimEnd() + "\n").toRawUTF8());

    std::lock_guard<std::mutex> l (m_PortLock);
    m_OutputInfos = ports.outputs;
    m_InputNames.clear();
    for (size_t i = 0; i < inputs.size(); ++i)
        if (inputs[i] != nullptr)
            m_InputNames.emplace_back (inputs[i].get(), ports.inputs[i].name);
    m_ppInputs = std::move (inputs);
    m_ppOutputs = std::move (outputs);
    m_bArrays = true;
}

void Communication::ClosePorts()
{
    if (! g_bPortsOpen.exchange (false))
        return;

    std::vector<InPtr> inputs;
    std::vector<OutPtr> outputs;
    {
        std::lock_guard<std::mutex> l (m_PortLock);
        for (auto& in : m_ppInputs)
            if (in != nullptr && in != m_pMidiIn)
                inputs.push_back (std::move (in));
        for (auto& out : m_ppOutputs)
            if (out != nullptr && out != m_pMidiOut)
                outputs.push_back (std::move (out));
        m_ppInputs.clear();
        m_ppOutputs.clear();
        m_OutputInfos.clear();
        m_bArrays = false;
    }
    for (auto& out : outputs)
        out->reset();
    ReleasePorts (inputs, outputs);
}

void Communication::ProbeAll (const uint8_t* body, int bodyLength, bool withIndex)
{
    std::vector<OutPtr> outputs;
    {
        std::lock_guard<std::mutex> l (m_PortLock);
        if (! m_bArrays)
            return;
        outputs = m_ppOutputs;
    }

    uint8_t packet[16];
    for (size_t i = 0; i < outputs.size(); ++i)
    {
        if (! g_bPortsOpen)
            break;
        if (outputs[i] == nullptr)
            continue;
        if (withIndex && i >= (size_t) kIndexedOutputs)
            break;
        int n = 0;
        packet[n++] = 0xF0; packet[n++] = 0x00; packet[n++] = 0x20; packet[n++] = 0x54;
        for (int b = 0; b < bodyLength; ++b)
            packet[n++] = body[b];
        if (withIndex)
        {
            packet[n++] = (uint8_t) i;
            packet[n++] = 0x01;
        }
        packet[n++] = 0xF7;
        outputs[i]->sendMessageNow (juce::MidiMessage (packet, n, 0.0));
    }
}

void Communication::ProbeLoader()
{
    m_bFound = false;
    g_bPortsOpen = true;
    static const uint8_t body[] = { 0x7D, 0x08 };
    ProbeAll (body, 2, true);
    startTimer (700);
}

void Communication::ProbeApplication()
{
    m_bFound = false;
    g_bPortsOpen = true;
    static const uint8_t body[] = { 0x05, 0x06 };
    ProbeAll (body, 2, false);
    startTimer (700);
}

void Communication::RequestUpdateMode()
{
    std::vector<OutPtr> outputs;
    {
        std::lock_guard<std::mutex> l (m_PortLock);
        outputs = m_ppOutputs;
    }
    static const uint8_t packet[] = { 0xF0, 0x00, 0x20, 0x54, 0x05, 0x08, 0x03, 0xF7 };
    for (auto& out : outputs)
        if (out != nullptr)
            out->sendMessageNow (juce::MidiMessage (packet, (int) sizeof (packet), 0.0));
}

void Communication::OnLoaderIdentity (MidiInPort* source, const uint8_t* d, int n)
{
    if (! g_bPortsOpen)
        return;

    bool connected = false, switched = false, twoDevices = false;
    {
        std::lock_guard<std::mutex> l (m_PortLock);
        const int i = d[5];
        OutPtr candidate;
        if (i < (int) m_ppOutputs.size())
        {
            candidate = m_ppOutputs[(size_t) i];
            m_bFS = (n >= 7 && d[6] == 1);
        }
        InPtr delivering;
        for (auto& in : m_ppInputs)
            if (in != nullptr && in.get() == source)
                delivering = in;
        if (delivering == nullptr || candidate == nullptr)
            return;

        if (m_bFound)
        {
            twoDevices = true;
        }
        else
        {
            // A bound port that is not among the opened ones is released later, on the message thread.
            if (m_pMidiIn != nullptr && m_pMidiIn != delivering)
                m_RetiredInputs.push_back (std::move (m_pMidiIn));
            if (m_pMidiOut != nullptr && m_pMidiOut != candidate)
                m_RetiredOutputs.push_back (std::move (m_pMidiOut));
            m_pMidiIn = delivering;
            m_pMidiOut = candidate;
            m_BoundOutInfo = i < (int) m_OutputInfos.size() ? m_OutputInfos[(size_t) i] : MidiPortInfo {};
            m_bFound = true;
            // Still awaited in application mode, the module restarted meanwhile:
            // it is already where the switch would have brought it.
            uint8_t waiting = 1;
            if (g_nSwitchState.compare_exchange_strong (waiting, 2))
                g_nJobPhase = 1;
            uint8_t expected = 2;
            if (g_nSwitchState.compare_exchange_strong (expected, 0))
                switched = true;
            else
                connected = true;
        }
    }

    if (twoDevices)
        Post (kTwoDevicesMessage, 0);
    else if (switched)
        Post (kModeSwitchMessage, 1);
    else if (connected)
        Post (kConnectedMessage, m_bFS ? 1 : 0);
}

void Communication::OnApplicationIdentity()
{
    if (m_bFound || ! g_bPortsOpen)
        return;
    if (m_bFound.exchange (true))
        return;
    uint8_t expected = 1;
    if (g_nSwitchState.compare_exchange_strong (expected, 2))
    {
        m_nLoaderWaitCycles = 0;
        g_nJobPhase = 1;
        Post (kModeSwitchMessage, 0);
    }
    else
    {
        Post (kConnectedMessage, m_bFS ? 1 : 0);
    }
}

void Communication::handleDroppedSysEx (MidiInPort* source, bool oversized)
{
    juce::String name ("a MIDI input");
    {
        std::lock_guard<std::mutex> l (m_PortLock);
        for (auto& [port, portName] : m_InputNames)
            if (port == source)
                name = portName;
    }
    Log (("MIDI: a SysEx message from " + name + " was dropped: "
          + (oversized ? "longer than an input keeps" : "damaged, cut short by a status byte") + "\n").toRawUTF8());
}

juce::String Communication::GetBoundOutputName() const
{
    std::lock_guard<std::mutex> l (m_PortLock);
    return m_pMidiOut != nullptr ? m_BoundOutInfo.name : juce::String();
}

bool Communication::IsBoundOutputGone() const
{
    MidiPortInfo bound;
    {
        std::lock_guard<std::mutex> l (m_PortLock);
        if (m_pMidiOut == nullptr || m_pMidiOut->hasFailed())
            return true;
        bound = m_BoundOutInfo;
    }
    // Listed by its identifier, which never names another port that took its place.
    for (const auto& port : GetMidiPortSource().listPorts().outputs)
        if (port.identifier == bound.identifier)
            return false;
    return true;
}

bool Communication::HasBoundPair() const
{
    std::lock_guard<std::mutex> l (m_PortLock);
    return m_pMidiIn != nullptr && m_pMidiOut != nullptr;
}

int Communication::CountOpenPorts() const
{
    std::lock_guard<std::mutex> l (m_PortLock);
    int n = 0;
    for (auto& in : m_ppInputs)
        n += in != nullptr ? 1 : 0;
    for (auto& out : m_ppOutputs)
        n += out != nullptr ? 1 : 0;
    return n;
}
