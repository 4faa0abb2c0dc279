#include "sim/LossyPorts.h"
#include <mutex>
#include <vector>
#include "link/MidiStreamAssembler.h"
#include "link/SysExPace.h"
#include "sim/OverrunBuffer.h"

namespace
{
    constexpr int kWireBytesPerSecond = 3125;

    class LossyOutPort : public MidiOutPort
    {
    public:
        LossyOutPort (std::unique_ptr<MidiOutPort> inner, size_t bufferBytes)
            : m_pInner (std::move (inner)), m_Buffer (bufferBytes, kWireBytesPerSecond) {}

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            const std::lock_guard<std::mutex> l (m_Lock);
            std::vector<uint8_t> wire;
            SysExPieces pieces;
            pieces.send = [&] (const uint8_t* bytes, size_t size) { m_Buffer.Advance (m_Now, bytes, size, wire); return true; };
            pieces.wait = [&] (std::chrono::milliseconds gap) { m_Now += gap; };
            const auto* bytes = message.getRawData();
            const auto size = (size_t) message.getRawDataSize();
            if (message.isSysEx())
                SendSysExInPieces (bytes, size, CurrentSysExPace(), pieces);
            else
                pieces.send (bytes, size);
            while (m_Buffer.NextLeaves() != OverrunBuffer::Clock::time_point::max())
            {
                m_Now = m_Buffer.NextLeaves();
                m_Buffer.Advance (m_Now, nullptr, 0, wire);
            }
            m_Assembler.Feed (wire.data(), wire.size(), [this] (const uint8_t* b, int n)
                              { m_pInner->sendMessageNow (juce::MidiMessage (b, n, 0.0)); });
        }

        void reset() override { m_pInner->reset(); }
        bool hasFailed() const override { return m_pInner->hasFailed(); }
        void setObserver (std::shared_ptr<MidiOutObserver> observer) override { m_pInner->setObserver (std::move (observer)); }

    private:
        std::mutex m_Lock;   // the link sends from the message thread and the MIDI input thread
        std::unique_ptr<MidiOutPort> m_pInner;
        OverrunBuffer m_Buffer;
        OverrunBuffer::Clock::time_point m_Now {};
        MidiStreamAssembler m_Assembler;
    };

    class LossySource : public MidiPortSource
    {
    public:
        LossySource (std::shared_ptr<MidiPortSource> inner, size_t bufferBytes)
            : m_pInner (std::move (inner)), m_nBuffer (bufferBytes) {}

        MidiPortList listPorts() override { return m_pInner->listPorts(); }
        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& port, MidiInHandler* handler) override
        {
            return m_pInner->openInput (port, handler);
        }
        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& port) override
        {
            auto out = m_pInner->openOutput (port);
            return out == nullptr ? nullptr : std::make_unique<LossyOutPort> (std::move (out), m_nBuffer);
        }
        juce::String takeNotice() override { return m_pInner->takeNotice(); }

    private:
        std::shared_ptr<MidiPortSource> m_pInner;
        const size_t m_nBuffer;
    };
}

std::shared_ptr<MidiPortSource> BehindLossyInterface (std::shared_ptr<MidiPortSource> inner, size_t bufferBytes)
{
    return std::make_shared<LossySource> (std::move (inner), bufferBytes);
}
