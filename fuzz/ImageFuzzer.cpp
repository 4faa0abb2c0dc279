// Fuzz target: the image checks of "Program" and "Browse...": the "BD"
// marker check and the measuring of the chosen file.
//
// The input describes an image rather than being one, so that the marker
// places (64 KiB and 256 KiB in) and the sizes that matter (0x0C000000,
// 2 GiB) are reached: a size, then patches of bytes at offsets near the
// places that matter. The file is made sparse, so even a 3 GiB image costs
// nothing. The results are compared with a model of the file in memory.
#include <cstdio>
#include <cstdlib>
#include <map>
#include "app/ChosenImage.h"
#include "fuzz/FuzzInput.h"
#include "fuzz/FuzzScratch.h"
#include "platform/Paths.h"
#include "platform/SystemCalls.h"

namespace
{
    void Fail (const char* what)
    {
        std::fprintf (stderr, "image: %s\n", what);
        std::abort();
    }

    /** Sizes worth reaching: around the marker places, the full image and 2 GiB. */
    const int64_t kSizeBases[] = { 0, 0xFFF8, 0x3FFF8, 0x100000, kFullImageSize, 0x7FFFFFFF, 0x80000000LL, 0xC0000000LL };
    /** Places patches are put near. */
    const int64_t kPatchBases[] = { 0, 0xFFF8, 0x3FFF8 };
    /** Names of the image, some not ASCII. */
    const char* const kNames[] = { "image.bin", "Bild \xC3\xA4\xC3\xB6\xC3\xBC.bin", "\xE6\x97\xA5\xE6\x9C\xAC.rom", "x.rom" };

    int64_t ReadSize (FuzzInput& in)
    {
        const uint8_t choice = in.Byte();
        if (choice & 0x80)
            return (int64_t) in.Word() | ((int64_t) in.Byte() << 16);   // anything up to 16 MiB
        const int64_t base = kSizeBases[choice % (sizeof (kSizeBases) / sizeof (kSizeBases[0]))];
        const int64_t delta = (int8_t) in.Byte();
        return base + delta < 0 ? 0 : base + delta;
    }
}

extern "C" int LLVMFuzzerTestOneInput (const uint8_t* data, size_t size)
{
    FuzzInput in (data, size);
    const uint8_t flags = in.Byte();
    // Names from the list, or one whose path passes the 259 characters of a path buffer.
    const juce::String name = (flags & 0x40) != 0 ? juce::String::repeatedString ("L", 240) + ".bin"
                                                  : juce::String::fromUTF8 (kNames[flags % 4]);
    const bool tooLong = FuzzScratchFolder().getChildFile (name).getFullPathName().length() >= kMaxPath;
    const int64_t imageSize = ReadSize (in);

    const auto file = FuzzScratchFolder().getChildFile (name);
    file.deleteRecursively();
    if (flags & 0x80)
    {
        // A folder named like an image: neither measured nor checked.
        file.createDirectory();
        if (MeasureImageFile (file.getFullPathName()) != -1 || OpenFileW (file.getFullPathName(), "rb") != nullptr)
            Fail ("a folder was taken for an image");
        file.deleteRecursively();
        return 0;
    }
    if (! MakeSparseScratchFile (name, imageSize))
        return 0;

    // Patches: a base place, a signed distance from it, then up to 16 bytes.
    std::map<int64_t, uint8_t> model;
    if (std::FILE* f = std::fopen (file.getFullPathName().toRawUTF8(), "r+b"))
    {
        for (int patches = 0; in.More() && patches < 64; ++patches)
        {
            const int64_t base = kPatchBases[in.Byte() % 3];
            const int64_t at = base + (int8_t) in.Byte();
            const uint8_t* bytes = nullptr;
            const size_t n = in.Take (in.Byte() % 17, &bytes);
            for (size_t i = 0; i < n; ++i)
            {
                const int64_t place = at + (int64_t) i;
                if (place < 0 || place >= imageSize)
                    continue;
                std::fseek (f, (long) place, SEEK_SET);
                std::fputc (bytes[i], f);
                model[place] = bytes[i];
            }
        }
        std::fclose (f);
    }

    const auto byteAt = [&] (int64_t place) -> int
    {
        if (place >= imageSize)
            return -1;
        const auto it = model.find (place);
        return it == model.end() ? 0 : it->second;
    };
    const bool low = byteAt (0xFFF8) == 'B' && byteAt (0xFFF9) == 'D';
    const bool high = byteAt (0x3FFF8) == 'B' && byteAt (0x3FFF9) == 'D';

    std::FILE* image = OpenFileW (file.getFullPathName(), "rb");
    if (image == nullptr)
        Fail ("an image could not be opened");
    const auto markers = ReadImageMarkers (image);
    std::fclose (image);
    if (markers.nCount != (low ? 1 : 0) + (high ? 1 : 0))
        Fail ("the markers were miscounted");
    if (markers.nCount > 0 && markers.nBank != (high ? 1 : 0))
        Fail ("the wrong marker place was chosen");

    const int64_t measured = MeasureImageFile (file.getFullPathName());
    if (measured != (tooLong ? -1 : imageSize))
        Fail ("the image was mismeasured");
    const bool usable = ! tooLong && imageSize < 0x80000000LL;
    if (IsUsableImageSize (measured) != usable)
        Fail ("a size beyond 32 bits or a path beyond a path buffer was taken, or a usable file refused");
    std::FILE* chosen = OpenChosenImage (file.getFullPathName());
    if ((chosen != nullptr) != usable)
        Fail ("the chosen image opens where it cannot be measured, or the other way round");
    if (chosen != nullptr)
        std::fclose (chosen);

    file.deleteFile();
    return 0;
}
