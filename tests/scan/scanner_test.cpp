#include "scan/scanner.h"

#include <gtest/gtest.h>

#include "storage/memory_stream.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

// A memory stream that pretends to have sectors and counts its reads.
class sector_stream final : public memory_stream {
  public:
    sector_stream(int32_t size, int32_t sector) {
        alignment = sector;
        std::vector<uint8_t> bytes(static_cast<size_t>(size));
        for (int32_t i = 0; i < size; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(i % 241);
        write(bytes.data(), size);
    }
    bool read(uint8_t* data, int32_t size) override {
        ++reads;
        return memory_stream::read(data, size);
    }
    int reads = 0;
};

struct call {
    int64_t disk;
    int64_t data;
    int32_t length;
    bool operator==(const call&) const = default;
};

TEST(Iterate, RefusesABufferThatIsNotWholeSectors) {
    test::test_ui ui;
    sector_stream s(4096, 512);
    EXPECT_FALSE(stream::iterate(s, data_chunks(0, 4096), 1000,
                                 [](int64_t, int64_t, uint8_t*, int32_t, void*) { return true; }));
    EXPECT_EQ(ui.log_texts(),
              std::vector<std::u16string>{u"stream::iterate=> Buffer size 1000 is not 512 aligned"});
    EXPECT_EQ(s.reads, 0);
}

TEST(Iterate, PiecesOfAnExtentAndAShortLastOne) {
    test::test_ui ui;
    sector_stream s(8192, 512);
    std::vector<call> calls;
    ASSERT_TRUE(stream::iterate(s, data_chunks(1024, 3 * 1024 + 100), 1024,
                                [&](int64_t d, int64_t p, uint8_t* data, int32_t n, void*) {
                                    calls.push_back({d, p, n});
                                    EXPECT_EQ(data[0], static_cast<uint8_t>(d % 241));
                                    return true;
                                }));
    EXPECT_EQ(calls, (std::vector<call>{
                         {1024, 0, 1024}, {2048, 1024, 1024}, {3072, 2048, 1024}, {4096, 3072, 100}}));
}

TEST(Iterate, OneClusterExtentsKeepTheirOwnPositionsAndAFalseSkipsOnlyItsExtent) {
    test::test_ui ui;
    sector_stream s(65536, 512);
    data_chunks clusters;
    for (int i = 0; i < 10; ++i) clusters.add_chunk({(9 - i) * 4096, 4096, 0});
    std::vector<call> calls;
    ASSERT_TRUE(
        stream::iterate(s, clusters, 512 * 512, [&](int64_t d, int64_t p, uint8_t*, int32_t n, void*) {
            calls.push_back({d, p, n});
            return true;
        }));
    ASSERT_EQ(calls.size(), 10u);
    EXPECT_EQ(calls[3], (call{6 * 4096, 3 * 4096, 4096}));

    calls.clear();
    data_chunks two;
    two.add_chunk({0, 2048, 0});
    two.add_chunk({4096, 1024, 0});
    stream::iterate(s, two, 512, [&](int64_t d, int64_t p, uint8_t*, int32_t n, void*) {
        calls.push_back({d, p, n});
        return d != 0;
    });
    EXPECT_EQ(calls, (std::vector<call>{{0, 0, 512}, {4096, 0, 512}, {4608, 512, 512}}));
}

class counting_scanner final : public scanner {
  public:
    counting_scanner() : scanner(SCANNER_PARTITION_SCAN) {}
    bool prepare() override { return proceed; }
    bool process_block(int64_t disk, int64_t, uint8_t*, int32_t) override {
        add_hit({disk, 0, 0});
        return true;
    }
    bool proceed = true;
};

TEST(Scanner, SecondRunReplaysStoredHitsWithoutReading) {
    test::test_ui ui;
    sector_stream s(4096, 512);
    std::vector<found_item> hits;
    std::vector<int64_t> seen;
    counting_scanner search;
    search.results = &hits;
    search.found_callback = [&](scanner*, const found_item& hit) {
        seen.push_back(hit.position);
        return true;
    };
    ASSERT_TRUE(search.scan_storage(s, 1024, false, 0));
    EXPECT_EQ(seen, (std::vector<int64_t>{0, 1024, 2048, 3072}));
    const int reads = s.reads;
    seen.clear();
    ASSERT_TRUE(search.scan_storage(s, 1024, false, 0));
    EXPECT_EQ(seen, (std::vector<int64_t>{0, 1024, 2048, 3072}));
    EXPECT_EQ(s.reads, reads);
    ASSERT_TRUE(search.scan_storage(s, 1024, true, 2048));  // a rescan reads again from the start offset
    EXPECT_EQ(hits.size(), 2u);
}

TEST(Scanner, DeclinedPreparationKeepsThePreviousHits) {
    test::test_ui ui;
    sector_stream s(4096, 512);
    std::vector<found_item> hits = {{7, 0, 0}};
    counting_scanner search;
    search.results = &hits;
    search.proceed = false;
    ASSERT_TRUE(search.scan_storage(s, 1024, true, 0));
    EXPECT_TRUE(search.aborted);
    EXPECT_EQ(hits.size(), 1u);
    EXPECT_EQ(s.reads, 0);
}

TEST(StreamWriter, CopiesTheExtentsBackToBack) {
    test::test_ui ui;
    sector_stream s(8192, 512);
    memory_stream target;
    stream_writer writer(target);
    data_chunks two;
    two.add_chunk({4096, 512, 0});
    two.add_chunk({0, 512, 0});
    writer.scan_chunks(s, two, 512 * 1000, false);
    ASSERT_EQ(target.size(), 1024);
    EXPECT_EQ(target.bytes()[0], 4096 % 241);
    EXPECT_EQ(target.bytes()[512], 0);
}

}  // namespace
}  // namespace kvl
