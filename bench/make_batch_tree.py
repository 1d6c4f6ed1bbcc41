#!/usr/bin/python3
"""Writes the batch benchmark's game folder: 2000 small textures (64x64 to
256x256) in 100 nested folders and 40 large ones (1024x1024 to 4096x4096),
as TEX files compressed by zlib at level 9, and the list of their paths.

  make_batch_tree.py CORPUS OUT

CORPUS holds make_corpus.sh's DXT5 block files. A small texture is a tile
of whole 4x4 blocks cut from one of them (a DXT5 picture of its own); the
large ones are the corpus pictures themselves, in turn. Same inputs, same
tree: the tiles follow a fixed sequence.
"""
import os
import struct
import sys
import zlib

SOURCES = ["softwaves-1024.dxt5", "homeworld-1024-alpha.dxt5", "emerald-2048.dxt5",
           "joy-2048.dxt5", "softwaves-4096.dxt5"]
SIDES = {"softwaves-1024.dxt5": 1024, "homeworld-1024-alpha.dxt5": 1024,
         "emerald-2048.dxt5": 2048, "joy-2048.dxt5": 2048, "softwaves-4096.dxt5": 4096}


def tex(width, height, blocks):
    z = zlib.compressobj(9, zlib.DEFLATED, -15)
    payload = z.compress(blocks) + z.flush()
    header = b"TEX " + struct.pack("<HH", width, height) + bytes(12) + \
        struct.pack("<II", len(payload), len(blocks)) + bytes(4)
    return header + payload


def tile(data, side, x, y, size):
    """size x size pixels at block (x, y) of a side x side DXT5 picture."""
    row = side // 4 * 16
    out = bytearray()
    for by in range(y, y + size // 4):
        start = by * row + x * 16
        out += data[start:start + size // 4 * 16]
    return bytes(out)


def main():
    corpus, out = sys.argv[1], sys.argv[2]
    data = {name: open(os.path.join(corpus, name), "rb").read() for name in SOURCES}
    paths = []
    seed = 12345
    for n in range(2000):
        seed = (seed * 1103515245 + 12345) % 2**31
        name = SOURCES[seed % len(SOURCES)]
        size = (64, 128, 256)[(seed >> 8) % 3]
        side = SIDES[name]
        x = (seed >> 12) % ((side - size) // 4)
        y = (seed >> 20) % ((side - size) // 4)
        path = os.path.join("game", f"area{n % 10}", f"set{n // 10 % 10}", f"tex{n}.tex")
        paths.append((path, tex(size, size, tile(data[name], side, x, y, size))))
    for n in range(40):
        name = SOURCES[n % len(SOURCES)]
        side = SIDES[name]
        paths.append((os.path.join("game", "large", f"big{n}.tex"), tex(side, side, data[name])))
    for path, content in paths:
        full = os.path.join(out, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(content)
    with open(os.path.join(out, "list.txt"), "w") as f:
        f.writelines(path + "\n" for path, _ in paths)


main()
