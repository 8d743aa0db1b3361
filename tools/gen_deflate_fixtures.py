#!/usr/bin/env python3
"""Writes the inflate fixtures under tests/fixtures/deflate: inputs and the
streams that python3's zlib makes of them (raw deflate, zlib and gzip framing,
at several levels and strategies), and gzip members with every header field.

Each input NAME.in gets NAME.KIND files beside it; the unit tests inflate each
one and compare with NAME.in. Run it again only to change the fixtures."""
import os
import random
import struct
import zlib

OUT = os.path.join(os.path.dirname(__file__), "..", "tests", "fixtures", "deflate")


def inputs():
    rnd = random.Random(1965)
    words = ["zot", "series", "block", "word", "value", "parse", "the", "a", "of", "cell", "frame", "\n"]
    text = " ".join(rnd.choice(words) for _ in range(4000)).encode()
    noise = bytes(rnd.getrandbits(8) for _ in range(3000))
    # Long-distance repeats, runs, text and noise mixed: several blocks at level 9.
    mixed = b"".join([text[:12000], b"\0" * 3000, noise[:2000], text[2000:20000], bytes(range(256)) * 8])
    return {
        "empty": b"",
        "one": b"Z",
        "text": text,
        "noise": noise,
        "mixed": mixed,
        "utf8": "Grüße, Zot! ∑ 😀 ".encode() * 100,
    }


def raw(data, level, strategy=zlib.Z_DEFAULT_STRATEGY):
    c = zlib.compressobj(level, zlib.DEFLATED, -15, 9, strategy)
    return c.compress(data) + c.flush()


def framed(data, level, wbits):
    c = zlib.compressobj(level, zlib.DEFLATED, wbits)
    return c.compress(data) + c.flush()


def gzip_member(data, flags_fields):
    """A gzip member with FEXTRA, FNAME, FCOMMENT and FHCRC as asked."""
    flg = 0
    tail = b""
    if "extra" in flags_fields:
        flg |= 4
        extra = b"ZT\x04\x00zot!"
        tail += struct.pack("<H", len(extra)) + extra
    if "name" in flags_fields:
        flg |= 8
        tail += b"data.txt\0"
    if "comment" in flags_fields:
        flg |= 16
        tail += b"made for the inflate tests\0"
    head = bytes([0x1F, 0x8B, 8, flg]) + struct.pack("<I", 1700000000) + bytes([0, 3])
    if "hcrc" in flags_fields:
        head = bytes([0x1F, 0x8B, 8, flg | 2]) + head[4:]
        hdr = head + tail
        tail += struct.pack("<H", zlib.crc32(hdr) & 0xFFFF)
    body = raw(data, 6)
    return head + tail + body + struct.pack("<II", zlib.crc32(data), len(data) & 0xFFFFFFFF)


def main():
    os.makedirs(OUT, exist_ok=True)
    for name, data in inputs().items():
        files = {
            "in": data,
            "l0.raw": raw(data, 0),
            "l1.raw": raw(data, 1),
            "l6.raw": raw(data, 6),
            "l9.raw": raw(data, 9),
            "huffman.raw": raw(data, 6, zlib.Z_HUFFMAN_ONLY),
            "rle.raw": raw(data, 6, zlib.Z_RLE),
            "fixed.raw": raw(data, 6, zlib.Z_FIXED),
            "l6.zlib": framed(data, 6, 15),
            "l9.zlib": framed(data, 9, 15),
            "l6.gz": framed(data, 6, 31),
        }
        if name in ("text", "one"):
            files["fields.gz"] = gzip_member(data, {"extra", "name", "comment", "hcrc"})
            files["name.gz"] = gzip_member(data, {"name"})
            # A stream cut by a sync flush: blocks end on a byte boundary, no final block.
            c = zlib.compressobj(6, zlib.DEFLATED, -15)
            files["sync.raw"] = c.compress(data) + c.flush(zlib.Z_SYNC_FLUSH)
        for kind, blob in files.items():
            with open(os.path.join(OUT, f"{name}.{kind}"), "wb") as f:
                f.write(blob)


if __name__ == "__main__":
    main()
