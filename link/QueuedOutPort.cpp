#include "link/QueuedOutPort.h"
#include <atomic>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace
{
    std::atomic<int> abandoned { 0 };

    /** What the writer thread and the port share; the thread keeps it alive
        when it is left behind. */
    struct Shared
    {
        std::unique_ptr<MidiOutPort> port;
        std::mutex lock;
        std::condition_variable wake;       // work, a reset or the close
        std::condition_variable finished;   // the thread is about to end
        std::deque<juce::MidiMessage> queue;
        std::shared_ptr<MidiOutObserver> observer;   // told of each write's end; dropped when left behind
        std::atomic<bool> failed { false };
        bool resetAsked = false;
        bool closing = false;
        bool done = false;
        bool leftBehind = false;
    };

    /** What the device's own output tells of the pieces of a message, passed
        on to the observer; a reset or the close drops the rest of the message. */
    class PieceRelay : public MidiOutObserver
    {
    public:
        explicit PieceRelay (Shared& s) : shared (s) {}
        void written (bool) override {}
        void leftBehind() override {}
        bool pieceWritten() override
        {
            const std::lock_guard<std::mutex> l (shared.lock);
            if (shared.closing || shared.resetAsked)
                return false;
            return shared.observer == nullptr || shared.observer->pieceWritten();
        }

    private:
        Shared& shared;   // outlives the device's output, which holds this relay
    };

    void Write (const std::shared_ptr<Shared>& s)
    {
        std::unique_lock<std::mutex> l (s->lock);
        for (;;)
        {
            s->wake.wait (l, [&] { return s->closing || s->resetAsked || ! s->queue.empty(); });
            if (s->resetAsked)
            {
                s->resetAsked = false;
                l.unlock();
                s->port->reset();
                l.lock();
                continue;
            }
            if (s->queue.empty())
                break;   // closing, and everything has gone out
            auto message = std::move (s->queue.front());
            s->queue.pop_front();
            l.unlock();
            s->port->sendMessageNow (message);   // may block for as long as the device takes
            const bool ok = ! s->port->hasFailed();
            s->failed = ! ok;
            l.lock();
            // Told under the lock: a close that leaves the thread behind takes the observer first.
            if (s->observer != nullptr)
                s->observer->written (ok);
        }
        l.unlock();
        s->port.reset();   // the device is closed here too: closing may wait for it as well
        l.lock();
        s->done = true;
        const bool wasLeftBehind = s->leftBehind;
        l.unlock();
        s->finished.notify_all();
        if (wasLeftBehind)
            --abandoned;
    }

    class QueuedOutPort : public MidiOutPort
    {
    public:
        QueuedOutPort (std::unique_ptr<MidiOutPort> port, std::chrono::milliseconds bound)
            : shared (std::make_shared<Shared>()), closeBound (bound)
        {
            shared->port = std::move (port);
            shared->port->setObserver (std::make_shared<PieceRelay> (*shared));
            writer = std::thread ([s = shared] { Write (s); });
        }

        ~QueuedOutPort() override
        {
            std::unique_lock<std::mutex> l (shared->lock);
            shared->closing = true;
            shared->wake.notify_all();
            const bool ended = shared->finished.wait_for (l, closeBound, [this] { return shared->done; });
            if (! ended)
            {
                // The write in progress (or the device's close) never ended: leave it
                // to the thread, which closes the device once it does. What is still
                // queued is dropped.
                shared->queue.clear();
                shared->leftBehind = true;
                ++abandoned;
                auto observer = std::move (shared->observer);
                l.unlock();
                writer.detach();
                if (observer != nullptr)
                    observer->leftBehind();
                return;
            }
            l.unlock();
            writer.join();
        }

        void sendMessageNow (const juce::MidiMessage& message) override
        {
            {
                const std::lock_guard<std::mutex> l (shared->lock);
                if (shared->closing)
                    return;
                shared->queue.push_back (message);
            }
            shared->wake.notify_one();
        }

        bool hasFailed() const override { return shared->failed; }

        void setObserver (std::shared_ptr<MidiOutObserver> observer) override
        {
            const std::lock_guard<std::mutex> l (shared->lock);
            shared->observer = std::move (observer);
        }

        void reset() override
        {
            {
                const std::lock_guard<std::mutex> l (shared->lock);
                shared->queue.clear();
                shared->resetAsked = true;
            }
            shared->wake.notify_one();
        }

    private:
        std::shared_ptr<Shared> shared;
        const std::chrono::milliseconds closeBound;
        std::thread writer;
    };
}

std::unique_ptr<MidiOutPort> WithWriterThread (std::unique_ptr<MidiOutPort> port, std::chrono::milliseconds closeBound)
{
    if (port == nullptr)
        return nullptr;
    return std::make_unique<QueuedOutPort> (std::move (port), closeBound);
}

int AbandonedWriters()
{
    return abandoned.load();
}
