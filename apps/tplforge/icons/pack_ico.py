"""Packs raw pixel dumps into a Windows icon file.

pack_ico.py OUT.ico DIR: DIR holds palRR.raw (RGB, at most 256 colours) for the
256-colour images and rgbaRR.raw (RGBA) for the 32-bit ones. The 256-colour images
take their transparency from the RGBA dump of the same size, cut at half alpha.
"""
import struct
import sys

PALETTED = (16, 32, 48)
TRUECOLOUR = (16, 32, 48, 128)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def and_mask(alpha, size):
    # One bit per pixel, set where transparent, rows bottom-up, padded to 32 bits.
    stride = (size + 31) // 32 * 4
    out = bytearray()
    for y in reversed(range(size)):
        row = bytearray(stride)
        for x in range(size):
            if alpha[y * size + x] < 128:
                row[x // 8] |= 0x80 >> (x % 8)
        out += row
    return bytes(out)


def bitmap_header(size, bits, colours):
    # Height counts the XOR image and the AND mask together.
    return struct.pack("<IiiHHIIiiII", 40, size, 2 * size, 1, bits, 0, 0, 0, 0, colours, 0)


def paletted(rgb, alpha, size):
    pixels = [rgb[i:i + 3] for i in range(0, len(rgb), 3)]
    palette = sorted(set(pixels))
    if len(palette) > 256:
        raise SystemExit(f"{size}px: {len(palette)} colours, expected at most 256")
    index = {c: i for i, c in enumerate(palette)}
    table = b"".join(bytes((c[2], c[1], c[0], 0)) for c in palette)
    table += bytes(4 * (256 - len(palette)))
    stride = (size + 3) // 4 * 4
    body = bytearray()
    for y in reversed(range(size)):
        row = bytes(index[pixels[y * size + x]] for x in range(size))
        body += row + bytes(stride - size)
    return bitmap_header(size, 8, 256) + table + bytes(body) + and_mask(alpha, size)


def truecolour(rgba, size):
    body = bytearray()
    for y in reversed(range(size)):
        for x in range(size):
            r, g, b, a = rgba[4 * (y * size + x):4 * (y * size + x) + 4]
            body += bytes((b, g, r, a))
    alpha = rgba[3::4]
    return bitmap_header(size, 32, 0) + bytes(body) + and_mask(alpha, size)


def main():
    out, folder = sys.argv[1], sys.argv[2]
    images = []
    for size in PALETTED:
        alpha = read(f"{folder}/rgba{size}.raw")[3::4]
        images.append((size, 256, 8, paletted(read(f"{folder}/pal{size}.raw"), alpha, size)))
    for size in TRUECOLOUR:
        images.append((size, 0, 32, truecolour(read(f"{folder}/rgba{size}.raw"), size)))

    data = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for size, colours, bits, blob in images:
        data += struct.pack("<BBBBHHII", size, size, colours % 256, 0, 1, bits, len(blob), offset)
        offset += len(blob)
    data += b"".join(blob for _, _, _, blob in images)
    with open(out, "wb") as f:
        f.write(data)


if __name__ == "__main__":
    main()
