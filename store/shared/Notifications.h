#pragma once
// Notifications between the parts of the program: a juce::Message carrying
// three ints and an optional owned payload.
#include <atomic>
#include <cstdint>
#include <memory>
#include <juce_events/juce_events.h>

enum NotificationCode : int
{
    kLogAppendMessage  = 0x4000,  ///< log text for the pane
    kConnectedMessage  = 0x5001,  ///< a probe cycle was answered; arg = FS flag
    kNotFoundMessage   = 0x5002,  ///< a probe cycle ended without an answer
    kTwoDevicesMessage = 0x5003,  ///< a second module answered in the same cycle
    kStepStartMessage  = 0x5004,  ///< arg 0 busy, 1 stopped; third 1 = normal end
    kProgressMessage   = 0x5005,  ///< arg 0 hide, 1 erasing, 2 writing, 3 reading
    kPresenceMessage   = 0x5006,  ///< the connected module answered again
    kStepDoneMessage   = 0x5007,  ///< arg 0 finished, 1 compare failed (retry)
    kModeSwitchMessage = 0x5008,  ///< arg 0 application mode found, 1 back in loader mode
    kFileDropMessage   = 0x8000   ///< arg 0x6000; payload: the dropped path
};

constexpr int kFileDropCode = 0x6000;

/** Base of everything a notification carries by pointer; owned by the message. */
struct MessagePayload
{
    virtual ~MessagePayload() = default;
};

/** Progress of a transfer, erase or read. */
struct ProgressRecord : MessagePayload
{
    int32_t done = 0;    ///< units done
    int32_t total = 0;   ///< units in all
    ProgressRecord (int32_t d, int32_t t) : done (d), total (t) {}
};

/** A piece of text: log text or a dropped file's path. */
struct TextPayload : MessagePayload
{
    juce::String text;   ///< the text
    explicit TextPayload (juce::String t) : text (std::move (t)) {}
};

/** A notification: code, argument, third parameter and an optional payload.
    The payload is released with the message after the receiver has handled it.
    Every notification but log text counts as waiting from its making until its
    receiver takes it (`Taken`) or it is released undelivered. */
class NotifyMessage : public juce::Message
{
public:
    NotifyMessage (int code, int argument = 0, int third = 0,
                   std::unique_ptr<MessagePayload> payload = nullptr)
        : intParameter1 (code), intParameter2 (argument), intParameter3 (third),
          pointerParameter (std::move (payload)) { Count(); }

    ~NotifyMessage() override { Taken(); }

    /** The receiver has it: it no longer waits (any thread, once or more). */
    void Taken() const
    {
        if (m_bWaiting.exchange (false))
            --s_nWaiting;
    }

    /** Notifications other than log text made and not yet taken. */
    static int Waiting() { return s_nWaiting.load(); }

    const int intParameter1;   ///< the code
    const int intParameter2;   ///< the argument
    const int intParameter3;   ///< the third parameter
    const std::unique_ptr<MessagePayload> pointerParameter;   ///< owned payload or null

    /** The payload as T, or null when there is none or it is another kind. */
    template <typename T> T* payloadAs() const
    {
        return dynamic_cast<T*> (m_pInline != nullptr ? m_pInline : pointerParameter.get());
    }

protected:
    /** For notifications that carry their payload inside themselves. */
    NotifyMessage (int code, int argument, int third, MessagePayload& inlinePayload)
        : intParameter1 (code), intParameter2 (argument), intParameter3 (third), m_pInline (&inlinePayload) { Count(); }

private:
    void Count()
    {
        if (intParameter1 != kLogAppendMessage)
        {
            m_bWaiting = true;
            ++s_nWaiting;
        }
    }

    MessagePayload* const m_pInline = nullptr;
    mutable std::atomic<bool> m_bWaiting { false };
    static inline std::atomic<int> s_nWaiting { 0 };
};

/** A progress notification with its record inside the message: one allocation
    per block of a transfer instead of two. */
class ProgressNotify : public NotifyMessage
{
public:
    /** Progress of `kind` (1 erasing, 2 writing, 3 reading): `done` of `total`. */
    ProgressNotify (int kind, int32_t done, int32_t total)
        : NotifyMessage (kProgressMessage, kind, 0, m_Record), m_Record (done, total) {}

private:
    ProgressRecord m_Record;
};

/** The notification inside a juce::Message, or null for any other message. */
inline const NotifyMessage* AsNotify (const juce::Message& m) { return dynamic_cast<const NotifyMessage*> (&m); }
