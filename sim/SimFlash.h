#pragma once
// A sparse NOR flash: 4 KiB pages kept only where they differ from the
// erased state, erased bytes 0xFF, programming that can only clear bits.
// Pages whose bytes are all equal are kept as that one value, so a large
// image of one filler costs almost no memory. Not thread-safe on its own.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>
#include <juce_core/juce_core.h>

class SimFlash
{
public:
    static constexpr size_t kPageBytes = 4096;   ///< size of one stored page

    /** An erased flash. */
    SimFlash() = default;
    SimFlash (const SimFlash&) = delete;
    SimFlash& operator= (const SimFlash&) = delete;

    /** Copies `size` bytes from `address` on into `out`. */
    void read (uint64_t address, uint8_t* out, size_t size) const;
    /** Programs bytes: each stored byte becomes old & data. */
    void program (uint64_t address, const uint8_t* data, size_t size);
    /** Erases a range: every byte becomes 0xFF. */
    void erase (uint64_t address, uint64_t size);
    /** Stores bytes as they are, whatever was there (tests preload with it). */
    void load (uint64_t address, const uint8_t* data, size_t size);
    /** Erases everything. */
    void clear();
    /** Pages that hold something other than erased bytes. */
    size_t usedPages() const { return m_pages.size(); }
    /** Pages that need a buffer of their own (not all bytes equal). */
    size_t bufferedPages() const;

    /** Replaces `file` with the flash, every byte inverted: erased flash becomes
        zeros, which are left as holes, so the file stays sparse. False when it
        cannot be written (the old file is then kept). */
    bool saveTo (const juce::File& file) const;
    /** Replaces the flash with a file written by saveTo (a missing file is an
        erased flash). False when the file cannot be read; the flash is then erased. */
    bool loadFrom (const juce::File& file);

private:
    struct Page
    {
        uint8_t fill = 0xFF;                   // every byte, while `bytes` is null
        uint8_t* bytes = nullptr;              // the page, when its bytes differ: a buffer of the slabs
    };

    enum class Op { Program, Load };

    void write (uint64_t address, const uint8_t* data, size_t size, Op op);
    static bool allEqual (const uint8_t* data, size_t size);
    void settle (uint64_t index, Page& page);
    void giveBuffer (Page& page);
    void dropBuffer (Page& page);

    static constexpr size_t kSlabPages = 64;
    std::unordered_map<uint64_t, Page> m_pages;
    std::vector<std::unique_ptr<uint8_t[]>> m_slabs;   // page buffers, kSlabPages to a slab: one allocation for many pages
    std::vector<uint8_t*> m_spare;                      // buffers of the slabs that no page holds
};
