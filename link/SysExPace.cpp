#include "link/SysExPace.h"
#include <algorithm>
#include <atomic>
#include <thread>

namespace
{
    // A pace packed into one word, so that the writer threads read it whole.
    constexpr int64_t kNoPace = -1;

    int64_t Pack (SysExPace p)
    {
        return ((int64_t) std::max (0, p.pieceBytes) << 32) | (uint32_t) std::max (0, p.gapMs);
    }

    SysExPace Unpack (int64_t v)
    {
        return { (int) (v >> 32), (int) (v & 0xFFFFFFFF) };
    }

    // A choice packed as a pace, with "auto" as a value no pace takes.
    constexpr int64_t kAuto = -2;

    int64_t Pack (PaceChoice c) { return c.automatic ? kAuto : Pack (c.fixed); }

    std::atomic<int64_t> settingsChoice { 0 };
    std::atomic<int64_t> runChoice { kNoPace };
    std::atomic<int64_t> foundPace { 0 };

    /** A decimal number of at most `limit`; -1 when the text is none. */
    int Number (const juce::String& text, int limit)
    {
        if (text.isEmpty() || text.length() > 6 || ! text.containsOnly ("0123456789"))
            return -1;
        const int v = text.getIntValue();
        return v <= limit ? v : -1;
    }
}

std::optional<SysExPace> ParseSysExPace (const juce::String& text)
{
    const auto t = text.trim();
    if (t.isEmpty() || t == "0")
        return SysExPace {};
    if (! t.containsChar (':'))
        return std::nullopt;
    const int bytes = Number (t.upToFirstOccurrenceOf (":", false, false).trim(), kMaxPieceBytes);
    const int gap = Number (t.fromFirstOccurrenceOf (":", false, false).trim(), kMaxGapMs);
    if (bytes < 0 || gap < 0 || (bytes > 0 && bytes < kMinPieceBytes))
        return std::nullopt;
    if (bytes == 0)
        return SysExPace {};
    return SysExPace { bytes, gap };
}

juce::String SysExPaceText (SysExPace pace)
{
    return pace.IsOff() ? juce::String ("0") : juce::String (pace.pieceBytes) + ":" + juce::String (pace.gapMs);
}

std::optional<PaceChoice> ParsePaceChoice (const juce::String& text)
{
    if (text.trim().equalsIgnoreCase ("auto"))
        return PaceChoice { true, {} };
    if (const auto pace = ParseSysExPace (text))
        return PaceChoice { false, *pace };
    return std::nullopt;
}

juce::String PaceChoiceText (PaceChoice choice)
{
    return choice.automatic ? juce::String ("auto") : SysExPaceText (choice.fixed);
}

void SetSettingsPaceChoice (PaceChoice choice) { settingsChoice = Pack (choice); }

void SetRunPaceChoice (std::optional<PaceChoice> choice) { runChoice = choice ? Pack (*choice) : kNoPace; }

PaceChoice CurrentPaceChoice()
{
    auto v = runChoice.load();
    if (v == kNoPace)
        v = settingsChoice.load();
    return v == kAuto ? PaceChoice { true, {} } : PaceChoice { false, Unpack (v) };
}

void SetFoundSysExPace (SysExPace pace) { foundPace = Pack (pace); }

SysExPace FoundSysExPace() { return Unpack (foundPace.load()); }

SysExPace CurrentSysExPace()
{
    const auto choice = CurrentPaceChoice();
    return choice.automatic ? FoundSysExPace() : choice.fixed;
}

std::optional<SysExPace> SlowerAutoPace (SysExPace pace)
{
    // Never a larger piece, never a faster rate (bytes per ms, compared crosswise).
    for (const auto& step : kAutoPaceSteps)
        if (pace.IsOff() || (step.pieceBytes < pace.pieceBytes
                             && (int64_t) step.pieceBytes * pace.gapMs <= (int64_t) pace.pieceBytes * step.gapMs))
            return step;
    return std::nullopt;
}

SysExPace WinMmSysExPace (SysExPace chosen, bool underWine)
{
    if (underWine)
        return {};
    if (chosen.IsOff())
        return { kWinMmPieceBytes, 0 };
    return { std::min (chosen.pieceBytes, kWinMmPieceBytes), chosen.gapMs };
}

std::function<bool()> PieceTeller (std::shared_ptr<MidiOutObserver> observer)
{
    return [o = std::move (observer)] { return o == nullptr || o->pieceWritten(); };
}

SysExPieces PiecesTo (std::function<bool (const uint8_t*, size_t)> send, std::shared_ptr<MidiOutObserver> observer)
{
    SysExPieces pieces;
    pieces.send = std::move (send);
    pieces.wait = [] (std::chrono::milliseconds gap) { std::this_thread::sleep_for (gap); };
    pieces.pieceLeft = PieceTeller (std::move (observer));
    return pieces;
}

bool SendSysExInPieces (const uint8_t* bytes, size_t size, SysExPace pace, const SysExPieces& how)
{
    if (pace.IsOff() || size <= (size_t) pace.pieceBytes)
        return how.send (bytes, size);
    for (size_t sent = 0; sent < size;)
    {
        const size_t piece = std::min ((size_t) pace.pieceBytes, size - sent);
        if (! how.send (bytes + sent, piece))
            return false;
        sent += piece;
        if (sent == size)
            break;
        if (how.pieceLeft && ! how.pieceLeft())
        {
            const uint8_t end = 0xF7;
            return how.send (&end, 1);
        }
        if (pace.gapMs > 0)
            how.wait (std::chrono::milliseconds (pace.gapMs));
    }
    return true;
}
