// Writes the table of what can go wrong into the user's guide and into the
// manual page of kestrava-cli, at build time, so that neither can disagree
// with the program. A tool for the build machine: plain C++, no JUCE.
//
//   MakeHelpTables guide IN.md OUT.md     replaces the line @KESTRAVA_TROUBLES@
//   MakeHelpTables man IN.1 OUT.1         replaces the line @KESTRAVA_EXIT_STATUS@
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>
#include "store/shared/Troubles.h"

namespace
{
    std::vector<const Trouble*> RowsOf (TroubleKind kind)
    {
        size_t count = 0;
        const auto* rows = AllTroubles (count);
        std::vector<const Trouble*> out;
        for (size_t i = 0; i < count; ++i)
            if (rows[i].kind == kind)
                out.push_back (&rows[i]);
        return out;
    }

    std::vector<std::string> Occasions (const char* text)
    {
        std::vector<std::string> out;
        std::string s (text);
        size_t from = 0;
        while (from < s.size())
        {
            auto to = s.find ("; ", from);
            if (to == std::string::npos)
                to = s.size();
            out.push_back (s.substr (from, to - from));
            from = to + 2;
        }
        return out;
    }

    /** Text safe in Markdown: the characters that could start markup are escaped. */
    std::string Md (const std::string& text)
    {
        std::string out;
        for (char c : text)
        {
            if (std::string ("\\`*_[]<>#|").find (c) != std::string::npos)
                out += '\\';
            out += c;
        }
        return out;
    }

    /** Text safe in roff: backslashes and minus signs written out, no request at a line's start. */
    std::string Roff (const std::string& text)
    {
        std::string out;
        for (char c : text)
        {
            if (c == '\\')
                out += "\\e";
            else if (c == '-')
                out += "\\-";
            else
                out += c;
        }
        if (! out.empty() && (out[0] == '.' || out[0] == '\''))
            out = "\\&" + out;
        return out;
    }

    void RowInMarkdown (std::ostream& o, const Trouble& r, const std::string& anchor)
    {
        o << "### " << Md (r.shown) << " {#" << anchor << "}\n\n";
        o << "Cause\n:   " << Md (r.cause) << "\n\n";
        const auto when = Occasions (r.occasions);
        if (! when.empty())
        {
            o << "When\n";
            for (const auto& w : when)
                o << ":   " << Md (w) << "\n";
            o << "\n";
        }
        o << "First try\n:   " << Md (r.remedy) << "\n\n";
        if (*r.more != 0)
            o << "Then\n:   " << Md (r.more) << "\n\n";
    }

    std::string Guide()
    {
        // The numbers between the first code and the last that the program never shows.
        const auto codes = RowsOf (TroubleKind::ErrorCode);
        std::string unused;
        for (size_t i = 1; i < codes.size(); ++i)
            for (int n = codes[i - 1]->number + 1; n < codes[i]->number; ++n)
                unused += (unused.empty() ? "" : ", ") + std::to_string (n);

        std::ostringstream o;
        o << "## The error codes\n\n"
             "A failure that stops the work shows a box with the words Error Code and a number. "
             "kestrava-cli prints the same line, exits with the number and adds the cause and the first thing to try "
             "(kestrava-cli explain N prints the whole entry).";
        if (! unused.empty())
            o << " The numbers " << unused << " are not used.";
        o << "\n\n";
        for (const auto* r : RowsOf (TroubleKind::ErrorCode))
            RowInMarkdown (o, *r, "code-" + std::to_string (r->number));
        o << "## The other boxes\n\n";
        for (const auto* r : RowsOf (TroubleKind::Box))
            RowInMarkdown (o, *r, "box-" + std::to_string (r->number));
        o << "## The exit statuses of kestrava-cli\n\n"
             "A failure with an error code exits with the code itself (2 to 26, above). The others:\n\n"
             "| Status | Meaning | What to do |\n|---|------|------|\n";
        for (const auto* r : RowsOf (TroubleKind::Exit))
            o << "| " << Md (r->shown) << " | " << Md (r->cause) << " | " << Md (r->remedy) << " |\n";
        o << "\n";
        return o.str();
    }

    std::string Man()
    {
        std::ostringstream o;
        auto row = [&o] (const std::string& label, const Trouble& r)
        {
            o << ".TP\n.B " << label << "\n" << Roff (r.cause);
            if (r.kind == TroubleKind::ErrorCode)
                o << " When: " << Roff (r.occasions) << ".";
            o << "\n.br\n" << (r.kind == TroubleKind::Exit ? "What to do: " : "First try: ") << Roff (r.remedy) << "\n";
        };
        const auto exits = RowsOf (TroubleKind::Exit);
        for (const auto* r : exits)
        {
            if (r->number == CliExit::kUsage)
                for (const auto* e : RowsOf (TroubleKind::ErrorCode))
                    row (std::to_string (e->number), *e);
            row (std::to_string (r->number), *r);
        }
        return o.str();
    }

    int Replace (const char* in, const char* out, const std::string& mark, const std::string& text)
    {
        std::ifstream source (in, std::ios::binary);
        if (! source)
        {
            std::cerr << "MakeHelpTables: cannot read " << in << "\n";
            return 1;
        }
        std::ostringstream result;
        std::string line;
        bool found = false;
        while (std::getline (source, line))
        {
            if (line == mark)
            {
                result << text;
                found = true;
            }
            else
            {
                result << line << "\n";
            }
        }
        if (! found)
        {
            std::cerr << "MakeHelpTables: no line " << mark << " in " << in << "\n";
            return 1;
        }
        std::ofstream target (out, std::ios::binary | std::ios::trunc);
        target << result.str();
        if (! target)
        {
            std::cerr << "MakeHelpTables: cannot write " << out << "\n";
            return 1;
        }
        return 0;
    }
}

int main (int argc, char** argv)
{
    const std::string what = argc == 4 ? argv[1] : "";
    if (what == "guide")
        return Replace (argv[2], argv[3], "@KESTRAVA_TROUBLES@", Guide());
    if (what == "man")
        return Replace (argv[2], argv[3], "@KESTRAVA_EXIT_STATUS@", Man());
    std::cerr << "usage: MakeHelpTables guide|man IN OUT\n";
    return 2;
}
