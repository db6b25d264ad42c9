// CRC-32 (IEEE 802.3, reflected, as zlib's crc32) of the LZM expander's
// output, sixteen bytes a step from a table the run builds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "compress/lzma/lzma_state.h"

namespace vorn::lzma {

inline constexpr size_t kCrcTableSize = kCrcTables * 256;

// Fills table (kCrcTableSize entries): row k gives the CRC of a byte
// followed by k zero bytes.
void BuildCrcTable(uint32_t* table);

// Whether the processor multiplies without carries (PCLMULQDQ), which lets
// UpdateCrc32 fold long stretches sixteen bytes at a time. Asking costs
// microseconds in a virtual machine: a run asks once.
bool HasCarrylessMultiply();

// The CRC of data continuing one of the bytes before it (0 for none), as
// zlib's crc32(crc, data, size); carryless only where the processor has it.
uint32_t UpdateCrc32(const uint32_t* table, uint32_t crc, const uint8_t* data, size_t size, bool carryless);

}  // namespace vorn::lzma
