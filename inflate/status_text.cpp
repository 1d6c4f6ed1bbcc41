#include "inflate.h"

const char* inflate_status_text(int32_t status) {
    switch (status) {
        case INFLATE_OK: return "no fault";
        case INFLATE_OUTPUT_FULL: return "the output is full";
        case INFLATE_INPUT_EXHAUSTED: return "the input ends before the stream does";
        case INFLATE_BAD_BLOCK_TYPE: return "a block header names block type 3";
        case INFLATE_STORED_LENGTH_MISMATCH: return "a stored block's length fails its check";
        case INFLATE_TOO_MANY_CODES: return "a block declares too many codes";
        case INFLATE_BAD_CODE_LENGTH_CODE: return "a block's code-length code is over-subscribed or incomplete";
        case INFLATE_REPEAT_WITHOUT_PREVIOUS: return "a code length repeats before any length";
        case INFLATE_REPEAT_OVERRUN: return "a code-length repeat runs past the declared codes";
        case INFLATE_BAD_LITLEN_CODE: return "a literal/length code is over-subscribed or incomplete";
        case INFLATE_BAD_DISTANCE_CODE: return "a distance code is over-subscribed or incomplete";
        case INFLATE_NO_END_OF_BLOCK: return "a block's end-of-block symbol has no code";
        case INFLATE_BAD_SYMBOL: return "a code matches no symbol";
        case INFLATE_DISTANCE_TOO_FAR: return "a match reaches back before the first byte";
        default: return "an unknown status";
    }
}
