#include "store/RunLog.h"
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>
#include "platform/SystemCalls.h"
#include "store/shared/Troubles.h"

namespace
{
    std::mutex g_Lock;                 // guards everything below
    std::FILE* g_pFile = nullptr;      // appended to ("ab"): other processes may append too
    juce::File g_Path;
    juce::int64 g_nBudget = 0;         // bytes this run may still write
    bool g_bCut = false;               // this run's budget is spent
    bool g_bMidLine = false;           // the last piece did not end its line
    juce::String g_strPorts;           // the ports recorded last

    void WriteLocked (const juce::String& text)
    {
        if (g_pFile == nullptr || g_bCut || text.isEmpty())
            return;
        const char* utf8 = text.toRawUTF8();
        const auto size = (juce::int64) std::strlen (utf8);
        if (size > g_nBudget)
        {
            std::fputs ("\n[The log of this run is cut here: the file has reached its size.]\n", g_pFile);
            std::fflush (g_pFile);
            g_bCut = true;
            return;
        }
        std::fwrite (utf8, 1, (size_t) size, g_pFile);
        // Written through at once: what a crash or a pulled plug leaves is what a report needs.
        std::fflush (g_pFile);
        g_nBudget -= size;
        g_bMidLine = ! text.endsWithChar ('\n');
    }

    void LineLocked (const juce::String& line)
    {
        WriteLocked ((g_bMidLine ? "\n" : "") + line.trimEnd() + "\n");
    }

    /** Where the runs to keep begin in `old`, so that with this one at most
        kKeptRuns remain in at most half the size. */
    size_t KeepFrom (const std::string& old)
    {
        std::vector<size_t> starts;
        if (old.rfind (RunLog::kRunMark, 0) == 0)
            starts.push_back (0);
        const std::string mark = std::string ("\n") + RunLog::kRunMark;
        for (size_t at = old.find (mark); at != std::string::npos; at = old.find (mark, at + 1))
            starts.push_back (at + 1);
        const size_t first = starts.size() >= (size_t) RunLog::kKeptRuns ? starts.size() - (size_t) RunLog::kKeptRuns + 1 : 0;
        for (size_t i = first; i < starts.size(); ++i)
            if ((juce::int64) (old.size() - starts[i]) <= RunLog::kMaxFileBytes / 2)
                return starts[i];
        return old.size();
    }
}

namespace RunLog
{
bool Start (const juce::File& file, const juce::String& program, const juce::String& what)
{
    std::lock_guard<std::mutex> l (g_Lock);
    if (g_pFile != nullptr)
        std::fclose (g_pFile);
    g_pFile = nullptr;
    g_Path = juce::File();
    g_bCut = g_bMidLine = false;
    g_strPorts.clear();
    if (! file.getParentDirectory().createDirectory())
        return false;

    // Older runs go first; what precedes the first run's line is no run's.
    juce::int64 kept = 0;
    if (file.existsAsFile())
    {
        juce::MemoryBlock bytes;
        if (file.getSize() <= 4 * kMaxFileBytes)
            file.loadFileAsData (bytes);
        const std::string old (static_cast<const char*> (bytes.getData()), bytes.getSize());
        const size_t from = KeepFrom (old);
        if (from != 0)
        {
            juce::TemporaryFile temp (file);
            if (! temp.getFile().replaceWithData (old.data() + from, old.size() - from)
                || ! temp.overwriteTargetFileWithTemporary())
                file.deleteFile();
        }
        kept = juce::jmax ((juce::int64) 0, file.getSize());
    }
    g_pFile = OpenFileW (file.getFullPathName(), "ab");
    if (g_pFile == nullptr)
        return false;
    g_Path = file;
    g_nBudget = juce::jmax ((juce::int64) 4096, kMaxFileBytes - kept);
    const auto now = juce::Time::getCurrentTime();
    LineLocked (kRunMark + now.formatted ("%Y-%m-%d %H:%M:%S ") + now.getUTCOffsetString (true) + "  " + program
                + "  " + juce::SystemStats::getOperatingSystemName() + "\n" + what);
    return true;
}

void Append (const juce::String& text)
{
    std::lock_guard<std::mutex> l (g_Lock);
    WriteLocked (text);
}

void AppendLine (const juce::String& line)
{
    std::lock_guard<std::mutex> l (g_Lock);
    LineLocked (line);
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

    std::lock_guard<std::mutex> l (g_Lock);
    LineLocked ("[box] " + text.trimEnd().replace ("\n", " / "));
    if (why != nullptr)
        LineLocked (juce::String::fromUTF8 (TroubleLine (*why).c_str()));
}

void RecordPorts (const juce::StringArray& inputs, const juce::StringArray& outputs)
{
    const auto line = "MIDI ports: in " + (inputs.isEmpty() ? juce::String ("none") : "\"" + inputs.joinIntoString ("\", \"") + "\"")
                      + "; out " + (outputs.isEmpty() ? juce::String ("none") : "\"" + outputs.joinIntoString ("\", \"") + "\"");
    std::lock_guard<std::mutex> l (g_Lock);
    if (g_pFile == nullptr || line == g_strPorts)
        return;
    g_strPorts = line;
    LineLocked (line);
}

void End()
{
    std::lock_guard<std::mutex> l (g_Lock);
    if (g_pFile != nullptr)
        std::fclose (g_pFile);
    g_pFile = nullptr;
    g_Path = juce::File();
}

juce::File File()
{
    std::lock_guard<std::mutex> l (g_Lock);
    return g_Path;
}
} // namespace RunLog
