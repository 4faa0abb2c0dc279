#include "DemoLogo.h"

namespace
{
const juce::Colour kBadgeTop { 0xff1596a3 };
const juce::Colour kBadgeBottom { 0xff0b5f6b };
const juce::Colour kPins { 0xff5b6b78 };
const juce::Colour kWing { 0xfff8fbfc };
const juce::Colour kAccent { 0xffd0672b };
const juce::Colour kText { 0xff1d2935 };

void DrawBadge (juce::Graphics& g, juce::Rectangle<float> box)
{
    // Pins on both sides, as on a chip package.
    g.setColour (kPins);
    const float pinW = 4.0f, pinH = 4.0f;
    for (int i = 0; i < 3; ++i)
    {
        const float y = box.getY() + box.getHeight() * (0.25f + 0.25f * (float) i) - pinH * 0.5f;
        g.fillRect (box.getX() - pinW + 0.5f, y, pinW, pinH);
        g.fillRect (box.getRight() - 0.5f, y, pinW, pinH);
    }

    g.setGradientFill (juce::ColourGradient (kBadgeTop, box.getTopLeft(), kBadgeBottom, box.getBottomLeft(), false));
    g.fillRoundedRectangle (box, 8.0f);

    // A kestrel hovering with its wings spread, seen from the front.
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
    g.setColour (kWing);
    g.fillPath (bird);

    // The tail, in the accent colour.
    juce::Path tail;
    tail.startNewSubPath (at (-2.6f, 9.5f));
    tail.lineTo (at (2.6f, 9.5f));
    tail.lineTo (at (0.0f, 13.8f));
    tail.closeSubPath();
    g.setColour (kAccent);
    g.fillPath (tail);
}

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
