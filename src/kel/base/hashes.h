// Hash functions: CRC-32 (the package checksum), MD5, Bob Jenkins' lookup3
// and the ELF string hash.
//
// The hash classes are never instantiated: every operation is static and
// works on a state value the caller keeps between calls (`Initialize`,
// `Update`..., `Finalize`).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace kel {

// Feeds bytes into the package checksum: CRC-32 with the polynomial
// 04C11DB7 processed most-significant bit first, neither input nor output
// reflected, initial value 0 and no final XOR ("abc" gives 2C17398C). This is
// not the common reflected CRC-32 of ZIP files.
uint32_t kelCrc32Update(uint32_t crc, const void* data, size_t count);

// The ELF hash over the UTF-16 code units of the text; with ignoreCase over
// the case keys of its characters (see kelCaseKey), so that names equal
// ignoring case hash alike.
uint32_t kelElfHash(std::string_view text, bool ignoreCase);

}  // namespace kel
