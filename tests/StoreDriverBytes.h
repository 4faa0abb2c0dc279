#pragma once
// Builds driver files byte by byte for the catalog and geometry tests.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace storetest
{

/** A 16-byte name field: the text, then `pad` bytes up to 16. */
inline std::string NameField (const std::string& text, char pad = '\xFF')
{
    std::string field = text.substr (0, 16);
    field.resize (16, pad);
    return field;
}

/** Head, region table (size in KiB, count), optional four zero bytes, then the raw name fields. */
inline std::string DriverBytes (const std::vector<std::pair<uint16_t, uint16_t>>& regions,
                                const std::string& mcuField, const std::string& flashField,
                                bool terminated = true)
{
    std::string bytes (16, '\x5A');
    for (const auto& [kib, count] : regions)
    {
        bytes += (char) (kib & 0xFF);
        bytes += (char) (kib >> 8);
        bytes += (char) (count & 0xFF);
        bytes += (char) (count >> 8);
    }
    if (terminated)
        bytes += std::string (4, '\0');
    return bytes + mcuField + flashField + "driver code follows";
}

} // namespace storetest
