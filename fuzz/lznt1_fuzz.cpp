// LZNT1: one compression unit of 1 to 16 blocks of 4096 bytes, decoded from the rest of the bytes.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "ntfs/lznt1.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    std::vector<uint8_t> output(size_t{4096} * (1 + data[0] % 16));
    kvl::lznt1_decompress(output.data(), static_cast<int32_t>(output.size()), data + 1,
                          static_cast<int32_t>(size - 1));
    return 0;
}
