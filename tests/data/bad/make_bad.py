#!/usr/bin/env python3
"""Writes the damaged own-format files beside this script, each case in both
byte orders (NAME_le.tam, NAME_be.tam), the list bad.list that the reader's
test walks, and the same files as seeds of the reader's fuzz target
(tests/fuzz/corpus/bad_*):

    FILE  TAIL  EXPECT  WHAT

TAIL 1 reads the file with its tail. EXPECT is
    refused          refused in either byte order;
    accepted         read (a repaired or harmless oddity);
    refused-own      refused when the file has the reading machine's byte
                     order, read when it has the other one (a file of the
                     other order is read without its tail);
    refused-foreign  refused only when the file has the other byte order.

Deterministic, standard library only: run it again after changing a case and
commit what it writes.
"""
import os
import struct
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))

CODES = {"8bit": 257, "u8bit": 1025, "16bit": 258, "u16bit": 1026, "32bit": 260,
         "32flt": 516, "64flt": 520, "struct": 8192}
SIZES = {"8bit": 1, "u8bit": 1, "16bit": 2, "u16bit": 2, "32bit": 4, "32flt": 4,
         "64flt": 8, "struct": 1}


def pad(n):
    return b"." * ((512 - n % 512) % 512)


def pattern(n, seed=7):
    x, out = seed, bytearray(n)
    for i in range(n):
        x = (x * 1103515245 + 12345) & 0xFFFFFFFF
        out[i] = (x >> 16) & 0xFF
    return bytes(out)


def header(order, typename="16bit", code=None, bpd=None, ndim=2, tlen=0, comp=0,
           bsize=512, magic=b"TAM\0", endian=None, dt_bytes=None):
    """The 256-byte file header; `order` is '<' or '>'."""
    h = bytearray(256)
    h[0:4] = magic
    struct.pack_into(order + "i", h, 4, bsize)
    struct.pack_into(order + "iiii", h, 8, 0, 0, -1, tlen)
    h[28:34] = b"Orv is"
    h[108:112] = b"tamo"
    h[148] = (2 if order == "<" else 1) if endian is None else endian
    h[149] = 16
    struct.pack_into(order + "ff", h, 204, 1.0, 0.0)
    dt = dt_bytes if dt_bytes is not None else typename.encode()
    h[212:212 + len(dt)] = dt
    struct.pack_into(order + "iii", h, 228, CODES.get(typename, 0) if code is None else code,
                     SIZES.get(typename, 1) if bpd is None else bpd, ndim)
    h[255] = comp
    return bytes(h)


def dims(order, lengths, numbers=None):
    out = b""
    for i, n in enumerate(lengths):
        rec = bytearray(64)
        struct.pack_into(order + "ii", rec, 0, n, (numbers or range(1, 99))[i])
        rec[8:11] = b"fwd"
        struct.pack_into(order + "ff", rec, 24, 1.0, 0.0)
        out += bytes(rec)
    return out


def swapped(data, size):
    if size == 1 or not data:
        return data
    return b"".join(data[i:i + size][::-1] for i in range(0, len(data), size))


def image(order, lengths=(8, 4), typename="16bit", data=None, comp=0, stream=None,
          tail=b"", padded=True, **fields):
    """A whole file: header, dimension records, padding, data (or `stream`
    as the compressed data), padding, tail."""
    n = fields["bpd"] if typename == "struct" else SIZES[typename]
    for length in lengths:
        n *= length
    if data is None:
        # Values in the file's byte order: native pattern bytes swapped per element.
        data = pattern(n)
    head = header(order, typename, ndim=len(lengths), tlen=len(tail), comp=comp, **fields)
    head += dims(order, lengths)
    if padded:
        head += pad(len(head))
    if comp and stream is None:
        stream = zlib.compress(data, 6)
    body = stream if comp else data
    f = head + body + pad(n)
    if tail:
        f += tail + pad(len(tail))
    return f


def cases(order):
    """(name, tail flag, expectation, description, bytes) for one byte order."""
    good = image(order)
    packed_data = bytes(2048)
    for i in range(0, 2048, 7):
        packed_data = packed_data[:i] + bytes([i % 251]) + packed_data[i + 1:]
    packed = image(order, (32, 32), "8bit", data=packed_data, comp=1)
    stream = zlib.compress(packed_data, 6)
    head_len = 512  # header section of a file with one to three dimensions

    def with_stream(s, lengths=(32, 32)):
        return image(order, lengths, "8bit", data=packed_data, comp=1, stream=s)

    def field(f, at, fmt, value):
        b = bytearray(f)
        struct.pack_into(order + fmt, b, at, value)
        return bytes(b)

    # A dynamic Huffman block whose code-length code gives four symbols one
    # bit each (over-subscribed): zlib refuses it as an invalid code lengths set.
    bad_huffman = b"\x78\x9c" + bytes([0x05, 0x00, 0x92, 0x04]) + bytes(8)
    bomb = zlib.compress(bytes(16 << 20), 9)

    yield "size0", 0, "refused", "empty file", b""
    yield "size1", 0, "refused", "one byte", good[:1]
    yield "size4", 0, "refused", "only the mark", good[:4]
    yield "size255", 0, "refused", "header one byte short", good[:255]
    yield "magic", 0, "refused", "mark XYZ", b"XYZ\0" + good[4:]
    yield "blocksize", 0, "refused", "block size 1024", field(good, 4, "i", 1024)
    yield "blocksize_zero", 0, "refused", "block size 0", field(good, 4, "i", 0)
    yield "endian7", 0, "refused", "endian byte 7", image(order, endian=7)
    yield "endian0", 0, "refused", "endian byte 0", image(order, endian=0)
    yield ("typename_nonul", 0, "refused", "type name fills its field without a NUL",
           image(order, dt_bytes=b"16bitABCDEFGHIJK"))
    yield "typename_unknown", 0, "refused", "type name 17bit", image(order, dt_bytes=b"17bit")
    yield "bpd0", 0, "refused", "0 bytes per datum", image(order, bpd=0)
    yield "bpd_negative", 0, "refused", "-2 bytes per datum", image(order, bpd=-2)
    yield "bpd_contradicts", 0, "refused", "16bit with 4 bytes per datum", image(order, bpd=4)
    yield ("code_other_known", 0, "accepted", "16bit named, u16bit's code: same size, repaired "
           "or kept", image(order, code=CODES["u16bit"]))
    yield ("code_size_contradicts", 0, "refused-own", "16bit named, 64flt's code",
           image(order, code=CODES["64flt"]))
    for n, label in ((0, "0"), (-1, "minus1"), (4, "4"), (2**31 - 1, "intmax")):
        yield ("ndim_" + label, 0, "refused", "number of dimensions %d" % n,
               field(good, 236, "i", n))
    yield ("ndim4_whole", 0, "refused", "four dimension records and data for them",
           image(order, (2, 2, 2, 2)))
    for n, label in ((0, "0"), (-1, "minus1"), (-2**31, "intmin")):
        yield ("dlen_" + label, 0, "refused", "second dimension length %d" % n,
               field(good, 256 + 64, "i", n))
    yield "dnum_twice", 0, "refused", "dimension 1 twice", field(good, 256 + 64 + 4, "i", 1)
    yield ("overflow32", 0, "refused", "65536 x 65536 bytes",
           image(order, (65536, 65536), "8bit", data=b""))
    yield ("overflow64", 0, "refused", "2^31-1 cubed 64flt",
           image(order, (2**31 - 1,) * 3, "64flt", data=b""))
    yield ("raw_longer", 0, "refused", "1000 x 1000 16bit announced, 64 bytes there",
           image(order, (1000, 1000), data=pattern(64)))
    yield ("header_short", 0, "refused", "no padding after the dimension records",
           image(order, padded=False))
    yield "raw_cut1", 0, "refused", "raw data one byte short", good[:head_len + 64 - 1]
    yield ("zlib_header", 0, "refused", "zlib header check fails",
           with_stream(b"\x78\x00" + stream[2:]))
    yield ("zlib_adler", 0, "refused", "zlib checksum wrong",
           with_stream(stream[:-4] + bytes(b ^ 0xFF for b in stream[-4:])))
    yield "zlib_huffman", 0, "refused", "invalid Huffman code lengths", with_stream(bad_huffman)
    yield "zlib_cut", 0, "refused", "zlib stream cut in half", packed[:head_len + len(stream) // 2]
    yield ("zlib_fewer", 0, "refused", "stream inflates to fewer bytes than announced",
           with_stream(stream, (32, 33)))
    yield ("zlib_more", 0, "refused", "stream inflates to more bytes than announced",
           with_stream(stream, (32, 31)))
    yield ("zlib_bomb", 0, "refused", "16 MiB of zeros where 1 KiB is announced",
           with_stream(bomb, (32, 32)))
    yield ("zlib_longer", 0, "refused", "10^8 bytes announced from a 1 KiB stream",
           with_stream(stream, (10000, 10000)))
    yield "tail_negative", 1, "refused", "tail length -5", field(good, 20, "i", -5)
    yield "tail_huge", 1, "refused-own", "tail length 2^31-1", field(good, 20, "i", 2**31 - 1)
    yield ("tail_longer", 1, "refused-own", "tail length 100000 in a 1 KiB file",
           field(image(order, tail=b"a short tail\0"), 20, "i", 100000))
    yield ("struct_data", 0, "refused-foreign", "struct data cannot be swapped",
           image(order, (4, 4), "struct", bpd=3, data=pattern(48)))


def main():
    listing = []
    for order, suffix in (("<", "le"), (">", "be")):
        for name, tail, expect, what, data in cases(order):
            fname = "%s_%s.tam" % (name, suffix)
            with open(os.path.join(HERE, fname), "wb") as f:
                f.write(data)
            listing.append("%s\t%d\t%s\t%s" % (fname, tail, expect, what))
    # The same files seed the reader's fuzz target, whose first input byte
    # says how to read the rest: bit 0 the tail, bit 1 from a regular file.
    seeds = os.path.join(HERE, "..", "..", "fuzz", "corpus")
    for line in listing:
        fname, tail = line.split("\t")[:2]
        with open(os.path.join(HERE, fname), "rb") as f:
            data = f.read()
        with open(os.path.join(seeds, "bad_" + fname[:-4]), "wb") as f:
            f.write(bytes([2 | int(tail)]) + data)
    with open(os.path.join(HERE, "bad.list"), "w") as f:
        f.write("# Written by make_bad.py: file, tail flag, expectation, what is wrong\n")
        f.write("\n".join(listing) + "\n")


if __name__ == "__main__":
    main()
