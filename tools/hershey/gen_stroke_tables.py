#!/usr/bin/env python3
"""Generate the built-in stroke-font tables (ROMANS, SCRIPTS, GREEKS) from Hershey glyph records.

    python3 tools/hershey/gen_stroke_tables.py [JHF] [OUT.cpp]

Defaults: hershey-needed.jhf beside this script, and src/glyphs/strokefonttables.cpp of the
source tree. Python 3 standard library only. The output is committed; run this again only
when the glyph data or the character maps change.

Record format (Usenet Hershey distribution): columns 1-5 the glyph number, columns 6-8 the
number of character pairs that follow, then the pairs. The first pair is the left and right
bearing; each later pair is a point (x, y), every character being its code minus ord('R');
the pair " R" lifts the pen. Coordinates are relative to the glyph centre, y growing downwards.
"""

import os
import sys

PEN_UP = " R"
# Pen-up and end-of-glyph markers of the tables: a coordinate of -64 lifts the pen.
PEN_UP_POINT = (-64, 0)
END_POINT = (-64, -64)

# (first code point, last code point, first glyph number): a range maps one by one.
SHARED = [
    (0x0020, 0x0020, 698), (0x0021, 0x0021, 714), (0x0022, 0x0022, 717),
    (0x0023, 0x0023, 733), (0x0024, 0x0024, 719), (0x0026, 0x0026, 734),
    (0x0027, 0x0027, 716), (0x0028, 0x0029, 721), (0x002A, 0x002A, 728),
    (0x002B, 0x002B, 725), (0x002C, 0x002C, 711), (0x002D, 0x002D, 724),
    (0x002E, 0x002E, 710), (0x002F, 0x002F, 720), (0x0030, 0x0039, 700),
    (0x003A, 0x003B, 712), (0x003D, 0x003D, 726), (0x003F, 0x003F, 715),
    (0x007C, 0x007C, 723), (0x00B0, 0x00B0, 718),
]

# Latin capitals typed for Greek ones (J and V have none); lower case adds 100.
GREEK_BY_LATIN = {
    "A": 527, "B": 528, "C": 548, "D": 530, "E": 531, "F": 547, "G": 529,
    "H": 533, "I": 535, "K": 536, "L": 537, "M": 538, "N": 539, "O": 541,
    "P": 542, "Q": 534, "R": 543, "S": 544, "T": 545, "U": 546, "W": 550,
    "X": 540, "Y": 549, "Z": 532,
}

FONTS = [
    ("kRomansItems", SHARED + [(0x0041, 0x005A, 501), (0x0061, 0x007A, 601)]),
    ("kScriptsItems", SHARED + [(0x0041, 0x005A, 551), (0x0061, 0x007A, 651)]),
    ("kGreeksItems", SHARED
     + [(ord(c), ord(c), g) for c, g in GREEK_BY_LATIN.items()]
     + [(ord(c.lower()), ord(c.lower()), g + 100) for c, g in GREEK_BY_LATIN.items()]
     + [(0x0391, 0x03A1, 527), (0x03A3, 0x03A9, 544),
        (0x03B1, 0x03B7, 627), (0x03B9, 0x03C1, 635), (0x03C3, 0x03C5, 644),
        (0x03C7, 0x03C9, 648), (0x03D1, 0x03D1, 634), (0x03D5, 0x03D5, 647)]),
]

ACKNOWLEDGEMENT = """\
The glyph data are the public-domain Hershey fonts of the Usenet distribution, whose use
restriction asks that these acknowledgements be distributed with the font data:
  - The Hershey Fonts were originally created by Dr. A. V. Hershey while working at the
    U. S. National Bureau of Standards.
  - The format of the Font data in this distribution was originally created by
    James Hurt, Cognition, Inc., 900 Technology Park Drive, Billerica, MA 01821
    (mit-eddie!ci-dandelion!hurt)."""


def decode(ch):
    return ord(ch) - ord("R")


def parse(path):
    glyphs = {}
    with open(path, encoding="ascii") as f:
        for lineno, line in enumerate(f, 1):
            line = line.rstrip("\n")
            if not line:
                continue
            number = int(line[0:5])
            pairs = int(line[5:8])
            body = line[8:]
            if len(body) != 2 * pairs:
                raise SystemExit(f"{path}:{lineno}: glyph {number}: {pairs} pairs announced, "
                                 f"{len(body)} characters follow")
            left, right = decode(body[0]), decode(body[1])
            points = []
            for i in range(2, len(body), 2):
                pair = body[i:i + 2]
                if pair == PEN_UP:
                    points.append(PEN_UP_POINT)
                else:
                    points.append((decode(pair[0]), decode(pair[1])))
            points.append(END_POINT)
            if number in glyphs:
                raise SystemExit(f"{path}:{lineno}: glyph {number} appears twice")
            glyphs[number] = (left, right, points)
    return glyphs


def items_of(ranges):
    items = []
    for first, last, glyph in ranges:
        for k in range(last - first + 1):
            items.append((first + k, glyph + k))
    items.sort()
    codes = [c for c, _ in items]
    if len(set(codes)) != len(codes):
        raise SystemExit("a character code is mapped twice")
    return items


def main():
    here = os.path.dirname(os.path.abspath(__file__))
    src = sys.argv[1] if len(sys.argv) > 1 else os.path.join(here, "hershey-needed.jhf")
    out = sys.argv[2] if len(sys.argv) > 2 else os.path.join(
        here, "..", "..", "src", "glyphs", "strokefonttables.cpp")
    glyphs = parse(src)
    numbers = sorted(glyphs)
    index_of = {n: i for i, n in enumerate(numbers)}

    lines = []
    lines.append("// Built-in stroke-font tables: Hershey simplex glyphs and the character maps of "
                 "ROMANS, SCRIPTS and GREEKS.")
    lines.append("// Generated by tools/hershey/gen_stroke_tables.py from "
                 "tools/hershey/hershey-needed.jhf; do not edit by hand.")
    lines.append("//")
    for a in ACKNOWLEDGEMENT.splitlines():
        lines.append("// " + a if a else "//")
    lines.append('#include "glyphs/strokefonttables.h"')
    lines.append("")
    lines.append("namespace lapido::strokefonts {")
    lines.append("")
    lines.append("const StrokePoint kStrokePoints[] = {")
    first_point = {}
    count = 0
    for n in numbers:
        _, _, pts = glyphs[n]
        first_point[n] = count
        text = ", ".join(f"{{{x}, {y}}}" for x, y in pts)
        lines.append(f"    {text}, // {n}")
        count += len(pts)
    lines.append("};")
    lines.append("")
    lines.append("const StrokeGlyph kStrokeGlyphs[] = {")
    for n in numbers:
        left, right, pts = glyphs[n]
        lines.append(f"    {{{n}, {left}, {right}, {first_point[n]}, {len(pts)}}},")
    lines.append("};")
    lines.append("const int kStrokeGlyphCount = int(sizeof(kStrokeGlyphs) / sizeof(kStrokeGlyphs[0]));")
    for name, ranges in FONTS:
        items = items_of(ranges)
        missing = sorted({g for _, g in items if g not in glyphs})
        if missing:
            raise SystemExit(f"{name}: glyph(s) {missing} not in {src}")
        lines.append("")
        lines.append(f"const StrokeItem {name}[] = {{")
        for code, glyph in items:
            lines.append(f"    {{0x{code:04X}, {index_of[glyph]}}}, // {glyph}")
        lines.append("};")
        lines.append(f"const int {name[:-5]}Count = int(sizeof({name}) / sizeof({name}[0]));")
    lines.append("")
    lines.append("} // namespace lapido::strokefonts")
    with open(out, "w", encoding="ascii", newline="\n") as f:
        f.write("\n".join(lines) + "\n")


if __name__ == "__main__":
    main()
