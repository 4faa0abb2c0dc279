#include "link/rawmidi/AlsaErrors.h"
#include <alsa/asoundlib.h>
#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstdio>
#include <mutex>
#include <set>

namespace
{
    std::mutex lock;                     // the handler runs on whichever thread called alsa-lib
    std::set<std::string> reported;      // kinds of problem already kept (file and function)
    std::string pending;                 // kept, not yet handed out

    void Handler (const char* file, int, const char* function, int err, const char* format, ...)
    {
        char text[512];
        va_list args;
        va_start (args, format);
        std::vsnprintf (text, sizeof (text), format != nullptr ? format : "", args);
        va_end (args);

        const std::string where = std::string (file != nullptr ? file : "") + ":" + (function != nullptr ? function : "");
        // A busy raw port is told of by the port source, with the program that holds it.
        if (std::abs (err) == EBUSY && where.find ("rawmidi") != std::string::npos)
            return;
        const bool sequencer = where.find ("seq") != std::string::npos;
        const std::lock_guard<std::mutex> l (lock);
        if (! reported.insert (sequencer ? std::string ("sequencer") : where).second)
            return;   // said once already: every probe cycle would repeat it
        std::string line = sequencer ? "MIDI: the ALSA sequencer cannot be reached: " : "MIDI: ALSA: ";
        line += text;
        if (err != 0)
            line += std::string (": ") + snd_strerror (err);
        pending += line + "\n";
    }
}

void InstallAlsaErrorHandler()
{
    static std::once_flag once;
    std::call_once (once, [] { snd_lib_error_set_handler (&Handler); });
}

std::string TakeAlsaNotice()
{
    const std::lock_guard<std::mutex> l (lock);
    std::string out;
    out.swap (pending);
    return out;
}
