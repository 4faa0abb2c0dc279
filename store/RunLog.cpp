#include "store/RunLog.h"
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "platform/AtomicFile.h"
#include "platform/FileLock.h"
#include "platform/SystemCalls.h"
#include "store/shared/Troubles.h"

namespace
{
    /** Where the runs to keep begin in `tail`, the end of the file (`whole`:
        the whole of it), so that with a new run at most kKeptRuns remain in
        at most half the size. With no such run, the end of the file is kept
        from the start of a line. */
    size_t KeepFrom (const std::string& tail, bool whole)
    {
        constexpr auto half = (size_t) (RunLog::kMaxFileBytes / 2);
        std::vector<size_t> starts;
        const std::string mark (RunLog::kRunMark);
        for (size_t at = tail.find (mark); at != std::string::npos; at = tail.find (mark, at + 1))
            if (at > 0 ? tail[at - 1] == '\n' : whole)
                starts.push_back (at);
        const size_t first = starts.size() >= (size_t) RunLog::kKeptRuns ? starts.size() - (size_t) RunLog::kKeptRuns + 1 : 0;
        for (size_t i = first; i < starts.size(); ++i)
            if (tail.size() - starts[i] <= half)
                return starts[i];
        if (tail.size() <= half)
            return 0;   // small, and no run in it
        const size_t line = tail.find ('\n', tail.size() - half - 1);
        return line == std::string::npos ? tail.size() : line + 1;
    }

    std::string LinesNote (int lines)
    {
        return "[" + std::to_string (lines) + (lines == 1 ? " line" : " lines")
               + " of the log left out here: the disk did not keep up.]\n";
    }

    /** One run's log: the text waiting for the disk, and the thread that writes it. */
    struct Writer
    {
        juce::File file;
        juce::File lockFile;

        std::mutex lock;                   // guards the members up to `finished`
        std::condition_variable wake;      // text queued, or the end asked for
        std::condition_variable written;   // text reached the file, or the thread ended
        std::string queued;                // text not yet taken by the thread
        juce::uint64 queuedTotal = 0;      // bytes ever queued
        juce::uint64 writtenTotal = 0;     // of those, the bytes the thread has handled
        int droppedLines = 0;              // lines dropped since text was last queued
        bool midLine = false;              // the last text queued did not end its line
        juce::String ports;                // the ports recorded last
        bool ending = false;               // End: write what is queued, then stop
        bool finished = false;             // the thread has written its last

        // The thread's own.
        juce::int64 budget = 0;            // bytes the run may still write before its last lines
        bool cut = false;                  // the budget is spent: text goes to `tail`
        bool fileMidLine = false;          // what went to the file last did not end its line
        std::string tail;                  // after the cut: the run's last bytes
        juce::int64 leftOut = 0;           // after the cut: bytes not kept
        std::thread thread;

        /** Queues text, or drops it when the queue is full, unless it must be
            kept (a box: the lines a report needs most). Under `lock`. */
        void QueueLocked (const std::string& text, bool keep = false)
        {
            if (ending || text.empty())
                return;
            if (! keep && queued.size() + text.size() > RunLog::kQueueBytes)
            {
                int lines = 0;
                for (char c : text)
                    lines += c == '\n' ? 1 : 0;
                droppedLines += juce::jmax (1, lines);
                return;
            }
            std::string add;
            if (droppedLines > 0)
            {
                add = (midLine ? "\n" : "") + LinesNote (droppedLines);
                droppedLines = 0;
            }
            add += text;
            queued += add;
            queuedTotal += add.size();
            midLine = add.back() != '\n';
            wake.notify_one();
        }

        void LineLocked (const juce::String& line, bool keep = false)
        {
            QueueLocked ((midLine ? "\n" : "") + line.trimEnd().toStdString() + "\n", keep);
        }

        /** Appends to whatever file is at the path now, under the lock. */
        void AppendToFile (const std::string& text)
        {
            if (text.empty())
                return;
            const InterProcessFileLock turn (lockFile);
            if (std::FILE* f = OpenFileW (file.getFullPathName(), "ab"))
            {
                std::fwrite (text.data(), 1, text.size(), f);
                std::fclose (f);
            }
            fileMidLine = text.back() != '\n';
        }

        /** Drops older runs, under the lock; a file that cannot be replaced stays as it was. */
        void Trim()
        {
            const InterProcessFileLock turn (lockFile);
            const auto size = file.getSize();
            if (size > 0)
            {
                const juce::int64 from = juce::jmax ((juce::int64) 0, size - RunLog::kMaxFileBytes / 2 - 1);
                std::string tail ((size_t) (size - from), '\0');
                juce::FileInputStream in (file);
                if (in.openedOk() && in.setPosition (from) && in.read (tail.data(), (int) tail.size()) == (int) tail.size())
                {
                    const size_t keep = KeepFrom (tail, from == 0);
                    if (from + (juce::int64) keep > 0)
                        WriteFileAtomically (file.getFullPathName(), tail.data() + keep, tail.size() - keep);
                }
            }
            budget = juce::jmax ((juce::int64) 4096, RunLog::kMaxFileBytes - RunLog::kTailBytes - juce::jmax ((juce::int64) 0, file.getSize()));
        }

        void KeepTail (const std::string& text)
        {
            tail += text;
            if ((juce::int64) tail.size() > 2 * RunLog::kTailBytes)
            {
                const auto drop = tail.size() - (size_t) RunLog::kTailBytes;
                leftOut += (juce::int64) drop;
                tail.erase (0, drop);
            }
        }

        /** Writes a batch within the budget; past it, keeps the batch's end for the run's last lines. */
        void WriteBatch (const std::string& batch)
        {
            if (cut)
            {
                KeepTail (batch);
                return;
            }
            if ((juce::int64) batch.size() <= budget)
            {
                budget -= (juce::int64) batch.size();
                AppendToFile (batch);
                return;
            }
            const auto end = budget > 0 ? batch.rfind ('\n', (size_t) budget - 1) : std::string::npos;
            const size_t n = end == std::string::npos ? 0 : end + 1;
            cut = true;
            const bool openLine = n > 0 ? false : fileMidLine;
            AppendToFile (batch.substr (0, n) + (openLine ? "\n" : "")
                          + "[The log of this run is cut here: the file has reached its size. The run's last lines follow.]\n");
            KeepTail (batch.substr (n));
        }

        /** The run's last lines, from the start of a line. */
        void WriteTail()
        {
            if (! cut)
                return;
            if ((juce::int64) tail.size() > RunLog::kTailBytes)
            {
                const auto drop = tail.size() - (size_t) RunLog::kTailBytes;
                leftOut += (juce::int64) drop;
                tail.erase (0, drop);
            }
            if (leftOut > 0)
            {
                const auto line = tail.find ('\n');
                const auto drop = line == std::string::npos ? tail.size() : line + 1;
                leftOut += (juce::int64) drop;
                tail.erase (0, drop);
            }
            AppendToFile ("[" + std::to_string (leftOut) + " bytes of this run left out. Its last lines:]\n" + tail);
        }

        void Run()
        {
            file.getParentDirectory().createDirectory();
            Trim();
            for (;;)
            {
                std::string batch;
                {
                    std::unique_lock<std::mutex> l (lock);
                    wake.wait (l, [this] { return ! queued.empty() || ending; });
                    if (queued.empty())
                    {
                        // Ending: text dropped last still gets its note.
                        if (droppedLines == 0)
                            break;
                        queued = (midLine ? "\n" : "") + LinesNote (droppedLines);
                        queuedTotal += queued.size();
                        droppedLines = 0;
                    }
                    std::swap (batch, queued);
                }
                WriteBatch (batch);
                {
                    const std::lock_guard<std::mutex> l (lock);
                    writtenTotal += batch.size();
                }
                written.notify_all();
            }
            WriteTail();
            {
                const std::lock_guard<std::mutex> l (lock);
                finished = true;
            }
            written.notify_all();
        }
    };

    std::mutex g_Lock;                    // guards g_pWriter
    std::shared_ptr<Writer> g_pWriter;    // the run open now

    std::shared_ptr<Writer> Current()
    {
        const std::lock_guard<std::mutex> l (g_Lock);
        return g_pWriter;
    }
}

namespace RunLog
{
void Start (const juce::File& file, const juce::String& program, const juce::String& what)
{
    End();
    static std::once_flag atExit;
    std::call_once (atExit, [] { std::atexit (End); });

    auto w = std::make_shared<Writer>();
    w->file = file;
    w->lockFile = file.getSiblingFile (file.getFileName() + ".lock");
    const auto now = juce::Time::getCurrentTime();
    {
        const std::lock_guard<std::mutex> l (w->lock);
        w->LineLocked (kRunMark + now.formatted ("%Y-%m-%d %H:%M:%S ") + now.getUTCOffsetString (true) + "  " + program
                       + "  " + juce::SystemStats::getOperatingSystemName() + "\n" + what);
    }
    // The thread keeps the run alive: a disk that never answers may outlast End.
    w->thread = std::thread ([w] { w->Run(); });
    const std::lock_guard<std::mutex> l (g_Lock);
    g_pWriter = std::move (w);
}

void Append (const juce::String& text)
{
    if (auto w = Current())
    {
        const std::lock_guard<std::mutex> l (w->lock);
        w->QueueLocked (text.toStdString());
    }
}

void AppendLine (const juce::String& line)
{
    if (auto w = Current())
    {
        const std::lock_guard<std::mutex> l (w->lock);
        w->LineLocked (line);
    }
}

void RecordBox (const juce::String& text)
{
    const Trouble* why = nullptr;
    const auto code = text.fromFirstOccurrenceOf ("Error Code ", false, false);
    if (text.startsWith ("Error Code ") && code.trim().containsOnly ("0123456789"))
        why = FindErrorCode (code.getIntValue());
    else if (text == kTimeOutText)
        why = FindBox (BoxKind::TimeOut);
    else if (text == kNoOutDeviceText)
        why = FindBox (BoxKind::NoOutDevice);
    else if (text == juce::String::fromUTF8 (kTwoDevicesText))
        why = FindBox (BoxKind::TwoDevices);
    else if (text.startsWith (kNoUpdateFitsStart))
        why = FindBox (BoxKind::NoUpdateFits);

    if (auto w = Current())
    {
        const std::lock_guard<std::mutex> l (w->lock);
        w->LineLocked ("[box] " + text.trimEnd().replace ("\n", " / "), true);
        if (why != nullptr)
            w->LineLocked (juce::String::fromUTF8 (TroubleLine (*why).c_str()), true);
    }
}

void RecordPorts (const juce::StringArray& inputs, const juce::StringArray& outputs)
{
    const auto line = "MIDI ports: in " + (inputs.isEmpty() ? juce::String ("none") : "\"" + inputs.joinIntoString ("\", \"") + "\"")
                      + "; out " + (outputs.isEmpty() ? juce::String ("none") : "\"" + outputs.joinIntoString ("\", \"") + "\"");
    if (auto w = Current())
    {
        const std::lock_guard<std::mutex> l (w->lock);
        if (line == w->ports)
            return;
        w->ports = line;
        w->LineLocked (line);
    }
}

bool Flush (std::chrono::milliseconds bound)
{
    auto w = Current();
    if (w == nullptr)
        return true;
    std::unique_lock<std::mutex> l (w->lock);
    const auto target = w->queuedTotal;
    return w->written.wait_for (l, bound, [&] { return w->writtenTotal >= target || w->finished; });
}

void End()
{
    std::shared_ptr<Writer> w;
    {
        const std::lock_guard<std::mutex> l (g_Lock);
        std::swap (w, g_pWriter);
    }
    if (w == nullptr)
        return;
    bool finished;
    {
        std::unique_lock<std::mutex> l (w->lock);
        w->ending = true;
        w->wake.notify_one();
        finished = w->written.wait_for (l, kEndBound, [&] { return w->finished; });
    }
    // A thread stuck in a disk that does not answer is left to it; the process may end.
    if (finished)
        w->thread.join();
    else
        w->thread.detach();
}

juce::File File()
{
    auto w = Current();
    return w != nullptr ? w->file : juce::File();
}
} // namespace RunLog
