#include "sim/SimFlash.h"
#include <algorithm>
#include <cstring>
#include <filesystem>

namespace
{
    /** Each byte of `dst` becomes dst & data: eight at a time. */
    void ClearBits (uint8_t* dst, const uint8_t* data, size_t n)
    {
        size_t i = 0;
        for (; i + 8 <= n; i += 8)
        {
            uint64_t a, b;
            std::memcpy (&a, dst + i, 8);
            std::memcpy (&b, data + i, 8);
            a &= b;
            std::memcpy (dst + i, &a, 8);
        }
        for (; i < n; ++i)
            dst[i] &= data[i];
    }
}

bool SimFlash::allEqual (const uint8_t* data, size_t size)
{
    return size == 0 || (data[0] == data[size - 1] && std::memcmp (data, data + 1, size - 1) == 0);
}

size_t SimFlash::bufferedPages() const
{
    size_t n = 0;
    for (const auto& entry : m_pages)
        n += entry.second.bytes != nullptr ? 1 : 0;
    return n;
}

void SimFlash::clear()
{
    m_pages.clear();
    m_spare.clear();
    m_slabs.clear();
}

// A page that had one value everywhere gets a buffer holding that value.
void SimFlash::giveBuffer (Page& page)
{
    if (m_spare.empty())
    {
        m_slabs.emplace_back (new uint8_t[kSlabPages * kPageBytes]);
        for (size_t i = kSlabPages; i-- > 0;)
            m_spare.push_back (m_slabs.back().get() + i * kPageBytes);
    }
    page.bytes = m_spare.back();
    m_spare.pop_back();
    std::memset (page.bytes, page.fill, kPageBytes);
}

void SimFlash::dropBuffer (Page& page)
{
    if (page.bytes != nullptr)
        m_spare.push_back (page.bytes);
    page.bytes = nullptr;
}

// Brings a page back to its compact form when its bytes are all equal, and
// forgets it when it is fully erased.
void SimFlash::settle (uint64_t index, Page& page)
{
    if (page.bytes != nullptr && allEqual (page.bytes, kPageBytes))
    {
        page.fill = page.bytes[0];
        dropBuffer (page);
    }
    if (page.bytes == nullptr && page.fill == 0xFF)
        m_pages.erase (index);
}

void SimFlash::read (uint64_t address, uint8_t* out, size_t size) const
{
    while (size > 0)
    {
        const uint64_t index = address / kPageBytes;
        const size_t offset = (size_t) (address % kPageBytes);
        const size_t n = std::min (size, kPageBytes - offset);
        const auto it = m_pages.find (index);
        if (it == m_pages.end())
            std::memset (out, 0xFF, n);
        else if (it->second.bytes == nullptr)
            std::memset (out, it->second.fill, n);
        else
            std::memcpy (out, it->second.bytes + offset, n);
        out += n;
        address += n;
        size -= n;
    }
}

void SimFlash::write (uint64_t address, const uint8_t* data, size_t size, Op op)
{
    while (size > 0)
    {
        const uint64_t index = address / kPageBytes;
        const size_t offset = (size_t) (address % kPageBytes);
        const size_t n = std::min (size, kPageBytes - offset);
        auto& page = m_pages[index];   // a new page starts erased

        if (page.bytes == nullptr && n == kPageBytes && allEqual (data, n))
        {
            page.fill = op == Op::Program ? (uint8_t) (page.fill & data[0]) : data[0];
        }
        else
        {
            if (page.bytes == nullptr)
                giveBuffer (page);
            auto* dst = page.bytes + offset;
            if (op == Op::Program)
                ClearBits (dst, data, n);
            else
                std::memcpy (dst, data, n);
        }
        settle (index, page);
        data += n;
        address += n;
        size -= n;
    }
}

void SimFlash::program (uint64_t address, const uint8_t* data, size_t size)
{
    write (address, data, size, Op::Program);
}

void SimFlash::load (uint64_t address, const uint8_t* data, size_t size)
{
    write (address, data, size, Op::Load);
}

void SimFlash::erase (uint64_t address, uint64_t size)
{
    while (size > 0)
    {
        const uint64_t index = address / kPageBytes;
        const size_t offset = (size_t) (address % kPageBytes);
        const uint64_t n = std::min<uint64_t> (size, kPageBytes - offset);
        const auto it = m_pages.find (index);
        if (it != m_pages.end())
        {
            auto& page = it->second;
            if (n == kPageBytes)
            {
                dropBuffer (page);
                m_pages.erase (it);
            }
            else
            {
                if (page.bytes == nullptr)
                    giveBuffer (page);
                std::memset (page.bytes + offset, 0xFF, (size_t) n);
                settle (index, page);
            }
        }
        address += n;
        size -= n;
    }
}

// The file keeps each byte inverted: a page that is erased on the flash is all
// zeros in the file, and those are never written, so they stay holes.
bool SimFlash::saveTo (const juce::File& file) const
{
    juce::TemporaryFile temp (file);
    {
        juce::FileOutputStream out (temp.getFile());
        if (! out.openedOk())
            return false;
        uint8_t inverted[kPageBytes];
        for (const auto& [index, page] : m_pages)
        {
            for (size_t i = 0; i < kPageBytes; ++i)
                inverted[i] = (uint8_t) ~(page.bytes != nullptr ? page.bytes[i] : page.fill);
            if (! out.setPosition ((int64_t) (index * kPageBytes)) || ! out.write (inverted, kPageBytes))
                return false;
        }
        out.flush();
        if (out.getStatus().failed())
            return false;
    }
    return temp.overwriteTargetFileWithTemporary();
}

bool SimFlash::loadFrom (const juce::File& file)
{
    clear();
    if (! file.exists())
        return true;
    // Anything but a regular file (a FIFO would wait for a writer) is no flash.
    std::error_code error;
    if (! std::filesystem::is_regular_file (std::filesystem::u8path (file.getFullPathName().toRawUTF8()), error))
        return false;
    juce::FileInputStream in (file);
    if (! in.openedOk())
        return false;
    uint8_t page[kPageBytes];
    for (uint64_t address = 0;; address += kPageBytes)
    {
        const int n = in.read (page, (int) kPageBytes);
        if (n < 0)
            break;
        if (n == 0)
            return true;
        if (! allEqual (page, (size_t) n) || page[0] != 0)
        {
            for (int i = 0; i < n; ++i)
                page[i] = (uint8_t) ~page[i];
            load (address, page, (size_t) n);
        }
        if (n < (int) kPageBytes)
            return true;
    }
    clear();
    return false;
}
