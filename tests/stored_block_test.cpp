// Decoder entry and stored blocks, on hand-written streams.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "inflate.h"

namespace {

struct StoredCase {
    const char* name;
    std::vector<uint8_t> stream;
    uint32_t capacity;
    int32_t status;
    uint32_t produced;  // for 1 and 2: expected unchanged capacity
    uint32_t consumed;  // for 1 and 2: expected unchanged input length
    std::string output;
};

class StoredBlocks : public ::testing::TestWithParam<StoredCase> {};

TEST_P(StoredBlocks, StatusCountsAndBytes) {
    const StoredCase& c = GetParam();
    std::vector<uint8_t> out(c.capacity + 1, 0xEE);
    uint32_t out_len = c.capacity;
    uint32_t in_len = static_cast<uint32_t>(c.stream.size());
    const int32_t status = inflate_raw(out.data(), &out_len, c.stream.data(), &in_len);
    EXPECT_EQ(status, c.status);
    EXPECT_EQ(out_len, c.produced);
    EXPECT_EQ(in_len, c.consumed);
    EXPECT_EQ(std::string(out.begin(), out.begin() + static_cast<long>(c.output.size())), c.output);
}

const StoredCase STORED_CASES[] = {
    {"empty_input", {}, 10, INFLATE_INPUT_EXHAUSTED, 10, 0, ""},
    {"empty_last_block", {0x01, 0x00, 0x00, 0xFF, 0xFF}, 0, INFLATE_OK, 0, 5, ""},
    {"abc", {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c'}, 3, INFLATE_OK, 3, 8, "abc"},
    {"abc_room_2", {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c'}, 2, INFLATE_OUTPUT_FULL, 2, 8, ""},
    {"nlen_low_wrong", {0x01, 0x03, 0x00, 0xFD, 0xFF, 'a', 'b', 'c'}, 3, INFLATE_STORED_LENGTH_MISMATCH, 0, 4, ""},
    {"nlen_high_wrong", {0x01, 0x03, 0x00, 0xFC, 0xFE, 'a', 'b', 'c'}, 3, INFLATE_STORED_LENGTH_MISMATCH, 0, 5, ""},
    {"data_short", {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b'}, 3, INFLATE_INPUT_EXHAUSTED, 3, 7, ""},
    {"header_short", {0x01, 0x03, 0x00}, 3, INFLATE_INPUT_EXHAUSTED, 3, 3, ""},
    {"type_3_last", {0x07}, 3, INFLATE_BAD_BLOCK_TYPE, 0, 1, ""},
    {"type_3_not_last", {0x06}, 3, INFLATE_BAD_BLOCK_TYPE, 0, 1, ""},
    {"two_blocks", {0x00, 0x01, 0x00, 0xFE, 0xFF, 'a', 0x01, 0x01, 0x00, 0xFE, 0xFF, 'b'}, 2, INFLATE_OK, 2, 12, "ab"},
    {"not_last_then_end", {0x00, 0x01, 0x00, 0xFE, 0xFF, 'a'}, 2, INFLATE_INPUT_EXHAUSTED, 2, 6, "a"},
    {"trailing_bytes", {0x01, 0x01, 0x00, 0xFE, 0xFF, 'a', 0x55, 0x66}, 1, INFLATE_OK, 1, 6, "a"},
};

INSTANTIATE_TEST_SUITE_P(Decoder, StoredBlocks, ::testing::ValuesIn(STORED_CASES),
                         [](const auto& test) { return std::string(test.param.name); });

TEST(CountOnly, StoredBlockCountsWithoutBuffer) {
    const std::vector<uint8_t> stream = {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c'};
    uint32_t out_len = 0;
    uint32_t in_len = static_cast<uint32_t>(stream.size());
    EXPECT_EQ(inflate_raw(nullptr, &out_len, stream.data(), &in_len), INFLATE_OK);
    EXPECT_EQ(out_len, 3u);
    EXPECT_EQ(in_len, 8u);
}

}  // namespace
