#include "cli/CliOptions.h"
#include "cli/Explain.h"

#if defined(_WIN32)
 #define KESTRAVA_LOG_PLACE "%LOCALAPPDATA%\\Kestrava\\kestrava.log, whatever the data folder."
#else
 #define KESTRAVA_LOG_PLACE "~/.local/state/kestrava/kestrava.log ($XDG_STATE_HOME/kestrava when\nset), whatever the data folder."
#endif

namespace
{
    const char* const kOverview =
        "kestrava-cli: update, read back and verify a sound module's flash over MIDI,\n"
        "without the window. The same workflows, texts and error codes as \"Program\".\n"
        "\n"
        "Usage: kestrava-cli [OPTIONS] COMMAND [ARGUMENTS]\n"
        "\n"
        "Commands:\n"
        "  ports                   list the MIDI ports and which of them answer the probe\n"
        "  update IMAGE            the whole update \"Program\" runs; succeeds only when\n"
        "                          the module holds the image; with --all, every module\n"
        "                          that answers, at the same time\n"
        "  read [OUT]              copy a range of the module's flash into a file\n"
        "  verify IMAGE            read back the image's ranges and compare, writing\n"
        "                          nothing; with --all, on every module that answers\n"
        "  explain [N]             what error code or exit status N means and what to do;\n"
        "                          without N, every box and exit status\n"
        "  help [COMMAND]          this text, or a command's\n"
        "\n"
        "Options:\n"
        "  --data DIR              data folder (Drivers/, QvDoc/, QvDoc/config.ini);\n"
        "                          default: the folder the program is in; when\n"
        "                          installed, ../share/kestrava beside it, with\n"
        "                          config.ini in ~/.config/kestrava\n"
        "  --port TEXT             probe only the port whose identifier (hw:2,0,0, as\n"
        "                          \"ports\" lists it) or location (ports --json) is TEXT,\n"
        "                          followed when its card comes back under another\n"
        "                          number; or else the ports whose names\n"
        "                          contain TEXT (case ignored); on Linux also other\n"
        "                          programs' sequencer ports; given more than once,\n"
        "                          update or verify every module behind those ports\n"
        "  --all                   update or verify every module that answers, each in a\n"
        "                          process of its own, at the same time\n"
        "  --simulate              a simulated module instead of the MIDI ports\n"
        "  --simulate-flash FILE   keep the simulated module's flash in FILE across runs\n"
        "                          (implies --simulate); module N from 2 on in FILE-N\n"
        "  --simulate-modules N    N simulated modules, alike but for their ports'\n"
        "                          identifiers (implies --simulate)\n"
        "  --simulate-unplug N     simulated module N is unplugged for good after 64 KiB\n"
        "                          of programming (implies --simulate)\n"
        "  --simulate-lost-answers N\n"
        "                          the simulated modules leave their next N probe\n"
        "                          answers unsent when \"Program\" is pressed, as a\n"
        "                          busy module does (implies --simulate)\n"
        "  --simulate-late-read N:MS\n"
        "                          the (first) simulated module answers its Nth read\n"
        "                          request MS milliseconds late, busy meanwhile\n"
        "                          (implies --simulate)\n"
        "  --simulate-lossy-buffer N\n"
        "                          the simulated modules behind a cheap interface: a\n"
        "                          buffer of N bytes (16 to 65536) drained at the MIDI\n"
        "                          wire's 3125 bytes/s that loses what overflows, as\n"
        "                          whole 4689-byte blocks do at full speed (implies\n"
        "                          --simulate)\n"
        "  --pace auto|BYTES:MS    for an interface that loses bytes at full speed: auto\n"
        "                          starts whole (or at the pace found for the port last\n"
        "                          time) and sends slower wherever bytes are lost;\n"
        "                          BYTES:MS sends each SysEx in pieces of at most BYTES\n"
        "                          bytes, MS milliseconds apart (such as 256:90); 0:\n"
        "                          whole; default: Pace in section Pacing of config.ini,\n"
        "                          else whole\n"
        "  --only-changed          update: read each sector first and erase, program and\n"
        "                          verify only those that differ from the image;\n"
        "                          default: OnlyChanged in section Update of config.ini\n"
        "  --full                  update: every range, whatever config.ini says\n"
        "  --json                  one JSON object per line for every event\n"
        "  -q, --quiet             print nothing but errors\n"
        "  -v, --verbose           also print the log's text\n"
        "  --no-log                do not append this run to the log file (below)\n"
        "  -h, --help              help for the command, wherever it stands on the line\n"
        "  --version               the program's version\n"
        "\n"
        "Log: every run but explain and help appends the log's text (what --verbose\n"
        "prints), its boxes and the MIDI ports to kestrava.log, keeping the last few\n"
        "runs, in " KESTRAVA_LOG_PLACE "\n"
        "Send it with a report of a problem.\n"
        "\n"
        "Exit status (with --all: 0 when every module holds the image, else the\n"
        "status of the first module that failed):\n";

    const char* const kPortsHelp =
        "Usage: kestrava-cli [OPTIONS] ports\n"
        "\n"
        "Lists every MIDI port, one per line: its name, whether it is an input, an\n"
        "output or both, and whether a module answered the probe through it and in\n"
        "which mode (loader or application). Probing takes about three seconds.\n"
        "Ports that are never opened (a sound card's) say so, and so does a port\n"
        "that another program holds: which program, and whether it is reached\n"
        "through the sequencer instead. On Linux only the hardware's ports are\n"
        "probed; other programs' ports only when --port names them. With --port,\n"
        "only the ports it selects (given more than once: those any of them\n"
        "selects). Every port is probed at once, so --all changes nothing here.\n"
        "Ports of the same name (identical cards) show their identifiers, which\n"
        "--port takes to name one of them; --json always gives it.\n";

    const char* const kUpdateHelp =
        "Usage: kestrava-cli [OPTIONS] update IMAGE\n"
        "\n"
        "The whole update that \"Program\" runs: the image's marker is checked (at\n"
        "once, before a module is waited for), the module is switched into its\n"
        "loader, the drivers of Drivers/ are tried until one finds the flash, and the\n"
        "workflow that fits the module and the image erases, programs, reads back and\n"
        "compares it. Succeeds (status 0) only when the module holds the image; a\n"
        "failure exits with its error code.\n"
        "\n"
        "With --all (or --port more than once) every port is probed, or those --port\n"
        "selects, and every module that answers is updated at the same time, each by\n"
        "a kestrava-cli of its own. A port two modules would share is refused before\n"
        "anything is sent. On a terminal one line per module shows its port, phase,\n"
        "percentage, rate and time left; piped or with --json every event carries\n"
        "its port. A summary follows: port, result, error code and time of each\n"
        "module. A module that fails never stops the others; the exit status is 0\n"
        "only when every module holds the image, else that of the first to fail.\n"
        "\n"
        "With --only-changed (also with --all) each sector of the image is read from\n"
        "the module first and compared with what the update would write there; a\n"
        "sector already in place is neither erased, nor programmed, nor read back,\n"
        "and only the sectors that differ are written and verified. The flash ends\n"
        "the same, byte for byte, as after a full update, and status 0 still means\n"
        "that every range was found equal to the image. The end says how much was\n"
        "already in place (--json: in_place_bytes, written_bytes). An update cut off\n"
        "part-way, sent again this way, writes only what is not yet in place.\n"
        "Without --only-changed or --full, the window's setting decides: OnlyChanged\n"
        "in section Update of config.ini (1: only what changed; off by default).\n";

    const char* const kReadHelp =
        "Usage: kestrava-cli [OPTIONS] read [OUT] [--offset HEX] [--length HEX] [--page HEX]\n"
        "\n"
        "Switches the module into its loader and finds its flash driver as \"Program\"\n"
        "does, then copies LENGTH bytes of flash from OFFSET into OUT, block by block,\n"
        "with the read's checksums and retries. Writes nothing to the module.\n"
        "\n"
        "  OUT            the file to write; default: NameRead of the settings file\n"
        "  --offset HEX   byte offset in the flash page, even; default: ReadOffset\n"
        "  --length HEX   bytes to read, even; 0 reads to the end of the flash;\n"
        "                 default: ReadLength\n"
        "  --page HEX     flash page of 64K words (400 for a flash on CS1);\n"
        "                 default: FlashPage\n"
        "\n"
        "HEX values may start with 0x. The defaults come from the section LastSave of\n"
        "QvDoc/config.ini in the data folder, whose offsets and lengths are in 16-bit\n"
        "words unless UserWordAddress is 0. An incomplete OUT is removed.\n";

    const char* const kVerifyHelp =
        "Usage: kestrava-cli [OPTIONS] verify IMAGE\n"
        "\n"
        "Runs the update as far as \"Program\" does up to the workflow that fits the\n"
        "module and the image, but instead of writing it reads back every range that\n"
        "workflow would write and compares it with the image. Writes nothing. Exits 0\n"
        "when the module holds the image, 1 when it does not, and says where the first\n"
        "difference is (a byte offset in the image). --all verifies every module that\n"
        "answers at the same time, as update --all updates them.\n";

    const char* const kExplainHelp =
        "Usage: kestrava-cli [--json] explain [N]\n"
        "\n"
        "What error code or exit status N means: its cause, when it happens, the first\n"
        "thing to try and what to do next. Without N, the same for every error code,\n"
        "every other box the window shows and every exit status. With --json, one\n"
        "object per line. After an error, kestrava-cli prints its cause and the first\n"
        "thing to try on the line below it.\n";

    const char* const kHelpHelp =
        "Usage: kestrava-cli help [COMMAND]\n"
        "\n"
        "The overview, or the help for one command.\n";

    constexpr int kMaxSimulatedModules = 16;

    bool IsCommand (const juce::String& s)
    {
        return s == "ports" || s == "update" || s == "read" || s == "verify" || s == "explain" || s == "help";
    }

    /** Whether an option takes a value (as the next argument, or after =). */
    bool TakesValue (const juce::String& option)
    {
        for (const char* o : { "--data", "--port", "--simulate-flash", "--simulate-modules", "--simulate-unplug",
                               "--simulate-lost-answers", "--simulate-late-read", "--simulate-lossy-buffer", "--offset", "--length", "--page", "--pace" })
            if (option == o)
                return true;
        return false;
    }

    /** --help or -h anywhere before "--": the help of the command the line
        names (of the topic of help), whatever else the line holds. */
    std::optional<CliOptions> HelpAsked (const juce::StringArray& args)
    {
        CliOptions o;
        for (int i = 0; i < args.size() && args[i] != "--"; ++i)
        {
            const auto& arg = args[i];
            if (arg == "-h" || arg == "--help")
                o.help = true;
            else if (TakesValue (arg))
                ++i;
            else if (arg.startsWith ("-") && arg != "-")
                continue;
            else if (o.command.isEmpty() && IsCommand (arg))
                o.command = arg;
            else if (o.command == "help" && o.arguments.isEmpty())
                o.arguments.add (arg);
        }
        if (! o.help)
            return std::nullopt;
        return o;
    }

    /** A hexadecimal value with an optional 0x, at most `limit`. */
    std::optional<int64_t> ParseHex (juce::String text, int64_t limit)
    {
        if (text.startsWithIgnoreCase ("0x"))
            text = text.substring (2);
        if (text.isEmpty() || text.length() > 16 || ! text.containsOnly ("0123456789abcdefABCDEF"))
            return std::nullopt;
        const int64_t value = (int64_t) text.getHexValue64();
        if (value < 0 || value > limit)
            return std::nullopt;
        return value;
    }

    /** The command and the number of arguments it takes. */
    juce::String CheckArguments (const CliOptions& o)
    {
        const int n = o.arguments.size();
        if (o.command == "ports" && n > 0)
            return "ports takes no arguments";
        if ((o.command == "update" || o.command == "verify") && n != 1)
            return o.command + " takes one IMAGE";
        if ((o.command == "read" || o.command == "help" || o.command == "explain") && n > 1)
            return o.command + " takes at most one argument";
        if (o.command == "help" && n == 1 && ! IsCommand (o.arguments[0]))
            return "no command named '" + o.arguments[0] + "'";
        if (o.onlyChanged && o.command != "update")
            return (*o.onlyChanged ? "--only-changed" : "--full") + juce::String (" is for update");
        if (o.command != "read" && (o.offset || o.length || o.page))
            return "--offset, --length and --page are for read";
        if (RunsEveryModule (o) && o.command != "update" && o.command != "verify" && o.command != "ports")
            return o.all ? "--all is for update, verify and ports" : "--port more than once is for update, verify and ports";
        if (o.simulatedUnplug > o.simulatedModules)
            return "--simulate-unplug names module " + juce::String (o.simulatedUnplug) + " of "
                   + juce::String (o.simulatedModules);
        if (o.quiet && o.verbose)
            return "--quiet and --verbose exclude each other";
        return {};
    }
}

ParsedCommandLine ParseCommandLine (const juce::StringArray& args)
{
    ParsedCommandLine result;
    if (auto help = HelpAsked (args))
    {
        result.options = *help;
        return result;
    }
    auto& o = result.options;
    auto fail = [&result] (const juce::String& why) { result.error = why; return result; };

    bool optionsEnded = false;
    for (int i = 0; i < args.size(); ++i)
    {
        juce::String arg = args[i];
        if (optionsEnded || ! arg.startsWith ("-") || arg == "-")
        {
            if (o.command.isEmpty())
            {
                if (! IsCommand (arg))
                    return fail ("no command named '" + arg + "'");
                o.command = arg;
            }
            else
            {
                o.arguments.add (arg);
            }
            continue;
        }
        if (arg == "--")
        {
            optionsEnded = true;
            continue;
        }

        // --name=value or --name value
        juce::String value;
        bool hasValue = false;
        if (arg.startsWith ("--") && arg.containsChar ('='))
        {
            value = arg.fromFirstOccurrenceOf ("=", false, false);
            arg = arg.upToFirstOccurrenceOf ("=", false, false);
            hasValue = true;
        }
        auto takeValue = [&] () -> std::optional<juce::String>
        {
            if (hasValue)
                return value;
            if (i + 1 >= args.size())
                return std::nullopt;
            return args[++i];
        };
        auto flag = [&] (bool& target)
        {
            target = true;
            return ! hasValue;
        };

        bool ok = true;
        if (arg == "-h" || arg == "--help")            ok = flag (o.help);
        else if (arg == "-q" || arg == "--quiet")      ok = flag (o.quiet);
        else if (arg == "-v" || arg == "--verbose")    ok = flag (o.verbose);
        else if (arg == "--json")                      ok = flag (o.json);
        else if (arg == "--only-changed" || arg == "--full")
        {
            if (o.onlyChanged && *o.onlyChanged != (arg == "--only-changed"))
                return fail ("--only-changed and --full exclude each other");
            o.onlyChanged = arg == "--only-changed";
            ok = ! hasValue;
        }
        else if (arg == "--simulate")                  ok = flag (o.simulate);
        else if (arg == "--all")                       ok = flag (o.all);
        else if (arg == "--version")                   ok = flag (o.version);
        else if (arg == "--no-log")                    ok = flag (o.noLog);
        else if (TakesValue (arg))
        {
            const auto v = takeValue();
            if (! v || v->isEmpty())
                return fail (arg + " needs a value");
            if (arg == "--data")
                o.dataFolder = juce::File::getCurrentWorkingDirectory().getChildFile (*v);
            else if (arg == "--port")
                o.ports.add (*v);
            else if (arg == "--pace")
            {
                o.pace = ParsePaceChoice (*v);
                if (! o.pace)
                    return fail ("--pace takes auto, BYTES:MS (BYTES from " + juce::String (kMinPieceBytes) + " to "
                                 + juce::String (kMaxPieceBytes) + ", MS up to " + juce::String (kMaxGapMs)
                                 + ", such as 256:90) or 0, not '" + *v + "'");
            }
            else if (arg == "--simulate-flash")
            {
                o.simulatedFlash = juce::File::getCurrentWorkingDirectory().getChildFile (*v);
                o.simulate = true;
            }
            else if (arg == "--simulate-late-read")
            {
                const auto read = v->upToFirstOccurrenceOf (":", false, false);
                const auto ms = v->fromFirstOccurrenceOf (":", false, false);
                const bool numbers = v->containsChar (':') && read.isNotEmpty() && ms.isNotEmpty()
                                  && read.containsOnly ("0123456789") && ms.containsOnly ("0123456789")
                                  && read.length() <= 6 && ms.length() <= 5;
                o.simulatedLateRead = numbers ? read.getIntValue() : 0;
                o.simulatedLateMs = numbers ? ms.getIntValue() : 0;
                if (o.simulatedLateRead < 1 || o.simulatedLateMs < 1 || o.simulatedLateMs > 60000)
                    return fail ("--simulate-late-read takes N:MS (N from 1, MS from 1 to 60000), not '" + *v + "'");
                o.simulate = true;
            }
            else if (arg == "--simulate-lossy-buffer")
            {
                const int n = v->containsOnly ("0123456789") && v->length() <= 5 ? v->getIntValue() : -1;
                if (n < kMinPieceBytes || n > kMaxPieceBytes)
                    return fail (arg + " takes a number of bytes from " + juce::String (kMinPieceBytes) + " to "
                                 + juce::String (kMaxPieceBytes) + ", not '" + *v + "'");
                o.simulatedLossyBuffer = n;
                o.simulate = true;
            }
            else if (arg == "--simulate-modules" || arg == "--simulate-unplug" || arg == "--simulate-lost-answers")
            {
                const int n = v->containsOnly ("0123456789") && v->length() <= 3 ? v->getIntValue() : -1;
                const bool lost = arg == "--simulate-lost-answers";
                const int limit = lost ? 999 : kMaxSimulatedModules;
                if (n < 1 || n > limit)
                    return fail (arg + " takes a number from 1 to " + juce::String (limit) + ", not '" + *v + "'");
                (lost ? o.simulatedLostAnswers : arg == "--simulate-modules" ? o.simulatedModules : o.simulatedUnplug) = n;
                o.simulate = true;
            }
            else
            {
                // Offsets and lengths stay within what a 32-bit byte address reaches; the page so
                // that its byte base does too.
                const auto hex = ParseHex (*v, arg == "--page" ? 0x3FFF : 0x7FFFFFFF);
                if (! hex)
                    return fail (arg + " takes a hexadecimal value, not '" + *v + "'");
                if (arg == "--offset")      o.offset = *hex;
                else if (arg == "--length") o.length = *hex;
                else                        o.page = (int) *hex;
            }
        }
        else
        {
            return fail ("no option " + arg);
        }
        if (! ok)
            return fail (arg + " takes no value");
    }

    if (o.command.isEmpty() && ! o.help && ! o.version)
        return fail ("no command given");
    if (o.command.isNotEmpty())
        if (const auto why = CheckArguments (o); why.isNotEmpty())
            return fail (why);
    return result;
}

juce::String HelpText (const juce::String& command)
{
    const char* text = command == "ports"  ? kPortsHelp
                     : command == "update" ? kUpdateHelp
                     : command == "read"   ? kReadHelp
                     : command == "verify" ? kVerifyHelp
                     : command == "explain" ? kExplainHelp
                     : command == "help"   ? kHelpHelp
                                           : nullptr;
    if (text == nullptr)
        return kOverview + ExitStatusSummary();
    return juce::String (text) + "\nThe options every command takes and the exit statuses: kestrava-cli --help\n";
}

void PrintUsageError (const juce::String& command, const juce::String& message)
{
    const auto help = command.isEmpty() || command == "help" ? juce::String ("kestrava-cli --help")
                                                             : "kestrava-cli " + command + " --help";
    std::fprintf (stderr, "kestrava-cli: %s\nSee '%s'.\n", message.toRawUTF8(), help.toRawUTF8());
}
