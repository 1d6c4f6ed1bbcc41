// Decoder entry and stored blocks, on hand-written streams.
#include <gtest/gtest.h>

#include <csetjmp>
#include <string>
#include <vector>

#include "bit_writer.h"
#include "decode_case.h"
#include "inflate.h"
#include "inflate_state.h"

namespace {

// Rows: name, stream, capacity, status, produced, consumed, output. For
// statuses 1 and 2 the runner checks that both lengths come back unchanged.
const DecodeCase STORED_CASES[] = {
    {"empty_input", {}, 10, INFLATE_INPUT_EXHAUSTED, 0, 0, ""},
    {"empty_last_block", {0x01, 0x00, 0x00, 0xFF, 0xFF}, 0, INFLATE_OK, 0, 5, ""},
    {"abc", {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c'}, 3, INFLATE_OK, 3, 8, "abc"},
    {"abc_room_2", {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c'}, 2, INFLATE_OUTPUT_FULL, 0, 0, ""},
    {"abc_room_0", {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c'}, 0, INFLATE_OUTPUT_FULL, 0, 0, ""},
    {"nlen_low_wrong", {0x01, 0x03, 0x00, 0xFD, 0xFF, 'a', 'b', 'c'}, 3, INFLATE_STORED_LENGTH_MISMATCH, 0, 4, ""},
    {"nlen_high_wrong", {0x01, 0x03, 0x00, 0xFC, 0xFE, 'a', 'b', 'c'}, 3, INFLATE_STORED_LENGTH_MISMATCH, 0, 5, ""},
    // The LEN/NLEN test comes before the test for the data.
    {"nlen_wrong_and_data_missing", {0x01, 0x03, 0x00, 0xFD, 0xFF}, 3, INFLATE_STORED_LENGTH_MISMATCH, 0, 4, ""},
    {"data_short", {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b'}, 3, INFLATE_INPUT_EXHAUSTED, 0, 0, ""},
    // The input shortage is found before the lack of room.
    {"data_short_and_no_room", {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b'}, 0, INFLATE_INPUT_EXHAUSTED, 0, 0, ""},
    {"header_short", {0x01, 0x03, 0x00}, 3, INFLATE_INPUT_EXHAUSTED, 0, 0, ""},
    {"header_short_by_one", {0x01, 0x03, 0x00, 0xFC}, 3, INFLATE_INPUT_EXHAUSTED, 0, 0, ""},
    {"block_header_only", {0x01}, 3, INFLATE_INPUT_EXHAUSTED, 0, 0, ""},
    {"type_3_last", {0x07}, 3, INFLATE_BAD_BLOCK_TYPE, 0, 1, ""},
    {"type_3_not_last", {0x06}, 3, INFLATE_BAD_BLOCK_TYPE, 0, 1, ""},
    {"type_3_after_stored", {0x00, 0x01, 0x00, 0xFE, 0xFF, 'a', 0x07, 0x00}, 3, INFLATE_BAD_BLOCK_TYPE, 1, 7, "a"},
    {"two_blocks", {0x00, 0x01, 0x00, 0xFE, 0xFF, 'a', 0x01, 0x01, 0x00, 0xFE, 0xFF, 'b'}, 2, INFLATE_OK, 2, 12, "ab"},
    // The five bits after the stored block header are skipped, whatever they hold.
    {"skipped_bits_ignored", {0xF9, 0x01, 0x00, 0xFE, 0xFF, 'a'}, 1, INFLATE_OK, 1, 6, "a"},
    {"not_last_then_end", {0x00, 0x01, 0x00, 0xFE, 0xFF, 'a'}, 2, INFLATE_INPUT_EXHAUSTED, 1, 0, "a"},
    {"trailing_bytes", {0x01, 0x01, 0x00, 0xFE, 0xFF, 'a', 0x55, 0x66}, 1, INFLATE_OK, 1, 6, "a"},
    // An empty stored block fits when the output is already full.
    {"empty_block_at_full_output", {0x00, 0x01, 0x00, 0xFE, 0xFF, 'a', 0x01, 0x00, 0x00, 0xFF, 0xFF}, 1, INFLATE_OK, 1, 11, "a"},
    {"second_block_over_room", {0x00, 0x01, 0x00, 0xFE, 0xFF, 'a', 0x01, 0x01, 0x00, 0xFE, 0xFF, 'b'}, 1, INFLATE_OUTPUT_FULL, 1, 0, "a"},
    // Fixed block (bits 0, 10, then end-of-block 0000000) not last; the next
    // header (1, 00) sits in bits 2..4 of the second byte, whose other bits
    // the stored block drops.
    {"fixed_then_stored_header_same_byte", {0x02, 0x04, 0x01, 0x00, 0xFE, 0xFF, 'z'}, 1, INFLATE_OK, 1, 7, "z"},
    // The same, the second header naming type 3 (bits 1, 11).
    {"fixed_then_type_3_same_byte", {0x02, 0x1C, 0x00}, 1, INFLATE_BAD_BLOCK_TYPE, 0, 2, ""},
    {"stored_then_fixed", {0x00, 0x00, 0x00, 0xFF, 0xFF, 0x03, 0x00}, 0, INFLATE_OK, 0, 7, ""},
    // The last fixed block ends in bit 1 of the second byte; the rest is not consumed.
    {"trailing_bytes_after_fixed", {0x03, 0x00, 0xFF, 0xFF}, 0, INFLATE_OK, 0, 2, ""},
    {"not_last_fixed_then_end", {0x02, 0x00}, 0, INFLATE_INPUT_EXHAUSTED, 0, 0, ""},
};

class StoredBlocks : public ::testing::TestWithParam<DecodeCase> {};
TEST_P(StoredBlocks, StatusCountsAndBytes) {
    check_decode_case(GetParam());
}
INSTANTIATE_TEST_SUITE_P(Decoder, StoredBlocks, ::testing::ValuesIn(STORED_CASES),
                         decode_case_name);

// Rows that are easier to build than to write out.
std::vector<DecodeCase> built_cases() {
    std::vector<DecodeCase> cases;
    {
        // A fixed block with a literal, not last, then a stored block whose
        // header starts mid-byte: bit 3 + 8 + 7 = 18.
        BitWriter w;
        put_block_header(w, false, 1);
        put_fixed_litlen(w, 'x');
        put_fixed_litlen(w, 256);
        put_block_header(w, true, 0);
        put_bytes(w, {0x02, 0x00, 0xFD, 0xFF, 'y', 'z'});
        cases.push_back(decode_case("fixed_literal_then_stored", w, 3, INFLATE_OK, 3, 9, "xyz"));
    }
    {
        // Stored data of the largest length, 65535 bytes, then a fixed block.
        BitWriter w;
        put_block_header(w, false, 0);
        std::vector<uint8_t> block = {0xFF, 0xFF, 0x00, 0x00};
        std::string data;
        for (uint32_t i = 0; i < 65535; ++i) {
            data.push_back(static_cast<char>(i * 7u + i / 256u));
        }
        block.insert(block.end(), data.begin(), data.end());
        put_bytes(w, block);
        put_block_header(w, true, 1);
        put_fixed_litlen(w, 'q');
        put_fixed_match(w, 3, 32768);  // the largest distance: symbol 29, 13 extra bits all set
        put_fixed_litlen(w, 256);
        const uint32_t consumed = static_cast<uint32_t>(w.bytes.size());
        put_trailing(w);
        std::string out = data + "q" + data.substr(32768, 3);
        cases.push_back(decode_case("largest_stored_then_fixed", w, 65539, INFLATE_OK, 65539,
                                    consumed, out));
        cases.push_back(decode_case("largest_stored_then_fixed_room_short", w, 65538,
                                    INFLATE_OUTPUT_FULL, 65536, 0, data + "q"));
        cases.push_back(decode_case("largest_stored_room_short", w, 65534, INFLATE_OUTPUT_FULL,
                                    0, 0, ""));
    }
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Built, StoredBlocks, ::testing::ValuesIn(built_cases()), decode_case_name);

// Count-only mode takes nothing from the length passed in; capacity 0 is the
// plain count-only call.
TEST(CountOnly, CapacityIsNotConsulted) {
    const std::vector<uint8_t> stream = {0x01, 0x03, 0x00, 0xFC, 0xFF, 'a', 'b', 'c'};
    for (const uint32_t capacity : {0u, 2u, 3u, 0xFFFFFFFFu}) {
        SCOPED_TRACE("capacity " + std::to_string(capacity));
        uint32_t out_len = capacity;
        uint32_t in_len = static_cast<uint32_t>(stream.size());
        EXPECT_EQ(inflate_raw(nullptr, &out_len, stream.data(), &in_len), INFLATE_OK);
        EXPECT_EQ(out_len, 3u);
        EXPECT_EQ(in_len, 8u);
    }
}

// read_bits, called with the escape armed; returns false if it escaped.
bool read_bits_escaping(InflateState& state, int32_t need, uint32_t& value) {
    if (setjmp(state.overrun_escape) != 0) {
        return false;
    }
    value = read_bits(state, need);
    return true;
}

struct ReadBitsCase {
    const char* name;
    std::vector<uint8_t> input;
    uint32_t input_count;  // bytes already fetched at entry
    int32_t bit_buffer;    // pending bits at entry
    int32_t bit_count;
    int32_t need;
    bool escaped;
    uint32_t value;  // the rest only when not escaped
    uint32_t input_count_after;
    int32_t bit_buffer_after;
    int32_t bit_count_after;
};

const ReadBitsCase READ_BITS_CASES[] = {
    // Need 0 at the end of the input reads nothing, pending bits or not.
    {"need_zero_at_end_0_pending", {0xAB}, 1, 0x0, 0, 0, false, 0, 1, 0x0, 0},
    {"need_zero_at_end_3_pending", {0xAB}, 1, 0x7, 3, 0, false, 0, 1, 0x7, 3},
    {"need_zero_at_end_7_pending", {0xAB}, 1, 0x7F, 7, 0, false, 0, 1, 0x7F, 7},
    {"need_zero_no_input", {}, 0, 0, 0, 0, false, 0, 0, 0, 0},
    // 13 bits from 3 pending bits (101) and two bytes: fetches only what it needs.
    // 0x1234 << 3 | 5 = 0x91A5; low 13 bits 0x11A5; 3 + 16 - 13 = 6 bits left: 0x91A5 >> 13.
    {"low_bit_first_across_bytes", {0x34, 0x12, 0x99}, 0, 0x5, 3, 13, false, 0x11A5, 2, 0x91A5 >> 13, 6},
    {"pending_bits_suffice_no_fetch", {0xFF}, 0, 0x6B, 7, 7, false, 0x6B, 0, 0, 0},
    {"escapes_when_a_byte_is_missing", {0x01}, 0, 0x3, 2, 11, true, 0, 0, 0, 0},
};

class ReadBits : public ::testing::TestWithParam<ReadBitsCase> {};

TEST_P(ReadBits, ValueAndBitPosition) {
    const ReadBitsCase& c = GetParam();
    InflateState state{};
    state.input = c.input.data();
    state.input_length = static_cast<uint32_t>(c.input.size());
    state.input_count = c.input_count;
    state.bit_buffer = c.bit_buffer;
    state.bit_count = c.bit_count;
    uint32_t value = 99;
    ASSERT_EQ(!read_bits_escaping(state, c.need, value), c.escaped);
    if (!c.escaped) {
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(state.input_count, c.input_count_after);
        EXPECT_EQ(state.bit_buffer, c.bit_buffer_after);
        EXPECT_EQ(state.bit_count, c.bit_count_after);
    }
}

INSTANTIATE_TEST_SUITE_P(Decoder, ReadBits, ::testing::ValuesIn(READ_BITS_CASES),
                         [](const auto& row) { return std::string(row.param.name); });

}  // namespace
