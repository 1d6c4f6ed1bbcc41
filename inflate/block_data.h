// The body of a Huffman-coded block: literals, matches, end of block.
#ifndef TAVRIMOX_BLOCK_DATA_H
#define TAVRIMOX_BLOCK_DATA_H

#include <cstdint>

#include "deflate_tables.h"
#include "huffman.h"

struct FastCode;

// Decodes symbols until the end-of-block symbol (INFLATE_OK) or the first
// fault. With `fast` (the same codes as lookup tables), runs of the block are
// decoded by the table-driven path where input and output room allow;
// results are identical either way.
int32_t decode_block_data(InflateState& state, const HuffmanTable& litlen,
                          const HuffmanTable& distance, const FastCode* fast);

#endif
