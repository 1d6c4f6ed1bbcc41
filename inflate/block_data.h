// The body of a Huffman-coded block: literals, matches, end of block.
#ifndef TAVRIMOX_BLOCK_DATA_H
#define TAVRIMOX_BLOCK_DATA_H

#include <cstdint>

#include "huffman.h"

// RFC 1951, 3.2.5: index = length symbol - 257 (symbol 285 is 258, no extra bits).
inline constexpr int16_t LENGTH_BASE[29] = {3,  4,  5,  6,  7,  8,  9,  10, 11,  13,
                                            15, 17, 19, 23, 27, 31, 35, 43, 51,  59,
                                            67, 83, 99, 115, 131, 163, 195, 227, 258};
inline constexpr int16_t LENGTH_EXTRA[29] = {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 1, 1, 2, 2, 2,
                                             2, 3, 3, 3, 3, 4, 4, 4, 4, 5, 5, 5, 5, 0};
// Index = distance symbol 0..29; the largest distance is 24577 + 8191 = 32768.
inline constexpr int16_t DISTANCE_BASE[30] = {
    1,   2,   3,   4,   5,   7,    9,    13,   17,   25,   33,   49,   65,    97,    129,
    193, 257, 385, 513, 769, 1025, 1537, 2049, 3073, 4097, 6145, 8193, 12289, 16385, 24577};
inline constexpr int16_t DISTANCE_EXTRA[30] = {0, 0, 0, 0, 1, 1, 2, 2,  3,  3,  4,  4,  5,  5,  6,
                                               6, 7, 7, 8, 8, 9, 9, 10, 10, 11, 11, 12, 12, 13, 13};

struct FastCode;

// Decodes symbols until the end-of-block symbol (INFLATE_OK) or the first
// fault. With `fast` (the same codes as lookup tables), runs of the block are
// decoded by the table-driven path where input and output room allow;
// results are identical either way.
int32_t decode_block_data(InflateState& state, const HuffmanTable& litlen,
                          const HuffmanTable& distance, const FastCode* fast);

#endif
