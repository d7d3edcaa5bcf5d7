"""The image the download benchmarks send: random data under a
converter-style header (magic, length, XOR checksum, base 0x8000, size)."""
import os
import struct


def write_image(path, size):
    """Writes the image of size bytes to path; returns its bytes."""
    data = bytearray(os.urandom(size))
    struct.pack_into("<III", data, 0, 0x12345678, size - 12, 0)
    struct.pack_into("<II", data, 16, 0x8000, size)
    data[32] = 0
    checksum = 0
    for (w,) in struct.iter_unpack("<I", bytes(data[12:])):
        checksum ^= w
    struct.pack_into("<I", data, 8, checksum)
    with open(path, "wb") as f:
        f.write(data)
    return bytes(data)
