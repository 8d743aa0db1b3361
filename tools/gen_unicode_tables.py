#!/usr/bin/env python3
"""Writes runtime/unicode_tables.cpp: Zot's case-mapping pairs and display-width ranges.

The data comes from this Python's unicodedata module, so the tables follow its
Unicode version (named in the generated file). Run from anywhere:

    python3 tools/gen_unicode_tables.py            # writes runtime/unicode_tables.cpp
    python3 tools/gen_unicode_tables.py --check    # fails when the committed file differs

Case mapping is the simple (one code point to one code point) mapping. Python
only exposes the full mappings (str.upper / str.lower); where a full mapping is
a single code point it is the simple one. The few characters whose full
mapping is longer get a simple mapping only when the character database gives
one, which happens in exactly two shapes:
  - a lower-case Greek letter with iota subscript maps up to the title-case
    letter that lowers to it (U+1F80 -> U+1F88, U+1FB3 -> U+1FBC, ...);
  - a capital whose full lower case is a letter plus COMBINING DOT ABOVE maps
    down to that letter (U+0130 -> U+0069).
Everything else with a multi-character full mapping (U+00DF, the ligatures,
...) has no simple mapping and is left unchanged.

Display width: zero for nonspacing and enclosing marks (Mn, Me) and format
characters (Cf) except SOFT HYPHEN, which terminals show; two for East Asian
Wide and Fullwidth, including the unassigned code points of the blocks and
planes whose default is Wide; a third table lists the East Asian Ambiguous
ranges (also the private-use planes' default). The zero-width characters are
left out of the other two tables.
"""

import argparse
import os
import sys
import unicodedata

MAX_CP = 0x10FFFF
OUT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "runtime", "unicode_tables.cpp")

# Unassigned code points here count as Wide (the default of the East Asian
# Width property for these blocks and planes).
DEFAULT_WIDE = [
    (0x3400, 0x4DBF), (0x4E00, 0x9FFF), (0xF900, 0xFAFF),
    (0x20000, 0x2FFFD), (0x30000, 0x3FFFD),
]
# Private use code points default to Ambiguous.
DEFAULT_AMBIGUOUS = [(0xE000, 0xF8FF), (0xF0000, 0xFFFFD), (0x100000, 0x10FFFD)]


def is_surrogate(cp):
    return 0xD800 <= cp <= 0xDFFF


def simple_case_maps():
    upper, lower = {}, {}
    # Title-case letters by the letter they lower to, for the iota-subscript case.
    title_of = {}
    for cp in range(MAX_CP + 1):
        if is_surrogate(cp):
            continue
        c = chr(cp)
        if unicodedata.category(c) == "Lt":
            low = c.lower()
            if len(low) == 1:
                title_of[low] = c
    for cp in range(MAX_CP + 1):
        if is_surrogate(cp):
            continue
        c = chr(cp)
        u = c.upper()
        if len(u) != 1:
            u = title_of.get(c, c)
        if u != c:
            upper[cp] = ord(u)
        lo = c.lower()
        if len(lo) != 1:
            lo = lo[0] if len(lo) == 2 and lo[1] == "\u0307" else c
        if lo != c:
            lower[cp] = ord(lo)
    return upper, lower


def merge(points):
    """Sorted code points -> list of inclusive (low, high) ranges."""
    ranges = []
    for cp in points:
        if ranges and ranges[-1][1] + 1 == cp:
            ranges[-1][1] = cp
        else:
            ranges.append([cp, cp])
    return [tuple(r) for r in ranges]


def in_any(cp, ranges):
    return any(lo <= cp <= hi for lo, hi in ranges)


def width_ranges():
    zero, wide, ambiguous = [], [], []
    for cp in range(MAX_CP + 1):
        if is_surrogate(cp):
            continue
        c = chr(cp)
        cat = unicodedata.category(c)
        if cat in ("Mn", "Me") or (cat == "Cf" and cp != 0x00AD):
            zero.append(cp)
            continue  # a mark takes no column, whatever its East Asian Width
        eaw = unicodedata.east_asian_width(c)
        if cat == "Cn":
            # unicodedata has no East Asian Width for unassigned code points
            # (it answers F): use the property's defaults instead.
            if in_any(cp, DEFAULT_WIDE):
                eaw = "W"
            elif in_any(cp, DEFAULT_AMBIGUOUS):
                eaw = "A"
            else:
                eaw = "N"
        if eaw in ("W", "F"):
            wide.append(cp)
        elif eaw == "A":
            ambiguous.append(cp)
    return merge(zero), merge(wide), merge(ambiguous)


def fmt_pairs(name, ctype, pairs, per_line, digits, storage="extern const"):
    lines = [f"{storage} {ctype} {name}[][2] = {{"]
    for i in range(0, len(pairs), per_line):
        chunk = pairs[i:i + per_line]
        lines.append("  " + " ".join(f"{{0x{a:0{digits}X}, 0x{b:0{digits}X}}}," for a, b in chunk))
    lines.append("};")
    lines.append(f"{storage} std::size_t {name}_count = {len(pairs)};")
    return "\n".join(lines)


def fmt_ranges(name, ranges, per_line=5):
    lines = [f"extern const Range {name}[] = {{"]
    for i in range(0, len(ranges), per_line):
        chunk = ranges[i:i + per_line]
        lines.append("  " + " ".join(f"{{0x{a:05X}, 0x{b:05X}}}," for a, b in chunk))
    lines.append("};")
    lines.append(f"extern const std::size_t {name}_count = {len(ranges)};")
    return "\n".join(lines)


def generate():
    upper, lower = simple_case_maps()
    for table in (upper, lower):
        for cp, m in table.items():
            # The BMP tables are 16-bit: a BMP letter must map inside the BMP.
            assert (cp <= 0xFFFF) == (m <= 0xFFFF), (hex(cp), hex(m))
    up_bmp = sorted((a, b) for a, b in upper.items() if a <= 0xFFFF)
    lo_bmp = sorted((a, b) for a, b in lower.items() if a <= 0xFFFF)
    up_astral = sorted((a, b) for a, b in upper.items() if a > 0xFFFF)
    lo_astral = sorted((a, b) for a, b in lower.items() if a > 0xFFFF)
    zero, wide, ambiguous = width_ranges()

    parts = [
        "// Generated by tools/gen_unicode_tables.py from the unicodedata module of",
        f"// Python {sys.version.split()[0]} (Unicode {unicodedata.unidata_version}). Do not edit: rerun the script.",
        "",
        '#include "runtime/unicode.h"',
        "",
        "namespace zot::unicode::tables {",
        "",
        f'extern const char unicode_version[] = "{unicodedata.unidata_version}";',
        "",
        "// Simple case mappings (code point, mapping), sorted by code point. The",
        "// BMP ones are constant expressions: the case tables are built from them",
        "// at compile time.",
        fmt_pairs("upper_bmp", "u16", up_bmp, 8, 4, "constexpr"),
        "",
        fmt_pairs("lower_bmp", "u16", lo_bmp, 8, 4, "constexpr"),
        "",
        fmt_pairs("upper_astral", "u32", up_astral, 6, 5),
        "",
        fmt_pairs("lower_astral", "u32", lo_astral, 6, 5),
        "",
        "// Display width ranges (inclusive), sorted.",
        fmt_ranges("zero_width", zero),
        "",
        fmt_ranges("double_width", wide),
        "",
        fmt_ranges("ambiguous_width", ambiguous),
        "",
        "}  // namespace zot::unicode::tables",
        "",
        "namespace zot::case_::detail {",
        "",
        "// Built by the compiler: read-only data, nothing to fill at start-up.",
        "constexpr CaseTable upper_table = bmp_case_table(unicode::tables::upper_bmp);",
        "constexpr CaseTable lower_table = bmp_case_table(unicode::tables::lower_bmp);",
        "",
        "}  // namespace zot::case_::detail",
        "",
    ]
    return "\n".join(parts)


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--check", action="store_true", help="compare with the committed file instead of writing")
    ap.add_argument("-o", "--output", default=OUT)
    args = ap.parse_args()
    text = generate()
    if args.check:
        with open(args.output, encoding="utf-8") as f:
            if f.read() != text:
                print(f"{args.output} is out of date", file=sys.stderr)
                return 1
        return 0
    with open(args.output, "w", encoding="utf-8") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
