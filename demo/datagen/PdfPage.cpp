#include "PdfPage.h"

namespace
{
// Advance widths (1/1000 em) of the printable ASCII characters 32..126.
const int kHelvetica[95] = {
    278, 278, 355, 556, 556, 889, 667, 191, 333, 333, 389, 584, 278, 333, 278, 278,
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 278, 278, 584, 584, 584, 556,
    1015, 667, 667, 722, 722, 667, 611, 778, 722, 278, 500, 667, 556, 833, 722, 778,
    667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 278, 278, 278, 469, 556,
    333, 556, 556, 500, 556, 556, 278, 556, 556, 222, 222, 500, 222, 833, 556, 556,
    556, 556, 333, 500, 278, 556, 500, 722, 500, 500, 500, 334, 260, 334, 584 };

const int kHelveticaBold[95] = {
    278, 333, 474, 556, 556, 889, 722, 238, 333, 333, 389, 584, 278, 333, 278, 278,
    556, 556, 556, 556, 556, 556, 556, 556, 556, 556, 333, 333, 584, 584, 584, 611,
    975, 722, 722, 722, 722, 667, 611, 778, 722, 278, 556, 722, 611, 833, 722, 778,
    667, 778, 722, 667, 611, 722, 667, 944, 667, 667, 611, 333, 278, 333, 584, 556,
    333, 556, 611, 556, 611, 556, 333, 611, 611, 278, 278, 556, 278, 889, 611, 611,
    611, 611, 389, 556, 333, 611, 556, 778, 556, 556, 500, 389, 280, 389, 584 };

juce::String Escape (const juce::String& text)
{
    juce::String out;
    for (auto c : text)
    {
        if (c == '(' || c == ')' || c == '\\')
            out << '\\';
        out << juce::String::charToString (c >= 32 && c < 127 ? c : (juce::juce_wchar) '?');
    }
    return out;
}

juce::String Num (float v)
{
    return juce::String (v, 2).trimCharactersAtEnd ("0").trimCharactersAtEnd (".");
}
} // namespace

PdfPage::PdfPage (float margin) : m_fMargin (margin), m_fY (kPageHeight - margin) {}

float PdfPage::TextWidth (const juce::String& text, float size, bool bold)
{
    const int* widths = bold ? kHelveticaBold : kHelvetica;
    int units = 0;
    for (auto c : text)
        units += widths[(c >= 32 && c < 127 ? c : '?') - 32];
    return (float) units * size / 1000.0f;
}

void PdfPage::AddParagraph (const juce::String& text, float size, bool bold, juce::Colour colour, float spaceAfter)
{
    const float maxWidth = kPageWidth - 2.0f * m_fMargin;
    const float leading = size * 1.3f;
    const auto words = juce::StringArray::fromTokens (text, " ", "");

    juce::StringArray lines;
    juce::String line;
    for (const auto& w : words)
    {
        const auto candidate = line.isEmpty() ? w : line + " " + w;
        if (line.isNotEmpty() && TextWidth (candidate, size, bold) > maxWidth)
        {
            lines.add (line);
            line = w;
        }
        else
        {
            line = candidate;
        }
    }
    if (line.isNotEmpty())
        lines.add (line);

    m_strContent << Num (colour.getFloatRed()) << " " << Num (colour.getFloatGreen()) << " "
                 << Num (colour.getFloatBlue()) << " rg\n";
    for (const auto& l : lines)
    {
        m_fY -= size;
        m_strContent << "BT /" << (bold ? "F2 " : "F1 ") << Num (size) << " Tf 1 0 0 1 "
                     << Num (m_fMargin) << " " << Num (m_fY) << " Tm (" << Escape (l) << ") Tj ET\n";
        m_fY -= leading - size;
    }
    m_fY -= spaceAfter;
}

bool PdfPage::Fits() const
{
    return m_fY >= m_fMargin;
}

juce::MemoryBlock PdfPage::Build (const juce::String& title) const
{
    const auto content = m_strContent.toStdString();

    juce::StringArray objects;
    objects.add ("<< /Type /Catalog /Pages 2 0 R >>");
    objects.add ("<< /Type /Pages /Kids [3 0 R] /Count 1 >>");
    objects.add ("<< /Type /Page /Parent 2 0 R /MediaBox [0 0 595 842] "
                 "/Resources << /Font << /F1 4 0 R /F2 5 0 R >> >> /Contents 6 0 R >>");
    objects.add ("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica /Encoding /WinAnsiEncoding >>");
    objects.add ("<< /Type /Font /Subtype /Type1 /BaseFont /Helvetica-Bold /Encoding /WinAnsiEncoding >>");
    objects.add ("<< /Length " + juce::String ((int) content.size()) + " >>\nstream\n"
                 + juce::String (content) + "endstream");
    objects.add ("<< /Title (" + Escape (title) + ") /Producer (Kestrava) >>");

    juce::MemoryOutputStream out;
    out << "%PDF-1.4\n";
    const char binaryMark[] = { '%', (char) 0xE2, (char) 0xE3, (char) 0xCF, (char) 0xD3, '\n' };
    out.write (binaryMark, sizeof (binaryMark));

    juce::Array<juce::int64> offsets;
    for (int i = 0; i < objects.size(); ++i)
    {
        offsets.add (out.getPosition());
        out << juce::String (i + 1) << " 0 obj\n" << objects[i] << "\nendobj\n";
    }

    const auto xref = out.getPosition();
    out << "xref\n0 " << juce::String (objects.size() + 1) << "\n";
    out << "0000000000 65535 f \n";
    for (auto o : offsets)
        out << juce::String (o).paddedLeft ('0', 10) << " 00000 n \n";
    out << "trailer\n<< /Size " << juce::String (objects.size() + 1)
        << " /Root 1 0 R /Info " << juce::String (objects.size()) << " 0 R >>\n"
        << "startxref\n" << juce::String (xref) << "\n%%EOF\n";
    return out.getMemoryBlock();
}
