#include "packaging/IconFile.h"
#include "demo/datagen/DemoLogo.h"

namespace
{
    /** A 32-bit bitmap entry: the header (twice the height: colours, then
        mask), the BGRA rows bottom up, then the 1-bit mask (set where transparent). */
    juce::MemoryBlock BitmapEntry (const juce::Image& image)
    {
        const int n = image.getWidth();
        juce::MemoryOutputStream out;
        out.writeInt (40);        // header size
        out.writeInt (n);
        out.writeInt (n * 2);
        out.writeShort (1);       // planes
        out.writeShort (32);      // bits per pixel
        for (int i = 0; i < 6; ++i)
            out.writeInt (0);     // uncompressed; sizes, resolutions and palette unused

        const juce::Image::BitmapData pixels (image, juce::Image::BitmapData::readOnly);
        for (int y = n; --y >= 0;)
            for (int x = 0; x < n; ++x)
            {
                const auto c = pixels.getPixelColour (x, y);
                out.writeByte ((char) c.getBlue());
                out.writeByte ((char) c.getGreen());
                out.writeByte ((char) c.getRed());
                out.writeByte ((char) c.getAlpha());
            }
        const int maskRowBytes = (n + 31) / 32 * 4;
        for (int y = n; --y >= 0;)
        {
            std::vector<uint8_t> row ((size_t) maskRowBytes, 0);
            for (int x = 0; x < n; ++x)
                if (pixels.getPixelColour (x, y).getAlpha() == 0)
                    row[(size_t) x / 8] |= (uint8_t) (0x80 >> (x % 8));
            out.write (row.data(), row.size());
        }
        return out.getMemoryBlock();
    }
}

juce::MemoryBlock EncodeIco (const std::vector<juce::Image>& images)
{
    std::vector<juce::MemoryBlock> entries;
    for (const auto& image : images)
    {
        if (image.getWidth() != image.getHeight() || image.getWidth() < 1 || image.getWidth() > 256)
            return {};
        entries.push_back (image.getWidth() == 256 ? EncodePng (image) : BitmapEntry (image));
    }

    juce::MemoryOutputStream out;
    out.writeShort (0);       // reserved
    out.writeShort (1);       // an icon, not a cursor
    out.writeShort ((short) entries.size());
    int offset = 6 + 16 * (int) entries.size();
    for (size_t i = 0; i < entries.size(); ++i)
    {
        const int n = images[i].getWidth();
        out.writeByte ((char) (n == 256 ? 0 : n));   // 0 stands for 256
        out.writeByte ((char) (n == 256 ? 0 : n));
        out.writeByte (0);    // no palette
        out.writeByte (0);
        out.writeShort (1);   // planes
        out.writeShort (32);  // bits per pixel
        out.writeInt ((int) entries[i].getSize());
        out.writeInt (offset);
        offset += (int) entries[i].getSize();
    }
    for (const auto& entry : entries)
        out.write (entry.getData(), entry.getSize());
    return out.getMemoryBlock();
}
