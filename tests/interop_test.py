#!/usr/bin/python3
"""The DDS files tavrimox writes open in Pillow and ImageMagick, and decode to
the same pixels as the DDS file ImageMagick itself writes for the same blocks.

  interop_test.py TAVRIMOX MAKE_TEX SAMPLES_DIR WORK_DIR

Two kinds of case:
- each samples/*.tex: the reference is ImageMagick's own header for a DXT5
  picture of that size, followed by the blocks that Python's zlib (not our
  decoder) inflates from the TEX payload;
- pictures drawn here, sizes not all multiples of 4: ImageMagick writes the
  reference DDS, make_tex wraps its blocks, tavrimox converts back.
In both, tavrimox's payload must equal the reference's byte for byte, so any
pixel difference a reader shows comes from how it reads our header. The
drawn pictures also go through make_tex's other options (--stored, --level,
--raw), each of which must convert back to the blocks under the fixed header.

Exits 77 (ctest's skip) when ImageMagick is missing (it makes every
reference), or when Pillow is, after the ImageMagick checks have passed.
"""
import os
import shutil
import struct
import subprocess
import sys
import zlib

SKIP = 77

try:
    from PIL import Image
except ImportError:
    Image = None

CONVERT = shutil.which("convert")
FFMPEG = shutil.which("ffmpeg")  # checked too where installed; CI does not

failures = []
skipped = []


def fail(case, what):
    failures.append(f"{case}: {what}")
    print(f"FAIL {case}: {what}")


def run(args):
    return subprocess.run(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE, check=False)


def tex_fields(tex):
    """(width, height, payload, declared uncompressed size) of a TEX file."""
    assert tex[:4] == b"TEX ", "not a TEX file"
    width, height = struct.unpack_from("<HH", tex, 4)
    compressed, uncompressed = struct.unpack_from("<II", tex, 20)
    return width, height, tex[32:32 + compressed], uncompressed


def imagemagick_dxt5(source_args, path):
    """Has ImageMagick write a DXT5 DDS without mip-maps; -alpha set keeps it
    from choosing DXT1 for an opaque picture."""
    result = run([CONVERT, *source_args, "-alpha", "set", "-define", "dds:compression=dxt5",
                  "-define", "dds:mipmaps=0", path])
    if result.returncode != 0:
        raise RuntimeError(result.stderr.decode(errors="replace"))


def pillow_pixels(path):
    with Image.open(path) as image:
        return image.format, image.size, image.convert("RGBA").tobytes()


def command_pixels(args, width, height):
    """The RGBA bytes a command-line reader writes to standard output."""
    result = run(args)
    if result.returncode != 0:
        raise RuntimeError(result.stderr.decode(errors="replace").strip())
    if len(result.stdout) != width * height * 4:
        raise RuntimeError(f"{len(result.stdout)} bytes of pixels for {width}x{height}")
    return result.stdout


# Command-line readers: name, program, its arguments for a file, what the
# reference is to it.
COMMAND_READERS = [
    ("ImageMagick", CONVERT, lambda path: [CONVERT, path, "-depth", "8", "RGBA:-"], "its own DDS"),
    ("ffmpeg", FFMPEG,
     lambda path: [FFMPEG, "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "rgba", "-"],
     "ImageMagick's DDS"),
]


def compare_readers(case, ours, reference, width, height):
    if Image is not None:
        try:
            fmt, size, pixels = pillow_pixels(ours)
            _, _, expected = pillow_pixels(reference)
            if fmt != "DDS" or size != (width, height):
                fail(case, f"Pillow reads {fmt} {size}, not DDS {(width, height)}")
            elif pixels != expected:
                fail(case, "Pillow decodes other pixels than from ImageMagick's DDS")
        except Exception as error:  # any refusal by the reader is the finding
            fail(case, f"Pillow: {error}")
    for reader, program, args, reference_is in COMMAND_READERS:
        if program is None:
            continue
        try:
            if command_pixels(args(ours), width, height) != command_pixels(args(reference), width, height):
                fail(case, f"{reader} decodes other pixels than from {reference_is}")
        except Exception as error:
            fail(case, f"{reader}: {error}")


def convert_and_compare(case, tavrimox, tex_path, reference_header, work):
    """Converts tex_path, checks the payload against zlib's inflation of it,
    then has the readers compare our file with header + the same blocks."""
    with open(tex_path, "rb") as f:
        width, height, payload, declared = tex_fields(f.read())
    blocks = zlib.decompressobj(-15).decompress(payload)
    ours = os.path.join(work, case + ".ours.dds")
    result = run([tavrimox, tex_path, ours])
    if result.returncode != 0:
        fail(case, f"tavrimox exit {result.returncode}: {result.stderr!r}")
        return
    with open(ours, "rb") as f:
        written = f.read()
    if len(blocks) != declared or written[128:] != blocks:
        fail(case, "payload differs from zlib's inflation")
        return
    # A DXT5 surface is 16 bytes per 4x4 block; readers refuse less.
    if len(blocks) < ((width + 3) // 4) * ((height + 3) // 4) * 16:
        fail(case, "sample holds fewer blocks than its size needs")
        return
    reference = os.path.join(work, case + ".reference.dds")
    with open(reference, "wb") as f:
        f.write(reference_header + blocks)
    compare_readers(case, ours, reference, width, height)


def check_make_tex_options(case, tavrimox, make_tex, dds, work):
    """make_tex's other ways to the same TEX payload: stored blocks, another
    level, raw blocks with the size given. tavrimox must give the blocks back."""
    with open(dds, "rb") as f:
        data = f.read()
    height, width = struct.unpack_from("<II", data, 12)
    blocks = data[128:]
    raw = os.path.join(work, case + ".blocks")
    with open(raw, "wb") as f:
        f.write(blocks)
    for name, options in [("stored", ["--stored", dds]), ("level1", ["--level", "1", dds]),
                          ("raw", ["--raw", str(width), str(height), raw])]:
        tex = os.path.join(work, f"{case}.{name}.tex")
        out = os.path.join(work, f"{case}.{name}.dds")
        result = run([make_tex, *options, tex])
        if result.returncode != 0:
            fail(case, f"make_tex {name}: {result.stderr!r}")
            continue
        with open(tex, "rb") as f:
            fields = tex_fields(f.read())
        if fields[:2] != (width, height) or fields[3] != len(blocks):
            fail(case, f"make_tex {name}: header {fields[:2]}, {fields[3]} bytes")
        if name == "stored" and len(fields[2]) <= len(blocks):
            fail(case, "make_tex --stored compressed the blocks")
        result = run([tavrimox, tex, out])
        with open(out, "rb") as f:
            if result.returncode != 0 or f.read() != header_bytes(data) + blocks:
                fail(case, f"make_tex {name}: tavrimox does not give the blocks back")


def header_bytes(dds):
    """The header tavrimox writes for the size in this DDS file: only height
    and width differ from one file to the next."""
    height, width = struct.unpack_from("<II", dds, 12)
    return (b"DDS " + struct.pack("<III", 124, 0x1007, height) + struct.pack("<I", width) +
            bytes(56) + struct.pack("<III", 32, 4, 0x35545844) + bytes(40))


def header_for_size(width, height, work):
    """ImageMagick's own 128-byte DXT5 header for a picture of this size."""
    path = os.path.join(work, f"header_{width}x{height}.dds")
    imagemagick_dxt5(["-size", f"{width}x{height}", "xc:gray"], path)
    with open(path, "rb") as f:
        return f.read(128)


# Drawn pictures: sizes that are and are not multiples of the 4x4 block.
DRAWN = [
    ("drawn_64x64", 64, 64),
    ("drawn_30x18", 30, 18),
    ("drawn_1x1", 1, 1),
    ("drawn_5x260", 5, 260),
]


def main():
    if len(sys.argv) != 5:
        print(__doc__)
        return 2
    tavrimox, make_tex, samples, work = sys.argv[1:]
    os.makedirs(work, exist_ok=True)
    if CONVERT is None:
        print("SKIP: ImageMagick (convert) not installed; it writes the reference DDS files")
        return SKIP
    if Image is None:
        skipped.append("Pillow (python3-pil) not installed")

    sample_files = sorted(f for f in os.listdir(samples) if f.endswith(".tex"))
    for name in sample_files:
        case = name[:-4]
        with open(os.path.join(samples, name), "rb") as f:
            width, height, _, _ = tex_fields(f.read(32))
        header = header_for_size(width, height, work)
        convert_and_compare(case, tavrimox, os.path.join(samples, name), header, work)

    for case, width, height in DRAWN:
        dds = os.path.join(work, case + ".imagemagick.dds")
        imagemagick_dxt5(["-size", f"{width}x{height}", "-define", "gradient:angle=60",
                          "gradient:#f04010-#1060e0", "-fill", "#ffffff", "-draw",
                          f"circle {width // 2},{height // 2} {width // 2},{height // 4}",
                          "(", "-size", f"{width}x{height}", "gradient:white-#202020", ")",
                          "-alpha", "off", "-compose", "copy_opacity", "-composite"], dds)
        tex = os.path.join(work, case + ".tex")
        result = run([make_tex, dds, tex])
        if result.returncode != 0:
            fail(case, f"make_tex: {result.stderr!r}")
            continue
        with open(dds, "rb") as f:
            header = f.read(128)
        convert_and_compare(case, tavrimox, tex, header, work)
        check_make_tex_options(case, tavrimox, make_tex, dds, work)

    checked = len(sample_files) + len(DRAWN)
    if failures:
        print(f"{len(failures)} failure(s)")
        return 1
    if skipped:
        print("SKIP (after the checks that could run passed): " + "; ".join(skipped))
        return SKIP
    readers = "Pillow, ImageMagick" + (" and ffmpeg" if FFMPEG else "")
    print(f"{checked} textures open in {readers} like ImageMagick's own DDS")
    return 0


if __name__ == "__main__":
    sys.exit(main())
