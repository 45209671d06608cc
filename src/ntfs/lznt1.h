#pragma once

#include <cstdint>

namespace kvl {

// Decodes the LZNT1 data of one NTFS compression unit, 4096-byte block by block, into output.
// Answers true when the data is malformed (the convention of data_chunks::filter_fn); nothing is
// ever written outside output.
bool lznt1_decompress(uint8_t* output, int32_t output_size, const uint8_t* input, int32_t input_size);

}  // namespace kvl
