#include "ntfs/lznt1.h"

#include <gtest/gtest.h>

#include <random>

#include "support/byte_builder.h"

namespace kvl {
namespace {

// A plain greedy LZNT1 encoder of one block, to produce back-references at every position.
std::vector<uint8_t> compress_block(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(2);
    const int32_t n = static_cast<int32_t>(data.size());
    int32_t pos = 0;
    while (pos < n) {
        const size_t flags_at = out.size();
        out.push_back(0);
        for (int bit = 0; bit < 8 && pos < n; ++bit) {
            int shift = 0;
            for (int32_t i = pos - 1; i >= 0x10; i >>= 1) ++shift;
            const int32_t max_distance = 1 << (4 + shift);
            const int32_t max_length = (0xFFF >> shift) + 3;
            int32_t best = 0, best_distance = 0;
            for (int32_t d = 1; d <= std::min(pos, max_distance); ++d) {
                int32_t length = 0;
                while (pos + length < n && length < max_length &&
                       data[static_cast<size_t>(pos + length)] == data[static_cast<size_t>(pos + length - d)])
                    ++length;
                if (length > best) {
                    best = length;
                    best_distance = d;
                }
            }
            if (best >= 3) {
                out[flags_at] |= static_cast<uint8_t>(1 << bit);
                const uint32_t token = static_cast<uint32_t>(best_distance - 1) << (12 - shift) |
                                       static_cast<uint32_t>(best - 3);
                out.push_back(static_cast<uint8_t>(token));
                out.push_back(static_cast<uint8_t>(token >> 8));
                pos += best;
            } else {
                out.push_back(data[static_cast<size_t>(pos++)]);
            }
        }
    }
    test::put(out, 0, 0xB000 | (out.size() - 3), 2);
    return out;
}

std::vector<uint8_t> stored_block(const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out(2);
    test::put(out, 0, 0x3FFF, 2);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

// Text with repeats at every distance up to 4 KiB, so every offset/length split is used.
std::vector<uint8_t> repetitive(size_t size, unsigned seed) {
    std::mt19937 random(seed);
    std::vector<uint8_t> data;
    while (data.size() < size) {
        if (data.size() > 16 && random() % 3 != 0) {
            const size_t distance = 1 + random() % std::min<size_t>(data.size(), 4096);
            const size_t length = 3 + random() % 40;
            for (size_t i = 0; i < length && data.size() < size; ++i)
                data.push_back(data[data.size() - distance]);
        } else {
            data.push_back(static_cast<uint8_t>('a' + random() % 26));
        }
    }
    return data;
}

TEST(Lznt1, CompressedAndStoredBlocksDecode) {
    for (unsigned seed = 1; seed <= 8; ++seed) {
        const std::vector<uint8_t> first = repetitive(4096, seed);
        const std::vector<uint8_t> second = repetitive(4096, seed + 100);
        std::vector<uint8_t> input = compress_block(first);
        const std::vector<uint8_t> raw = stored_block(second);
        input.insert(input.end(), raw.begin(), raw.end());
        std::vector<uint8_t> output(8192, 0xEE);
        ASSERT_FALSE(lznt1_decompress(output.data(), 8192, input.data(), static_cast<int32_t>(input.size())))
            << seed;
        EXPECT_TRUE(std::equal(first.begin(), first.end(), output.begin())) << seed;
        EXPECT_TRUE(std::equal(second.begin(), second.end(), output.begin() + 4096)) << seed;
    }
}

TEST(Lznt1, ShortLastBlockIsZeroFilledAndTheRestOfTheOutputUntouched) {
    const std::vector<uint8_t> data = repetitive(1000, 7);
    std::vector<uint8_t> input = compress_block(data);
    input.push_back(0);
    input.push_back(0);  // a zero header ends the unit
    std::vector<uint8_t> output(3 * 4096, 0xEE);
    ASSERT_FALSE(lznt1_decompress(output.data(), 3 * 4096, input.data(), static_cast<int32_t>(input.size())));
    EXPECT_TRUE(std::equal(data.begin(), data.end(), output.begin()));
    EXPECT_EQ(std::count(output.begin() + 1000, output.begin() + 4096, 0), 4096 - 1000);
    EXPECT_EQ(std::count(output.begin() + 4096, output.end(), 0xEE), 2 * 4096);
}

TEST(Lznt1, MalformedBlocksAreRefusedWithoutWritingPastTheBlock) {
    const auto block = [](const std::vector<uint8_t>& body) {
        std::vector<uint8_t> b = {0, 0};
        for (uint8_t byte : body) b.push_back(byte);
        test::put(b, 0, 0xB000 | (body.size() + 2 - 3), 2);
        return b;
    };
    std::vector<uint8_t> cut_token = block({0x02, 'a', 0x01});
    cut_token.resize(cut_token.size() + 3, 0);
    const struct {
        const char* what;
        std::vector<uint8_t> input;
        int32_t output_size;
    } cases[] = {
        {"back-reference at the block start", block({0x01, 0x00, 0x00, 0x41, 0x41}), 4096},
        {"back-reference before the block start", block({0x02, 'a', 0x00, 0x10, 0x41}), 4096},
        {"back-reference past the block end", block({0x02, 'a', 0xFF, 0x0F, 0x41}), 4096},
        {"a literal past the block end", block({0x06, 'a', 0xFC, 0x0F, 'b'}), 4096},
        {"token cut short", cut_token, 4096},
        {"stored block not 4096 bytes", {0x00, 0x30, 1, 2, 3, 4, 5, 6}, 4096},
        {"block reaching past the input", {0x10, 0xB0, 0x00, 'a', 'b', 'c', 'd'}, 4096},
        {"output without room for a block", block({0x00, 'a', 'b', 'c', 'd'}), 4000},
    };
    for (const auto& c : cases) {
        std::vector<uint8_t> output(static_cast<size_t>(c.output_size) + 64, 0xEE);
        EXPECT_TRUE(lznt1_decompress(output.data(), c.output_size, c.input.data(),
                                     static_cast<int32_t>(c.input.size())))
            << c.what;
        EXPECT_EQ(std::count(output.begin() + c.output_size, output.end(), 0xEE), 64) << c.what;
    }
}

TEST(Lznt1, AShortLastBlockOfOneLiteralIsValid) {
    const std::vector<uint8_t> input = {0x01, 0xB0, 0x00, 'a'};
    std::vector<uint8_t> output(4096, 0xEE);
    ASSERT_FALSE(lznt1_decompress(output.data(), 4096, input.data(), 4));
    EXPECT_EQ(output[0], 'a');
    EXPECT_EQ(std::count(output.begin() + 1, output.end(), 0), 4095);
}

TEST(Lznt1, EmptyInputAndFullOutputEndQuietly) {
    uint8_t output[16] = {};
    EXPECT_FALSE(lznt1_decompress(output, 16, nullptr, 0));
    const std::vector<uint8_t> input = compress_block(repetitive(4096, 3));
    EXPECT_FALSE(lznt1_decompress(output, 0, input.data(), static_cast<int32_t>(input.size())));
}

}  // namespace
}  // namespace kvl
