#!/usr/bin/env python3
"""Writes the starting corpus of each fuzz target into fuzz/corpus/<target>/.

Hand-assembled raw DEFLATE streams, one or more for every decoder status, and
a few streams from zlib (raw, wbits -15) of data shaped like DXT5 blocks. The
TEX seeds wrap some of them in a 32-byte header. Run from anywhere; the output
is deterministic, so a re-run changes nothing. Files named regress_* are
findings of the fuzzers, kept as seeds; this script leaves them alone.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))


class Bits:
    """A DEFLATE bit stream: fields lowest bit first, Huffman codes highest first."""

    def __init__(self):
        self.out = bytearray()
        self.used = 8

    def put(self, value, count):
        for i in range(count):
            if self.used == 8:
                self.out.append(0)
                self.used = 0
            self.out[-1] |= ((value >> i) & 1) << self.used
            self.used += 1

    def code(self, code, length):
        for i in reversed(range(length)):
            self.put((code >> i) & 1, 1)

    def raw(self, data):
        self.used = 8
        self.out += data


def canonical(lengths):
    """RFC 1951 3.2.2: symbol -> (code, length) for every non-zero length."""
    count = [0] * 16
    for n in lengths:
        count[n] += 1
    count[0] = 0
    code, next_code = 0, [0] * 16
    for n in range(1, 16):
        code = (code + count[n - 1]) << 1
        next_code[n] = code
    codes = {}
    for symbol, n in enumerate(lengths):
        if n:
            codes[symbol] = (next_code[n], n)
            next_code[n] += 1
    return codes


FIXED_LITLEN = canonical([8] * 144 + [9] * 112 + [7] * 24 + [8] * 8)
LENGTH_EXTRA = [0] * 8 + [1] * 4 + [2] * 4 + [3] * 4 + [4] * 4 + [5] * 4 + [0]
ORDER = [16, 17, 18, 0, 8, 7, 9, 6, 10, 5, 11, 4, 12, 3, 13, 2, 14, 1, 15]
# A complete code-length code in which every symbol 0..18 has a code:
# 13 codes of 4 bits and 6 of 5 bits fill 13/16 + 6/32 = 1.
CL_LENGTHS = [4] * 13 + [5] * 6


def dynamic_header(w, last, hlit, hdist, cl_lengths, items):
    """Block header, HLIT/HDIST/HCLEN, code-length lengths, then `items`:
    code-length symbols, each an int or (symbol, extra value)."""
    w.put(last, 1)
    w.put(2, 2)
    w.put(hlit, 5)
    w.put(hdist, 5)
    hclen = max(k for k in range(19) if cl_lengths[ORDER[k]]) + 1 if any(cl_lengths) else 4
    hclen = max(hclen, 4)
    w.put(hclen - 4, 4)
    for k in range(hclen):
        w.put(cl_lengths[ORDER[k]], 3)
    codes = canonical(cl_lengths)
    for item in items:
        symbol, extra = (item, None) if isinstance(item, int) else item
        w.code(*codes[symbol])
        if extra is not None:
            w.put(extra, {16: 2, 17: 3, 18: 7}[symbol])


def lengths_items(lengths):
    """Code lengths spelled one by one, zero runs folded into 18/17."""
    items, i = [], 0
    while i < len(lengths):
        run = 1
        while i + run < len(lengths) and lengths[i + run] == lengths[i] and run < 138:
            run += 1
        if lengths[i] == 0 and run >= 11:
            items.append((18, run - 11))
        elif lengths[i] == 0 and run >= 3:
            items.append((17, run - 3))
        else:
            run = 1
            items.append(lengths[i])
        i += run
    return items


def dynamic_block(w, last, litlen, dist, body):
    """A whole dynamic block; body is a list of literal/length symbols or
    (length symbol, length extra, distance symbol, distance extra)."""
    dynamic_header(w, last, len(litlen) - 257, len(dist) - 1, CL_LENGTHS,
                   lengths_items(litlen + dist))
    lcodes, dcodes = canonical(litlen), canonical(dist)
    for item in body + [256]:
        if isinstance(item, int):
            w.code(*lcodes[item])
        else:
            sym, extra, dsym, dextra = item
            w.code(*lcodes[sym])
            w.put(extra, LENGTH_EXTRA[sym - 257])
            w.code(*dcodes[dsym])
            w.put(dextra, (dsym // 2 - 1) if dsym >= 4 else 0)


def fixed_block(w, last, body):
    w.put(last, 1)
    w.put(1, 2)
    for item in body + [256]:
        if isinstance(item, int):
            w.code(*FIXED_LITLEN[item])
        else:
            sym, extra, dsym, dextra, extra_bits, dextra_bits = item
            w.code(*FIXED_LITLEN[sym])
            w.put(extra, extra_bits)
            w.code(dsym, 5)
            w.put(dextra, dextra_bits)


def stream(build):
    w = Bits()
    build(w)
    return bytes(w.out)


def lit(text):
    return list(text.encode())


def zero_litlen(**codes):
    """Literal/length lengths, all 0 but the named symbols (s97=1: 'a' gets 1 bit)."""
    lengths = [0] * max([257] + [int(symbol[1:]) + 1 for symbol in codes])
    for symbol, n in codes.items():
        lengths[int(symbol[1:])] = n
    return lengths


def hand_streams():
    s = {}
    # status 2: nothing, a cut stored header, a cut fixed block
    s["exhausted_empty"] = b""
    s["exhausted_stored_header"] = bytes.fromhex("010300")
    s["exhausted_stored_data"] = bytes.fromhex("010300fcff6162")
    s["exhausted_not_last"] = bytes.fromhex("000100feff61")
    s["exhausted_fixed"] = stream(lambda w: fixed_block(w, 1, lit("abcdef")))[:3]
    # status 0
    s["ok_stored_empty"] = bytes.fromhex("010000ffff")
    s["ok_stored_abc"] = bytes.fromhex("010300fcff616263")
    s["ok_two_stored"] = bytes.fromhex("000100feff61010100feff62")
    s["ok_trailing"] = bytes.fromhex("010300fcff616263deadbeef")
    # "ab", then 258 from distance 2 (symbol 285), then length 10 (symbol 264) at 1
    s["ok_fixed_matches"] = stream(lambda w: fixed_block(
        w, 1, lit("ab") + [(285, 0, 1, 0, 0, 0), (264, 0, 0, 0, 0, 0)]))
    # 300 literals, 127 x 258 at distance 1 (the first as symbol 284 with extra
    # 31), then distance 32768 (symbol 29, extra 8191)
    s["ok_fixed_long"] = stream(lambda w: (
        fixed_block(w, 0, [(0x61 + i % 26) for i in range(300)]),
        fixed_block(w, 1, [(284, 31, 0, 0, 5, 0)] + [(285, 0, 0, 0, 0, 0)] * 126 +
                    [(257, 0, 29, 8191, 0, 13)])))
    s["ok_fixed_then_stored"] = stream(lambda w: (
        fixed_block(w, 0, lit("xyz")), w.put(1, 1), w.put(0, 2),
        w.raw(bytes.fromhex("0200fdff") + b"!!")))
    litlen = zero_litlen(s256=1, s97=2, s258=2)
    s["ok_dynamic_small"] = stream(lambda w: dynamic_block(
        w, 1, litlen, [1, 1], [97, (258, 0, 0, 0), 97, (258, 0, 1, 0)]))
    s["ok_dynamic_eob_only"] = stream(lambda w: dynamic_block(
        w, 1, zero_litlen(s256=1), [0], []))
    s["ok_dynamic_one_distance"] = stream(lambda w: dynamic_block(
        w, 1, litlen, [1], [97, (258, 0, 0, 0)]))
    full = [8] * 144 + [9] * 112 + [7] * 26 + [8] * 4  # complete, 286 codes
    s["ok_dynamic_286_30"] = stream(lambda w: dynamic_block(
        w, 1, full, [4, 4] + [5] * 28, lit("hello") + [(257, 0, 4, 0)]))
    # status -1, -2
    s["bad_block_type_last"] = bytes.fromhex("07")
    s["bad_block_type"] = bytes.fromhex("06")
    s["stored_nlen_low"] = bytes.fromhex("010300fdff616263")
    s["stored_nlen_high"] = bytes.fromhex("010300fcfe616263")
    # status -3: HLIT 30, HDIST 30
    s["too_many_litlen"] = stream(lambda w: (w.put(1, 1), w.put(2, 2), w.put(30, 5),
                                             w.put(0, 5), w.put(0, 4)))
    s["too_many_distance"] = stream(lambda w: (w.put(1, 1), w.put(2, 2), w.put(0, 5),
                                               w.put(30, 5), w.put(0, 4)))
    # status -4: one code-length code; over-subscribed; -10 for none at all
    one = [0] * 19
    one[0] = 1
    s["code_length_incomplete"] = stream(lambda w: dynamic_header(w, 1, 0, 0, one, []))
    s["code_length_oversubscribed"] = stream(lambda w: dynamic_header(
        w, 1, 0, 0, [1, 1, 1] + [0] * 16, []))
    s["code_length_empty"] = stream(lambda w: (dynamic_header(w, 1, 0, 0, [0] * 19, []),
                                               w.put(0, 16)))
    # status -5, -6
    s["repeat_first"] = stream(lambda w: dynamic_header(w, 1, 0, 0, CL_LENGTHS, [(16, 0)]))
    s["repeat_overrun"] = stream(lambda w: dynamic_header(
        w, 1, 0, 0, CL_LENGTHS, [(18, 127), (18, 127)]))
    # status -9, -7, -8
    s["no_end_of_block"] = stream(lambda w: dynamic_header(
        w, 1, 0, 0, CL_LENGTHS, lengths_items(zero_litlen(s97=1, s98=1) + [1])))
    s["litlen_incomplete"] = stream(lambda w: dynamic_header(
        w, 1, 0, 0, CL_LENGTHS, lengths_items(zero_litlen(s97=2, s256=2) + [1])))
    s["litlen_oversubscribed"] = stream(lambda w: dynamic_header(
        w, 1, 0, 0, CL_LENGTHS, lengths_items(zero_litlen(s97=1, s98=1, s256=1) + [1])))
    s["distance_incomplete"] = stream(lambda w: dynamic_header(
        w, 1, 0, 0, CL_LENGTHS, lengths_items(zero_litlen(s97=1, s256=1) + [2])))
    s["distance_oversubscribed"] = stream(lambda w: dynamic_header(
        w, 1, 0, 2, CL_LENGTHS, lengths_items(zero_litlen(s97=1, s256=1) + [1, 1, 1])))
    # status -10: fixed symbols 286, 287, distance 30; a length with no distance code
    s["fixed_symbol_286"] = stream(lambda w: fixed_block(w, 1, lit("a") + [286]))
    s["fixed_symbol_287"] = stream(lambda w: fixed_block(w, 1, [287]))
    s["fixed_distance_30"] = stream(lambda w: (fixed_block(w, 1, lit("a") + [(257, 0, 30, 0, 0, 0)]),
                                               w.put(0, 16)))
    s["no_distance_code"] = stream(lambda w: (dynamic_header(
        w, 1, 1, 0, CL_LENGTHS, lengths_items(zero_litlen(s97=1, s256=2, s257=2) + [0])),
        w.code(0, 1), w.code(3, 2), w.put(0, 16)))
    # status -11: a match first; distance 6 after 5 bytes
    s["distance_first"] = stream(lambda w: fixed_block(w, 1, [(257, 0, 0, 0, 0, 0)]))
    s["distance_too_far"] = stream(lambda w: fixed_block(
        w, 1, lit("abcde") + [(257, 0, 4, 1, 0, 1)]))
    # "a" and 127 x 258 at distance 1 make 32767 bytes, one short of the
    # largest distance, which the last match asks for
    s["distance_too_far_before_32k"] = stream(lambda w: fixed_block(
        w, 1, lit("a") + [(285, 0, 0, 0, 0, 0)] * 127 + [(257, 0, 29, 8191, 0, 13)]))
    return s


def dxt5_like(blocks, seed):
    """Pseudo-DXT5 data: alpha endpoints, indices, colours; repetitive enough to compress."""
    out, x = bytearray(), seed
    for i in range(blocks):
        x = (x * 1103515245 + 12345) & 0x7FFFFFFF
        a = (x >> 8) & 0xFF
        out += bytes([a, a // 2]) + bytes([(x >> (j % 16)) & 0x49 for j in range(6)])
        out += struct.pack("<HH", 0xF800 if i % 7 else 0x07E0, 0x001F) + bytes([0x1B] * 4)
    return bytes(out)


def zlib_streams():
    s = {}
    for name, level, strategy, data in [
        ("zlib_dxt5_l9", 9, zlib.Z_DEFAULT_STRATEGY, dxt5_like(256, 1)),
        ("zlib_dxt5_l1", 1, zlib.Z_DEFAULT_STRATEGY, dxt5_like(128, 2)),
        ("zlib_dxt5_fixed", 6, zlib.Z_FIXED, dxt5_like(64, 3)),
        ("zlib_dxt5_huffman", 6, zlib.Z_HUFFMAN_ONLY, dxt5_like(64, 4)),
        ("zlib_dxt5_stored", 0, zlib.Z_DEFAULT_STRATEGY, dxt5_like(16, 5)),
        ("zlib_text_rle", 6, zlib.Z_RLE, b"tavrimox " * 200),
        ("zlib_zeros", 9, zlib.Z_DEFAULT_STRATEGY, bytes(40000)),
    ]:
        c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
        s[name] = c.compress(data) + c.flush()
    return s


def tex(width, height, payload, declared, compressed=None):
    header = b"TEX " + struct.pack("<HH", width, height) + bytes(12)
    header += struct.pack("<II", len(payload) if compressed is None else compressed, declared)
    return header + bytes(4) + payload


def write(target, streams):
    folder = os.path.join(HERE, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    for name, data in streams.items():
        with open(os.path.join(folder, name), "wb") as f:
            f.write(data)


def main():
    streams = hand_streams()
    streams.update(zlib_streams())
    write("fuzz_inflate", streams)
    write("fuzz_differential", streams)
    dxt = dxt5_like(64, 7)
    c = zlib.compressobj(9, zlib.DEFLATED, -15)
    packed = c.compress(dxt) + c.flush()
    write("fuzz_driver", {
        "tex_exact": tex(32, 32, packed, len(dxt)),
        "tex_short_declared": tex(32, 32, packed, 100),
        "tex_long_declared": tex(64, 16, packed, len(dxt) + 50),
        "tex_bad_stream": tex(4, 4, streams["distance_too_far"], 64),
        "tex_stored_trailing": tex(1, 1, streams["ok_stored_abc"], 3) + b"junk",
        "tex_empty_payload": tex(0xFFFF, 0, b"", 16),
        "tex_zero_declared": tex(8, 8, streams["ok_fixed_matches"], 0),
        "tex_truncated_payload": tex(8, 8, b"\x01\x00", 0, compressed=9),
        "tex_short_header": tex(8, 8, b"", 0)[:20],
        "tex_bad_magic": b"TEX?" + bytes(28),
    })


if __name__ == "__main__":
    main()
