// Raw DEFLATE (RFC 1951) decoder, memory to memory.
//
// inflate_raw decodes the stream in input[0 .. *input_length) into
// output[0 .. *output_length). Pass output == nullptr to decode without
// storing anything (count-only mode): the whole stream is still checked and
// *output_length receives the size the decoded data would have. A present
// buffer of capacity 0 is not count-only mode.
//
// Statuses: 0, the stream decoded whole; positive, the output has no room
// or the input ends first (the stream may be sound); negative, the stream
// itself is wrong.
//
// For a status of 0 or below, *output_length becomes the number of bytes
// produced and *input_length the number of bytes consumed (up to and
// including the byte holding the last bit read). For statuses 1 and 2 both
// are left as passed. Whatever the status, on return every byte of the
// buffer past the bytes produced (past *output_length where it is written
// back) is as the caller had it; a decode may use them while it runs.
// The decoder allocates nothing, never prints, and may be called from
// several threads at once.
#ifndef TAVRIMOX_INFLATE_H
#define TAVRIMOX_INFLATE_H

#include <cstdint>

// The stream's last block was decoded without fault.
inline constexpr int32_t INFLATE_OK = 0;
// The next stored block, literal or match does not fit in the output (or, in
// count-only mode, would push the count past 2^32 - 1); nothing of it is written.
inline constexpr int32_t INFLATE_OUTPUT_FULL = 1;
// The stream needs more bytes than the input holds.
inline constexpr int32_t INFLATE_INPUT_EXHAUSTED = 2;
// A block header names block type 3.
inline constexpr int32_t INFLATE_BAD_BLOCK_TYPE = -1;
// A stored block's NLEN is not the one's complement of its LEN.
inline constexpr int32_t INFLATE_STORED_LENGTH_MISMATCH = -2;
// A dynamic block declares more than 286 literal/length or 30 distance codes.
inline constexpr int32_t INFLATE_TOO_MANY_CODES = -3;
// A dynamic block's code-length code is over-subscribed or incomplete.
inline constexpr int32_t INFLATE_BAD_CODE_LENGTH_CODE = -4;
// The repeat-previous-length symbol (16) comes before any length.
inline constexpr int32_t INFLATE_REPEAT_WITHOUT_PREVIOUS = -5;
// A repeat runs past the declared number of code lengths.
inline constexpr int32_t INFLATE_REPEAT_OVERRUN = -6;
// The literal/length code is over-subscribed, or incomplete without being a single 1-bit code.
inline constexpr int32_t INFLATE_BAD_LITLEN_CODE = -7;
// The distance code is over-subscribed, or incomplete without being a single 1-bit code.
inline constexpr int32_t INFLATE_BAD_DISTANCE_CODE = -8;
// The end-of-block symbol has no code.
inline constexpr int32_t INFLATE_NO_END_OF_BLOCK = -9;
// No code matches within 15 bits, or a literal/length symbol is 286 or 287.
inline constexpr int32_t INFLATE_BAD_SYMBOL = -10;
// A match reaches back before the first byte produced.
inline constexpr int32_t INFLATE_DISTANCE_TOO_FAR = -11;

int32_t inflate_raw(uint8_t* output, uint32_t* output_length, const uint8_t* input,
                    uint32_t* input_length);

// A status in a few words for messages, such as "a match reaches back before
// the first byte"; never null, also for a value that is no status.
const char* inflate_status_text(int32_t status);

#endif
