#pragma once
// kestrava-cli --all on a terminal: one line per module (its port, phase,
// percentage, rate and time left), redrawn in place; other lines are printed
// above them.
#include <cstdio>
#include <vector>
#include "cli/ProgressMeter.h"

class ModuleBoard
{
public:
    /** One row per label, drawn on `out`. */
    ModuleBoard (std::FILE* out, const juce::StringArray& labels);

    /** Row `row` entered a phase ("connected" shows before the first). */
    void Phase (int row, const juce::String& name);
    /** Row `row`'s progress in its phase. */
    void Progress (int row, int64_t done, int64_t total);
    /** Row `row` ended: its last text stays. */
    void End (int row, const juce::String& text);
    /** Prints a line above the rows, on `stream` (stdout or stderr). */
    void PrintAbove (std::FILE* stream, const juce::String& line);
    /** Draws the rows again where they are (the rates and times move on). */
    void Draw();

private:
    struct Row
    {
        juce::String label;
        ProgressMeter meter;
        juce::String ended;    // the text of a row that ended
    };
    juce::String RowText (const Row& row) const;
    void Clear();

    std::FILE* const m_pOut;
    std::vector<Row> m_Rows;
    int m_nWidth = 0;
    bool m_bDrawn = false;   // the rows are on screen, the cursor under them
};
