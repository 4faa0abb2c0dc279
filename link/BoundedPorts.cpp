#include "link/BoundedPorts.h"
#include <atomic>
#include <mutex>
#include <thread>

namespace
{
    std::string KeyOf (const MidiPortInfo& port, bool input)
    {
        return (input ? "in " : "out ") + port.identifier.toStdString();
    }

    void NoteHung (const MidiPortInfo& port, const char* what, std::chrono::milliseconds bound)
    {
        AddDriverNotice ("MIDI port \"" + port.name + "\": its driver did not return from " + what + " within "
                         + juce::String ((int) bound.count()) + " ms; the port is left out until it does.");
    }

    /** Destroys a port by a bounded call; one whose device is hung already goes to a worker of its own. */
    template <typename Port>
    void CloseWithin (const MidiPortInfo& info, const std::string& key, std::chrono::milliseconds bound,
                      std::shared_ptr<Port> port, std::shared_ptr<void> keepAlive)
    {
        if (port == nullptr)
            return;
        if (DeviceHung (key))
        {
            std::thread ([port = std::move (port), keepAlive = std::move (keepAlive)]() mutable { port.reset(); }).detach();
            return;
        }
        if (! CallWithin (key, bound, [port = std::move (port), keepAlive = std::move (keepAlive)]() mutable { port.reset(); }))
            NoteHung (info, "closing", bound);
    }

    /** Hands the messages of the driver's input on while the port is started. */
    class Forwarder : public MidiInHandler
    {
    public:
        explicit Forwarder (MidiInHandler* handler) : m_pHandler (handler) {}

        void SetOuter (MidiInPort* outer) { m_pOuter = outer; }

        void handleIncomingMidiMessage (MidiInPort*, const juce::MidiMessage& message) override
        {
            const std::lock_guard<std::mutex> l (m_Lock);
            if (m_bOpen)
                Deliver ([&] { m_pHandler->handleIncomingMidiMessage (m_pOuter, message); });
        }

        void handleDroppedSysEx (MidiInPort*, bool oversized) override
        {
            const std::lock_guard<std::mutex> l (m_Lock);
            if (m_bOpen)
                Deliver ([&] { m_pHandler->handleDroppedSysEx (m_pOuter, oversized); });
        }

        void Open()
        {
            const std::lock_guard<std::mutex> l (m_Lock);
            m_bOpen = true;
        }

        /** Ends the deliveries: once it returns, the handler is not called
            (a delivery under way ends first, unless this is its own thread). */
        void Close()
        {
            if (m_Delivering.load() == std::this_thread::get_id())
            {
                m_bOpen = false;   // inside the handler: the lock is this thread's
                return;
            }
            const std::lock_guard<std::mutex> l (m_Lock);
            m_bOpen = false;
        }

    private:
        template <typename F>
        void Deliver (F&& f)
        {
            m_Delivering = std::this_thread::get_id();
            f();
            m_Delivering = std::thread::id();
        }

        std::mutex m_Lock;                              // held while the handler is called
        MidiInHandler* const m_pHandler;
        MidiInPort* m_pOuter = nullptr;                 // set before the input starts
        bool m_bOpen = false;                           // under m_Lock
        std::atomic<std::thread::id> m_Delivering {};   // the thread in the handler now
    };

    class BoundedIn : public MidiInPort
    {
    public:
        BoundedIn (MidiPortInfo info, std::chrono::milliseconds bound, std::shared_ptr<MidiInPort> inner, std::shared_ptr<Forwarder> forwarder)
            : m_Info (std::move (info)), m_strKey (KeyOf (m_Info, true)), m_Bound (bound),
              m_pInner (std::move (inner)), m_pForwarder (std::move (forwarder))
        {
            m_pForwarder->SetOuter (this);
        }

        ~BoundedIn() override
        {
            m_pForwarder->Close();
            CloseWithin (m_Info, m_strKey, m_Bound, std::move (m_pInner), std::move (m_pForwarder));
        }

        void start() override
        {
            m_pForwarder->Open();
            auto in = m_pInner;
            if (! CallWithin (m_strKey, m_Bound, [in] { in->start(); }) && ! m_bNoted)
            {
                m_bNoted = true;
                NoteHung (m_Info, "starting", m_Bound);
            }
        }

        void stop() override
        {
            m_pForwarder->Close();
            auto in = m_pInner;
            if (! CallWithin (m_strKey, m_Bound, [in] { in->stop(); }) && ! m_bNoted)
            {
                m_bNoted = true;
                NoteHung (m_Info, "stopping", m_Bound);
            }
        }

    private:
        const MidiPortInfo m_Info;
        const std::string m_strKey;
        const std::chrono::milliseconds m_Bound;
        std::shared_ptr<MidiInPort> m_pInner;
        std::shared_ptr<Forwarder> m_pForwarder;
        bool m_bNoted = false;
    };

    class BoundedOut : public MidiOutPort
    {
    public:
        BoundedOut (MidiPortInfo info, std::chrono::milliseconds bound, std::shared_ptr<MidiOutPort> inner)
            : m_Info (std::move (info)), m_Bound (bound), m_pInner (std::move (inner))
        {
        }

        ~BoundedOut() override
        {
            CloseWithin (m_Info, KeyOf (m_Info, false), m_Bound, std::move (m_pInner), nullptr);
        }

        void sendMessageNow (const juce::MidiMessage& message) override { m_pInner->sendMessageNow (message); }
        void reset() override { m_pInner->reset(); }
        bool hasFailed() const override { return m_pInner->hasFailed(); }
        void setObserver (std::shared_ptr<MidiOutObserver> observer) override { m_pInner->setObserver (std::move (observer)); }

    private:
        const MidiPortInfo m_Info;
        const std::chrono::milliseconds m_Bound;
        std::shared_ptr<MidiOutPort> m_pInner;
    };

    class BoundedSource : public MidiPortSource
    {
    public:
        BoundedSource (std::shared_ptr<MidiPortSource> inner, std::chrono::milliseconds bound)
            : m_pInner (std::move (inner)), m_Bound (bound)
        {
        }

        MidiPortList listPorts() override { return m_pInner->listPorts(); }

        std::unique_ptr<MidiInPort> openInput (const MidiPortInfo& port, MidiInHandler* handler) override
        {
            const auto key = KeyOf (port, true);
            if (DeviceHung (key))
                return nullptr;
            auto forwarder = std::make_shared<Forwarder> (handler);
            auto source = m_pInner;
            auto opened = CallWithinFor<std::shared_ptr<MidiInPort>> (
                key, m_Bound, [source, port, forwarder] { return std::shared_ptr<MidiInPort> (source->openInput (port, forwarder.get())); },
                [forwarder] (std::shared_ptr<MidiInPort>& late) { late.reset(); });
            if (! opened)
                NoteHung (port, "opening", m_Bound);
            if (! opened || *opened == nullptr)
                return nullptr;
            return std::make_unique<BoundedIn> (port, m_Bound, std::move (*opened), std::move (forwarder));
        }

        std::unique_ptr<MidiOutPort> openOutput (const MidiPortInfo& port) override
        {
            const auto key = KeyOf (port, false);
            if (DeviceHung (key))
                return nullptr;
            auto source = m_pInner;
            auto opened = CallWithinFor<std::shared_ptr<MidiOutPort>> (
                key, m_Bound, [source, port] { return std::shared_ptr<MidiOutPort> (source->openOutput (port)); },
                [] (std::shared_ptr<MidiOutPort>& late) { late.reset(); });
            if (! opened)
                NoteHung (port, "opening", m_Bound);
            if (! opened || *opened == nullptr)
                return nullptr;
            return std::make_unique<BoundedOut> (port, m_Bound, std::move (*opened));
        }

        juce::String takeNotice() override
        {
            juce::StringArray lines;
            lines.add (m_pInner->takeNotice().trimEnd());
            lines.add (TakeDriverNotices());
            lines.removeEmptyStrings();
            return lines.joinIntoString ("\n");
        }

        juce::String describeRoute (const MidiPortInfo& port, bool input) override { return m_pInner->describeRoute (port, input); }

    private:
        std::shared_ptr<MidiPortSource> m_pInner;
        const std::chrono::milliseconds m_Bound;
    };
}

std::shared_ptr<MidiPortSource> WithBoundedCalls (std::shared_ptr<MidiPortSource> inner, std::chrono::milliseconds bound)
{
    return std::make_shared<BoundedSource> (std::move (inner), bound);
}
