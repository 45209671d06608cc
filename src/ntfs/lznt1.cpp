#include "ntfs/lznt1.h"

#include <cstring>

namespace kvl {

namespace {

constexpr int32_t block_size = 4096;

uint16_t le16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

// One compressed block from in[0, in_size) into out[0, 4096); false when it is malformed.
bool decode_block(uint8_t* out, const uint8_t* in, int32_t in_size) {
    int32_t op = 0;
    int32_t ip = 0;
    while (ip < in_size) {
        const uint8_t flags = in[ip++];
        for (int bit = 0; bit < 8 && ip < in_size; ++bit) {
            if (!(flags & (1 << bit))) {
                if (op >= block_size) return false;
                out[op++] = in[ip++];
                continue;
            }
            if (ip + 2 > in_size || op == 0) return false;
            const uint16_t token = le16(in + ip);
            ip += 2;
            // The further into the block, the more bits the back-reference's offset takes.
            int shift = 0;
            for (int32_t i = op - 1; i >= 0x10; i >>= 1) ++shift;
            const int32_t distance = (token >> (12 - shift)) + 1;
            const int32_t length = (token & (0xFFF >> shift)) + 3;
            if (distance > op || op + length > block_size) return false;
            for (int32_t k = 0; k < length; ++k, ++op) out[op] = out[op - distance];
        }
    }
    std::memset(out + op, 0, static_cast<size_t>(block_size - op));
    return true;
}

}  // namespace

bool lznt1_decompress(uint8_t* output, int32_t output_size, const uint8_t* input, int32_t input_size) {
    int32_t op = 0;
    int32_t ip = 0;
    while (input_size - ip >= 2 && op < output_size) {
        const uint16_t header = le16(input + ip);
        if (header == 0) break;
        const int32_t end = ip + (header & 0xFFF) + 3;
        // The block must lie inside the input; a short last block (a header and one literal) is valid.
        if (output_size - op < block_size || end > input_size) return true;
        if (!(header & 0x8000)) {
            if ((header & 0xFFF) != 0xFFF) return true;
            std::memcpy(output + op, input + ip + 2, block_size);
        } else if (!decode_block(output + op, input + ip + 2, end - ip - 2)) {
            return true;
        }
        op += block_size;
        ip = end;
    }
    return false;
}

}  // namespace kvl
