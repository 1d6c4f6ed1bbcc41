// The base values and extra-bit counts of RFC 1951, 3.2.5, shared by the
// exact decode and the lookup tables.
#ifndef TAVRIMOX_DEFLATE_TABLES_H
#define TAVRIMOX_DEFLATE_TABLES_H

#include <cstdint>

// Index = length symbol - 257 (symbol 285 is 258, no extra bits).
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

// The largest distance. Until the output holds this much, a match may reach
// before its start; from there on none can.
inline constexpr uint32_t MAX_DISTANCE = 32768;
static_assert(MAX_DISTANCE == static_cast<uint32_t>(DISTANCE_BASE[29] + (1 << DISTANCE_EXTRA[29]) - 1),
              "the last distance code's largest value");

#endif
