#include "cli/ModuleBoard.h"
#include <algorithm>
#include "platform/ConsoleText.h"

ModuleBoard::ModuleBoard (std::FILE* out, const juce::StringArray& labels) : m_pOut (out)
{
    for (auto& label : labels)
    {
        m_Rows.push_back ({ label, {}, {} });
        m_Rows.back().meter.Phase ("starting");
        m_nWidth = std::max (m_nWidth, label.length());
    }
}

void ModuleBoard::Phase (int row, const juce::String& name)
{
    m_Rows[(size_t) row].meter.Phase (name);
}

void ModuleBoard::Progress (int row, int64_t done, int64_t total)
{
    m_Rows[(size_t) row].meter.Progress (done, total);
}

void ModuleBoard::End (int row, const juce::String& text)
{
    m_Rows[(size_t) row].ended = text;
}

juce::String ModuleBoard::RowText (const Row& row) const
{
    const auto state = row.ended.isNotEmpty() ? row.ended
                     : row.meter.HasProgress() ? row.meter.Text (false)
                                               : row.meter.PhaseName();
    const auto text = row.label.paddedRight (' ', m_nWidth) + "  " + state;
    // A row that wrapped would take two lines, and the redraw would go wrong.
    const int columns = ConsoleColumns();
    return columns > 1 ? text.substring (0, columns - 1) : text;
}

void ModuleBoard::Clear()
{
    // Up to the first row, and everything from there down erased.
    if (m_bDrawn)
        std::fprintf (m_pOut, "\x1b[%dA\r\x1b[J", (int) m_Rows.size());
    std::fflush (m_pOut);
    m_bDrawn = false;
}

void ModuleBoard::PrintAbove (std::FILE* stream, const juce::String& line)
{
    Clear();
    std::fputs ((line + "\n").toRawUTF8(), stream);
    std::fflush (stream);
    Draw();
}

void ModuleBoard::Draw()
{
    if (m_bDrawn)
        std::fprintf (m_pOut, "\x1b[%dA", (int) m_Rows.size());
    for (auto& row : m_Rows)
        std::fputs (("\r" + RowText (row) + "\x1b[K\n").toRawUTF8(), m_pOut);
    std::fflush (m_pOut);
    m_bDrawn = true;
}
