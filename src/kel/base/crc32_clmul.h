// The two engines behind kelCrc32Update (see hashes.h): the portable
// table-driven routine and a routine for x86-64 processors with carry-less
// multiplication (PCLMULQDQ). kelCrc32Update picks one at run time; both
// give the same CRC for the same bytes. Exposed for tests and benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kel {

// Slicing-by-16 table routine; any count.
uint32_t kelCrc32Table(uint32_t crc, const void* data, size_t count);

// Whether this processor runs kelCrc32Clmul (x86-64 with PCLMULQDQ and
// SSSE3); decided once.
bool kelCrc32ClmulSupported();

// Carry-less-multiplication routine; any count (short inputs go to the table
// routine). Call it only when kelCrc32ClmulSupported() is true.
uint32_t kelCrc32Clmul(uint32_t crc, const void* data, size_t count);

}  // namespace kel
