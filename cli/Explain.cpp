#include "cli/Explain.h"
#include <cstdio>
#include "cli/ExitStatus.h"
#include "store/shared/Troubles.h"

namespace
{
    juce::String Text (const char* utf8) { return juce::String::fromUTF8 (utf8); }

    /** The row as lines: what is shown, then cause, occasions, remedy and further steps. */
    juce::String RowText (const Trouble& row)
    {
        juce::String s = Text (row.shown) + "\n";
        auto add = [&s] (const char* label, const char* text)
        {
            if (text != nullptr && *text != 0)
                s << "  " << label << Text (text) << "\n";
        };
        add ("Cause:      ", row.cause);
        if (*row.occasions != 0)
        {
            // One occasion a line.
            juce::StringArray when;
            when.addTokens (Text (row.occasions), ";", "");
            when.trim();
            for (int i = 0; i < when.size(); ++i)
                s << "  " << (i == 0 ? "When:       " : "            ") << when[i] << "\n";
        }
        add ("First try:  ", row.remedy);
        add ("Then:       ", row.more);
        return s;
    }

    void EmitJson (const Trouble& row)
    {
        auto* o = new juce::DynamicObject();
        o->setProperty ("event", "explain");
        o->setProperty ("kind", row.kind == TroubleKind::ErrorCode ? "error code" : row.kind == TroubleKind::Box ? "box" : "exit status");
        if (row.kind != TroubleKind::Box)
            o->setProperty ("number", row.number);
        o->setProperty ("shown", Text (row.shown));
        o->setProperty ("cause", Text (row.cause));
        o->setProperty ("occasions", Text (row.occasions));
        o->setProperty ("remedy", Text (row.remedy));
        o->setProperty ("more", Text (row.more));
        std::printf ("%s\n", juce::JSON::toString (juce::var (o), true).toRawUTF8());
    }
}

int RunExplainCommand (const CliOptions& options)
{
    size_t count = 0;
    const auto* rows = AllTroubles (count);
    std::vector<const Trouble*> chosen;
    if (options.arguments.isEmpty())
    {
        for (size_t i = 0; i < count; ++i)
            chosen.push_back (&rows[i]);
    }
    else
    {
        const auto& n = options.arguments[0];
        const auto* row = n.containsOnly ("0123456789") && n.length() <= 3 ? FindExitStatus (n.getIntValue()) : nullptr;
        if (row == nullptr)
        {
            PrintUsageError ("explain", "no error code or exit status " + n + " (kestrava-cli explain lists them)");
            return CliExit::kUsage;
        }
        chosen.push_back (row);
    }
    juce::String text;
    for (const auto* row : chosen)
    {
        if (options.json)
            EmitJson (*row);
        else
            text << (text.isEmpty() ? "" : "\n") << RowText (*row);
    }
    std::fputs (text.toRawUTF8(), stdout);
    return CliExit::kOk;
}

juce::String ExitStatusSummary()
{
    size_t count = 0;
    const auto* rows = AllTroubles (count);
    juce::String s;
    auto line = [&s] (const juce::String& number, const juce::String& text)
    {
        s << "  " << number.paddedRight (' ', 7) << text << "\n";
    };
    for (size_t i = 0; i < count; ++i)
    {
        if (rows[i].kind != TroubleKind::Exit)
            continue;
        if (rows[i].number == CliExit::kUsage)
            line ("2-26", "the program's error code: \"Error Code N\" exits with N (kestrava-cli explain N)");
        line (juce::String (rows[i].number), Text (rows[i].cause));
    }
    return s;
}
