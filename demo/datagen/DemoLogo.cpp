#include "DemoLogo.h"

namespace
{
const juce::Colour kBadgeTop { 0xff1596a3 };
const juce::Colour kBadgeBottom { 0xff0b5f6b };
const juce::Colour kPins { 0xff5b6b78 };
const juce::Colour kWing { 0xfff8fbfc };
const juce::Colour kAccent { 0xffd0672b };
const juce::Colour kText { 0xff1d2935 };

/** The pins on both sides, as on a chip package. */
juce::Array<juce::Rectangle<float>> BadgePins (juce::Rectangle<float> box)
{
    const float pinW = 4.0f * box.getWidth() / 44.0f, pinH = pinW;
    juce::Array<juce::Rectangle<float>> pins;
    for (int i = 0; i < 3; ++i)
    {
        const float y = box.getY() + box.getHeight() * (0.25f + 0.25f * (float) i) - pinH * 0.5f;
        pins.add ({ box.getX() - pinW + 0.5f, y, pinW, pinH });
        pins.add ({ box.getRight() - 0.5f, y, pinW, pinH });
    }
    return pins;
}

/** A kestrel hovering with its wings spread, seen from the front. */
juce::Path BadgeBird (juce::Rectangle<float> box)
{
    const auto c = box.getCentre();
    const float s = box.getWidth() / 44.0f;
    auto at = [&] (float x, float y) { return juce::Point<float> (c.x + x * s, c.y + y * s); };
    juce::Path bird;
    bird.startNewSubPath (at (-18.0f, -7.0f));
    bird.quadraticTo (at (-9.0f, -9.0f), at (-2.5f, 1.0f));
    bird.lineTo (at (0.0f, -1.5f));
    bird.lineTo (at (2.5f, 1.0f));
    bird.quadraticTo (at (9.0f, -9.0f), at (18.0f, -7.0f));
    bird.quadraticTo (at (9.0f, -3.0f), at (3.0f, 8.0f));
    bird.lineTo (at (0.0f, 13.0f));
    bird.lineTo (at (-3.0f, 8.0f));
    bird.quadraticTo (at (-9.0f, -3.0f), at (-18.0f, -7.0f));
    bird.closeSubPath();
    return bird;
}

/** The tail, drawn in the accent colour over the bird. */
juce::Path BadgeTail (juce::Rectangle<float> box)
{
    const auto c = box.getCentre();
    const float s = box.getWidth() / 44.0f;
    juce::Path tail;
    tail.addTriangle (c.x - 2.6f * s, c.y + 9.5f * s, c.x + 2.6f * s, c.y + 9.5f * s, c.x, c.y + 13.8f * s);
    return tail;
}

float BadgeCorner (juce::Rectangle<float> box)
{
    return 8.0f * box.getWidth() / 44.0f;
}

/** A path in SVG's path syntax. */
juce::String SvgPathData (const juce::Path& path)
{
    juce::String d;
    auto n = [] (float v) { return juce::String (v, 3).trimCharactersAtEnd ("0").trimCharactersAtEnd ("."); };
    for (juce::Path::Iterator i (path); i.next();)
    {
        using E = juce::Path::Iterator::PathElementType;
        switch (i.elementType)
        {
            case E::startNewSubPath: d << "M" << n (i.x1) << " " << n (i.y1); break;
            case E::lineTo:          d << "L" << n (i.x1) << " " << n (i.y1); break;
            case E::quadraticTo:     d << "Q" << n (i.x1) << " " << n (i.y1) << " " << n (i.x2) << " " << n (i.y2); break;
            case E::cubicTo:         d << "C" << n (i.x1) << " " << n (i.y1) << " " << n (i.x2) << " " << n (i.y2)
                                           << " " << n (i.x3) << " " << n (i.y3); break;
            case E::closePath:       d << "Z"; break;
        }
    }
    return d;
}

juce::String Hex (juce::Colour c)
{
    return "#" + c.toDisplayString (false).toLowerCase();
}
} // namespace

void DrawBadge (juce::Graphics& g, juce::Rectangle<float> box)
{
    g.setColour (kPins);
    for (const auto& pin : BadgePins (box))
        g.fillRect (pin);

    g.setGradientFill (juce::ColourGradient (kBadgeTop, box.getTopLeft(), kBadgeBottom, box.getBottomLeft(), false));
    g.fillRoundedRectangle (box, BadgeCorner (box));

    g.setColour (kWing);
    g.fillPath (BadgeBird (box));
    g.setColour (kAccent);
    g.fillPath (BadgeTail (box));
}

juce::String BadgeSvg (int size)
{
    const auto box = BadgeBox ((float) size);
    juce::String svg;
    svg << "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
        << "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" << size << "\" height=\"" << size
        << "\" viewBox=\"0 0 " << size << " " << size << "\">\n"
        << "  <defs><linearGradient id=\"badge\" x1=\"0\" y1=\"0\" x2=\"0\" y2=\"1\">"
        << "<stop offset=\"0\" stop-color=\"" << Hex (kBadgeTop) << "\"/>"
        << "<stop offset=\"1\" stop-color=\"" << Hex (kBadgeBottom) << "\"/></linearGradient></defs>\n";
    for (const auto& pin : BadgePins (box))
        svg << "  <rect x=\"" << pin.getX() << "\" y=\"" << pin.getY() << "\" width=\"" << pin.getWidth()
            << "\" height=\"" << pin.getHeight() << "\" fill=\"" << Hex (kPins) << "\"/>\n";
    svg << "  <rect x=\"" << box.getX() << "\" y=\"" << box.getY() << "\" width=\"" << box.getWidth()
        << "\" height=\"" << box.getHeight() << "\" rx=\"" << BadgeCorner (box) << "\" fill=\"url(#badge)\"/>\n"
        << "  <path d=\"" << SvgPathData (BadgeBird (box)) << "\" fill=\"" << Hex (kWing) << "\"/>\n"
        << "  <path d=\"" << SvgPathData (BadgeTail (box)) << "\" fill=\"" << Hex (kAccent) << "\"/>\n"
        << "</svg>\n";
    return svg;
}

juce::Rectangle<float> BadgeBox (float size)
{
    // The badge and its pins (4 of 44 on each side) fill the square.
    const float side = size * 44.0f / 52.0f;
    return { (size - side) * 0.5f, (size - side) * 0.5f, side, side };
}

namespace
{
void DrawName (juce::Graphics& g, juce::Rectangle<float> area)
{
    juce::Font font (juce::Font::getDefaultSansSerifFontName(), 42.0f, juce::Font::bold);
    font.setExtraKerningFactor (0.02f);
    g.setFont (font);
    g.setColour (kText);
    g.drawText ("Kestrava", area.withTrimmedBottom (6.0f), juce::Justification::centredLeft, false);

    // A short accent bar under the name.
    const float textWidth = font.getStringWidthFloat ("Kestrava");
    g.setColour (kAccent);
    g.fillRoundedRectangle (area.getX() + 2.0f, area.getBottom() - 6.0f, juce::jmin (textWidth, area.getWidth()) * 0.42f, 3.5f, 1.75f);
}
} // namespace

juce::Image DrawLogo()
{
    juce::Image image (juce::Image::ARGB, kLogoWidth, kLogoHeight, true, juce::SoftwareImageType());
    juce::Graphics g (image);
    DrawBadge (g, { 6.0f, 4.0f, 44.0f, 44.0f });
    DrawName (g, { 64.0f, 2.0f, (float) kLogoWidth - 66.0f, (float) kLogoHeight - 4.0f });
    return image;
}

juce::MemoryBlock EncodePng (const juce::Image& image)
{
    juce::MemoryOutputStream out;
    juce::PNGImageFormat png;
    if (! png.writeImageToStream (image, out))
        return {};
    return out.getMemoryBlock();
}
