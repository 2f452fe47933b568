#!/usr/bin/env python3
"""Writes seeds for fuzz_dat whose DATs hold tokens far longer than the pieces they are read in.

A comment, a run of blanks, a description, an attribute value, a processing instruction, a DTD
literal, in each place of a document they can stand, whole or cut short or wrong after a long
run; each seed in several pieces. The first byte of a seed chooses the pieces (see
fuzz_dat.cpp): an even byte b gives pieces of b / 2 bytes, an odd one the whole at once.

Usage: long_token_seeds.py DIRECTORY
"""
import pathlib
import sys

LONG = 24 << 10
ROM = '<rom name="r" size="1" crc="00000001"/>'
BAD = '\n<rom name="b" size="12k" crc="00000002"/>'
MACHINE = '<machine name="m"><description>D &amp; d</description>' + ROM


def run(pattern: str) -> str:
    return (pattern * (LONG // len(pattern) + 1))[:LONG]


def documents() -> dict[str, str]:
    text = run("lorem ipsum\r\ndolor\tsit\n amet\r")
    return {
        "prolog_comment": '<?xml version="1.0"?>\n<!--' + text + "-->\n<mame>" + MACHINE + BAD,
        "dtd_comment": "<!DOCTYPE mame [\n<!--" + text + '-->\n<!ATTLIST rom status CDATA "baddump">'
        + "\n<!ENTITY % p '" + run("x") + "'>\n]>\n<mame>" + MACHINE + "</machine></mame>",
        "dtd_literal": '<!DOCTYPE mame SYSTEM "' + run("s") + '">\n<mame>' + MACHINE + BAD,
        "body_comment": "<mame>\n" + MACHINE + "<!--" + text + "-->" + BAD,
        "epilog_comment": "<mame>" + MACHINE + "</machine></mame>\n<!--" + text + "-->\n<x/>",
        "open_comment": "<mame>\n" + MACHINE + "<!--" + text,
        "bad_comment": "<mame>\n" + MACHINE + "<!--" + text + "--\n>",
        "blanks": "<mame>" + run(" \r\n\t\n") + MACHINE + run("\r\n ") + BAD,
        "description": '<mame><machine name="m"><description>' + run("long &lt;text&gt;\r\n")
        + "</description>" + ROM + "</machine></mame>",
        "attribute": '<mame><machine name="m" sourcefile="' + run("a&amp;b\n") + '">' + ROM + BAD,
        "root_attribute": '<mame build="' + run("0.1 ") + '">' + MACHINE + "</machine></mame>",
        "instruction": "<mame>" + MACHINE + "<?pi " + run("p?") + "?>" + BAD,
        "reference": '<mame><machine name="&#' + "0" * LONG + '65;">' + ROM + "</machine></mame>",
        "cdata": "<mame>" + MACHINE + "<![CDATA[" + run("c]") + "]]>" + BAD,
        "windows_1252": '<?xml version="1.0" encoding="windows-1252"?><!--' + run("\xe9 ")
        + '--><datafile><game name="caf\xe9">' + ROM + "</game></datafile>",
    }


def main() -> None:
    out = pathlib.Path(sys.argv[1])
    out.mkdir(parents=True, exist_ok=True)
    for name, document in documents().items():
        data = document.encode("cp1252" if name == "windows_1252" else "utf-8")
        for piece in (0, 1, 7, 64, 127):
            first = 1 if piece == 0 else piece * 2
            (out / f"{name}_{piece}").write_bytes(bytes([first]) + data)


if __name__ == "__main__":
    main()
