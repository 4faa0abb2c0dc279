#pragma once
// A minimal one-page PDF writer: lines of text in Helvetica or Helvetica-Bold,
// laid out top to bottom with word wrapping, in a file with a correct xref.
#include <juce_graphics/juce_graphics.h>

/** Lays text out on one A4 page and writes the PDF file. */
class PdfPage
{
public:
    /** A page with the given margin (points) on every side. */
    explicit PdfPage (float margin);

    /** Adds a paragraph, wrapped to the text width; `bold` picks Helvetica-Bold. */
    void AddParagraph (const juce::String& text, float size, bool bold, juce::Colour colour, float spaceAfter);

    /** Whether everything added so far fits on the page. */
    bool Fits() const;

    /** The complete PDF file, with `title` in its document information. */
    juce::MemoryBlock Build (const juce::String& title) const;

    /** Width of a text in points for the given font, from the standard font metrics. */
    static float TextWidth (const juce::String& text, float size, bool bold);

private:
    static constexpr float kPageWidth = 595.0f;
    static constexpr float kPageHeight = 842.0f;

    float m_fMargin;
    float m_fY;
    juce::String m_strContent;
};
