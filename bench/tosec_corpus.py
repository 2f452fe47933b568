#!/usr/bin/env python3
"""Writes a corpus of Logiqx DATs shaped like a TOSEC release, for the large-database figures.

Usage: tosec_corpus.py [--seed N] [--files N] [--roms N] DIRECTORY

The corpus is invented: titles, publishers, groups and checksums are random (no image exists
behind them), but its shape is that of the real thing, which is what a loader's speed and memory
depend on: 3,764 DAT files (by default) of a few dozen systems and their categories, named as
TOSEC names them; a heavy-tailed number of games per file (a few of tens of thousands, most of
tens to hundreds); TOSEC game names with dates, publishers, disk numbers and dump flags; the
sizes each system's images have (901,120-byte ADFs, 174,848-byte D64s, power-of-two cartridges,
tapes of any length); crc, md5 and sha1 on every ROM, and some ROMs that several files list alike.

The same seed and counts give the same bytes (with the same Python). The files are written to a
sibling directory and moved into place whole, with a stamp file that names the parameters; a
directory that already holds the corpus of the same parameters is left as it is.
"""
import argparse
import json
import math
import os
import random
import shutil
import sys

GENERATOR = 1  # raised whenever the output for the same parameters changes
STAMP = "tosec-corpus.stamp"
RELEASE = "2023-01-01"

KIB = 1024


def fixed(*weighted):
    """A size among fixed ones, each given with its weight: (size, weight), ..."""
    sizes = [s for s, _ in weighted]
    weights = [w for _, w in weighted]
    return lambda rng: rng.choices(sizes, weights)[0]


def powers(low, high, favourite=None):
    """A power of two from `low` to `high`, the smaller more likely, or mostly `favourite`."""
    choices = []
    size = low
    while size <= high:
        choices.append(size)
        size *= 2
    weights = [len(choices) - i for i in range(len(choices))]
    if favourite is not None:
        weights[choices.index(favourite)] += 3 * len(choices)
    return lambda rng: rng.choices(choices, weights)[0]


def spread(median, low, high):
    """Any length around `median` (log-normal) from `low` to `high`: tapes, files, snapshots."""
    return lambda rng: max(low, min(high, int(rng.lognormvariate(math.log(median), 0.8))))


def plus(header, sizer):
    """A cartridge image behind a header of `header` bytes."""
    return lambda rng: header + sizer(rng)


def nes(rng):
    # A 16-byte header, program ROM in 16 KiB banks, character ROM in 8 KiB banks (or none).
    program = rng.choice([1, 2, 2, 4, 8, 8, 16, 32])
    character = rng.choice([0, 1, 1, 2, 4, 8, 16])
    return 16 + program * 16 * KIB + character * 8 * KIB


def c64_cartridge(rng):
    # A 64-byte header and one 16-byte chip packet before each bank of 8 KiB.
    banks = rng.choice([1, 1, 2, 2, 4, 8, 16, 32, 64])
    return 64 + banks * (16 + 8 * KIB)


def snes(rng):
    size = rng.choice([256, 512, 512, 1024, 1024, 1536, 2048, 2048, 3072, 4096, 6144]) * KIB
    return size + (512 if rng.random() < 0.2 else 0)  # a copier's header on some


def mega_drive(rng):
    sizes = [128, 256, 512, 512, 1024, 1024, 1024, 2048, 2048, 2560, 3072, 4096, 5120]
    return rng.choice(sizes) * KIB


# Format (the bracketed tag of a DAT's name) -> (file extension, size of an image).
FORMATS = {
    "ADF": ("adf", fixed((901120, 96), (1802240, 3), (1761280, 1))),
    "IPF": ("ipf", spread(600 * KIB, 150 * KIB, 2 * KIB * KIB)),
    "D64": ("d64", fixed((174848, 85), (175531, 10), (196608, 4), (197376, 1))),
    "G64": ("g64", fixed((333744, 70), (269862, 30))),
    "C64 TAP": ("tap", spread(350 * KIB, 10 * KIB, 3 * KIB * KIB)),
    "CRT": ("crt", c64_cartridge),
    "PRG": ("prg", spread(12 * KIB, 200, 64 * KIB)),
    "T64": ("t64", spread(30 * KIB, 1 * KIB, 200 * KIB)),
    "TZX": ("tzx", spread(40 * KIB, 1 * KIB, 900 * KIB)),
    "TAP": ("tap", spread(35 * KIB, 1 * KIB, 600 * KIB)),
    "Z80": ("z80", spread(35 * KIB, 8 * KIB, 131 * KIB)),
    "TRD": ("trd", fixed((655360, 60), (163840, 20), (327680, 20))),
    "P": ("p", spread(6 * KIB, 300, 16 * KIB)),
    "ST": ("st", fixed((737280, 40), (368640, 15), (819200, 20), (829440, 10), (839680, 10),
                       (901120, 5))),
    "MSA": ("msa", spread(400 * KIB, 30 * KIB, 900 * KIB)),
    "STX": ("stx", spread(700 * KIB, 200 * KIB, 2 * KIB * KIB)),
    "ATR": ("atr", fixed((92176, 70), (133136, 20), (184336, 10))),
    "XEX": ("xex", spread(16 * KIB, 1 * KIB, 128 * KIB)),
    "CAS": ("cas", spread(25 * KIB, 1 * KIB, 300 * KIB)),
    "A26": ("a26", powers(2 * KIB, 32 * KIB, favourite=4 * KIB)),
    "A78": ("a78", plus(128, powers(16 * KIB, 128 * KIB, favourite=32 * KIB))),
    "CPC DSK": ("dsk", fixed((194816, 60), (204544, 20), (215296, 20))),
    "CDT": ("cdt", spread(60 * KIB, 5 * KIB, 400 * KIB)),
    "Apple DSK": ("dsk", fixed((143360, 100))),
    "WOZ": ("woz", fixed((234496, 70), (239616, 30))),
    "PO": ("po", fixed((143360, 60), (819200, 40))),
    "IMG": ("img", fixed((368640, 25), (737280, 30), (1228800, 15), (1474560, 30))),
    "SSD": ("ssd", spread(80 * KIB, 5 * KIB, 200 * KIB)),
    "DSD": ("dsd", spread(160 * KIB, 10 * KIB, 400 * KIB)),
    "MSX ROM": ("rom", powers(8 * KIB, 512 * KIB, favourite=32 * KIB)),
    "MSX DSK": ("dsk", fixed((737280, 80), (368640, 20))),
    "NES": ("nes", nes),
    "FDS": ("fds", lambda rng: 16 + rng.choice([1, 2, 2, 4]) * 65500),
    "GB": ("gb", powers(32 * KIB, 2048 * KIB, favourite=128 * KIB)),
    "GBC": ("gbc", powers(256 * KIB, 4096 * KIB, favourite=1024 * KIB)),
    "GBA": ("gba", powers(1024 * KIB, 32768 * KIB, favourite=8192 * KIB)),
    "SFC": ("sfc", snes),
    "Z64": ("z64", powers(4096 * KIB, 65536 * KIB, favourite=8192 * KIB)),
    "MD": ("md", mega_drive),
    "SMS": ("sms", powers(32 * KIB, 512 * KIB, favourite=128 * KIB)),
    "GG": ("gg", powers(32 * KIB, 1024 * KIB, favourite=256 * KIB)),
    "PCE": ("pce", powers(128 * KIB, 2048 * KIB, favourite=512 * KIB)),
    "COL": ("col", powers(8 * KIB, 32 * KIB, favourite=16 * KIB)),
    "INT": ("int", powers(4 * KIB, 32 * KIB, favourite=8 * KIB)),
    "DIM": ("dim", fixed((1261824, 100))),
    "FDI": ("fdi", fixed((1265664, 80), (1265920, 20))),
    "ORIC TAP": ("tap", spread(20 * KIB, 1 * KIB, 100 * KIB)),
    "K7": ("k7", spread(20 * KIB, 1 * KIB, 120 * KIB)),
    "VDK": ("vdk", fixed((184332, 100))),
    "COCO DSK": ("dsk", fixed((161280, 100))),
}

# System -> (how much of the release it makes up, its formats, the first and last year of its
# titles). A DAT's name shows a format by its tag, without the system's own qualifier.
SYSTEMS = {
    "Commodore Amiga": (1.0, ["ADF", "IPF"], 1985, 1999),
    "Commodore C64": (1.0, ["D64", "C64 TAP", "CRT", "PRG", "G64", "T64"], 1982, 1995),
    "Sinclair ZX Spectrum": (0.9, ["TZX", "TAP", "Z80", "TRD"], 1982, 1995),
    "Atari ST": (0.6, ["ST", "MSA", "STX"], 1985, 1995),
    "Atari 8bit": (0.4, ["ATR", "XEX", "CAS"], 1979, 1992),
    "Amstrad CPC": (0.5, ["CPC DSK", "CDT"], 1984, 1993),
    "Apple II": (0.4, ["Apple DSK", "WOZ", "PO"], 1977, 1993),
    "IBM PC Compatibles": (0.6, ["IMG"], 1981, 2000),
    "Acorn BBC": (0.3, ["SSD", "DSD"], 1981, 1992),
    "MSX": (0.3, ["MSX ROM", "MSX DSK", "CAS"], 1983, 1992),
    "Commodore VIC20": (0.15, ["PRG", "CRT"], 1981, 1986),
    "Commodore Plus-4": (0.15, ["PRG", "D64"], 1984, 1989),
    "Sinclair ZX81": (0.1, ["P"], 1981, 1985),
    "Nintendo NES": (0.35, ["NES"], 1983, 1995),
    "Nintendo Famicom Disk System": (0.1, ["FDS"], 1986, 1992),
    "Nintendo Game Boy": (0.25, ["GB"], 1989, 2001),
    "Nintendo Game Boy Color": (0.15, ["GBC"], 1998, 2003),
    "Nintendo Game Boy Advance": (0.2, ["GBA"], 2001, 2008),
    "Nintendo Super Famicom & SNES": (0.25, ["SFC"], 1990, 1999),
    "Nintendo 64": (0.1, ["Z64"], 1996, 2002),
    "Sega Mega Drive & Genesis": (0.3, ["MD"], 1988, 1998),
    "Sega Master System": (0.15, ["SMS"], 1985, 1993),
    "Sega Game Gear": (0.1, ["GG"], 1990, 1997),
    "NEC PC-Engine & TurboGrafx-16": (0.1, ["PCE"], 1987, 1995),
    "Atari 2600": (0.15, ["A26"], 1977, 1992),
    "Atari 7800": (0.05, ["A78"], 1986, 1991),
    "Coleco ColecoVision": (0.05, ["COL"], 1982, 1986),
    "Mattel Intellivision": (0.05, ["INT"], 1980, 1990),
    "Sharp X68000": (0.15, ["DIM"], 1987, 1997),
    "NEC PC-9801": (0.2, ["FDI"], 1982, 1999),
    "Tangerine Oric": (0.05, ["ORIC TAP"], 1983, 1988),
    "Thomson MO5": (0.05, ["K7"], 1984, 1989),
    "Dragon Data Dragon": (0.05, ["VDK", "CAS"], 1982, 1986),
    "Tandy Radio Shack TRS-80 Color Computer": (0.05, ["COCO DSK", "CAS"], 1980, 1991),
}

# Categories a system's DATs come in, with their weights; Magazines and Collections come one
# DAT per title, which is what makes a release thousands of files.
CATEGORIES = [
    ("Games", 6), ("Demos", 3), ("Applications", 3), ("Educational", 1), ("Magazines", 4),
    ("Collections", 2), ("Compilations", 2), ("Multimedia", 1), ("Firmware", 0.3),
]
SUBCATEGORIES = {
    "Games": ["", "Public Domain", "Unofficial", "Prototypes", "Translations"],
    "Demos": ["", "Cracktros", "Intros", "Music", "Slideshows", "Packs"],
    "Applications": ["", "Public Domain", "Utilities", "Music", "Graphics"],
    "Compilations": ["Games", "Applications", "Demos", "Various"],
}

WORDS = (
    "star wizard dragon castle quest space city night dark fire ice blade shadow thunder "
    "crystal kingdom legend hero robot turbo super mega galaxy planet ocean island tower "
    "dungeon knight ninja racer rally soccer tennis golf chess pinball poker puzzle maze "
    "bomb rocket laser storm power magic lost secret hidden golden silver iron steel red "
    "blue green black white last first final eternal ancient future cyber zone force "
    "strike attack commando warrior hunter raider pirate treasure gold jungle desert "
    "mountain valley river forest haunted house mansion temple tomb crypt mystery "
    "detective agent spy mission operation escape return revenge battle war world land "
    "empire colony station base fortress hyper ultra mad crazy little big tiny giant "
    "monster alien ghost zombie vampire witch elf dwarf troll goblin orb sword shield "
    "crown ring gem jewel stone heart soul spirit mind dream"
).split()
NAME_PARTS = (
    "soft ware tronic sys byte bit micro data vision arts games com gold master star line "
    "team lab works plus gen tech mind core flex"
).split()
COUNTRIES = ["US", "GB", "DE", "FR", "IT", "ES", "NL", "SE", "JP", "EU", "PL", "CZ"]
LANGUAGES = ["en", "de", "fr", "it", "es", "nl", "sv", "pl", "cs", "ja"]


def xml_text(text):
    return text.replace("&", "&amp;").replace("<", "&lt;").replace(">", "&gt;")


def xml_attribute(text):
    return xml_text(text).replace('"', "&quot;").replace("'", "&apos;")


class Release:
    """The invented names the corpus draws from: publishers, groups, magazines, collections."""

    def __init__(self, rng):
        self.rng = rng
        self.publishers = [self.firm() for _ in range(3000)]
        self.groups = [self.group() for _ in range(800)]
        self.authors = " - ".join(self.handle() for _ in range(8))

    def word(self):
        return self.rng.choice(WORDS).capitalize()

    def firm(self):
        r = self.rng.random()
        name = self.word() + self.rng.choice(NAME_PARTS)
        if r < 0.15:
            return name + " & " + self.word() + self.rng.choice(NAME_PARTS)
        if r < 0.3:
            label = self.rng.choice(["Software", "Games", "Label"])
            return name + " - " + self.word() + " " + label
        if r < 0.4:
            return name + " Ltd."
        return name

    def group(self):
        if self.rng.random() < 0.5:
            letters = self.rng.randint(2, 4)
            return "".join(self.rng.choice("ABCDEFGHIJKLMNOPRSTUVWXYZ") for _ in range(letters))
        return self.word() + self.rng.choice(["", "s", " Crew", " Inc", " Force", " Team"])

    def handle(self):
        return self.word() + self.rng.choice(["", "", "man", "er", "x", "7", "2000"])

    def title(self):
        words = [self.word() for _ in range(self.rng.choice([1, 2, 2, 2, 3, 3, 4]))]
        if len(words) > 1 and self.rng.random() < 0.1:
            words[-1] = self.rng.choice(["II", "III", "2", "3", "IV"])
        title = " ".join(words)
        r = self.rng.random()
        if r < 0.1:
            title += ", The"
        elif r < 0.2:
            title += " - " + " ".join(self.word() for _ in range(self.rng.randint(1, 3)))
        elif r < 0.25:
            title += "'s " + self.word()
        if self.rng.random() < 0.12:
            title += " v%d.%d" % (self.rng.randint(1, 3), self.rng.randint(0, 9))
        return title


def date(rng, first, last):
    year = rng.randint(first, last)
    r = rng.random()
    if r < 0.06:
        return "19xx" if year < 2000 else "20xx"
    if r < 0.12:
        return str(year)[:3] + "x"
    if r < 0.2:
        return "%d-%02d" % (year, rng.randint(1, 12))
    if r < 0.25:
        return "%d-%02d-%02d" % (year, rng.randint(1, 12), rng.randint(1, 28))
    return str(year)


def dump_flags(release, rng):
    """The bracketed flags of a dump: cracks, trainers, alternates, bad dumps, verified ones."""
    flags = []
    if rng.random() < 0.35:
        flags.append("[cr %s]" % rng.choice(release.groups))
    if rng.random() < 0.12:
        flags.append("[t +%d %s]" % (rng.randint(1, 9), rng.choice(release.groups)))
    if rng.random() < 0.06:
        flags.append("[h %s]" % rng.choice(release.groups))
    if rng.random() < 0.03:
        flags.append("[tr %s]" % rng.choice(LANGUAGES))
    if rng.random() < 0.03:
        flags.append("[f %s]" % rng.choice(["NTSC", "PAL", "AGA", "intro removed", "ECS"]))
    if rng.random() < 0.04:
        flags.append("[b]" if rng.random() < 0.5 else "[b%d]" % rng.randint(2, 5))
    if rng.random() < 0.02:
        flags.append("[o]")
    if rng.random() < 0.08:
        flags.append("[!]")
    if rng.random() < 0.03:
        flags.append("[%s]" % rng.choice(["docs", "data disk", "save disk", "req 1MB", "hack"]))
    return "".join(flags)


def game_names(release, rng, system, tag):
    """The names of one title's dumps: variants of its release, each of all its disks or sides."""
    _, _, first, last = SYSTEMS[system]
    base = "%s (%s)(%s)" % (release.title(), date(rng, first, last),
                            "-" if rng.random() < 0.07 else rng.choice(release.publishers))
    if rng.random() < 0.15:
        base += "(%s)" % rng.choice(COUNTRIES)
    if rng.random() < 0.08:
        base += "(%s)" % rng.choice(LANGUAGES)
    disk_format = tag in ("ADF", "IPF", "D64", "G64", "ST", "MSA", "STX", "ATR", "CPC DSK",
                          "Apple DSK", "WOZ", "PO", "IMG", "SSD", "DSD", "MSX DSK", "TRD", "DIM",
                          "FDI", "FDS", "VDK", "COCO DSK")
    tape_format = tag in ("C64 TAP", "TZX", "TAP", "CDT", "CAS", "ORIC TAP", "K7")
    media = [""]
    if disk_format and rng.random() < 0.25:
        disks = min(12, 2 + int(rng.expovariate(0.7)))
        media = ["(Disk %d of %d)" % (d, disks) for d in range(1, disks + 1)]
    elif tape_format and rng.random() < 0.3:
        media = ["(Side A)", "(Side B)"]
    variants = 1 + int(rng.expovariate(1.2))
    names = []
    for _ in range(variants):
        flags = dump_flags(release, rng)
        names.extend(base + m + flags for m in media)
    return names


def plan_files(rng, count, release):
    """Names of `count` DATs, each with its system, format, category and share of the games."""
    systems = list(SYSTEMS)
    weights = [SYSTEMS[s][0] for s in systems]
    files, stems = [], set()

    def add(system, tag, category, share):
        stem = "%s - %s - [%s]" % (system, category, tag.split()[-1])
        # A DAT not renewed in the latest release keeps the date of the one it was last in.
        version = RELEASE if category == "Games" or rng.random() < 0.7 else "%d-%02d-%02d" % (
            rng.randint(2008, 2022), rng.randint(1, 12), rng.randint(1, 28))
        name = "%s (TOSEC-v%s_CM)" % (stem, version)
        if stem in stems or len(files) >= count:
            return
        stems.add(stem)
        files.append({"name": name, "stem": stem, "version": version, "system": system,
                      "tag": tag, "share": share})

    # Every system's games in each of its formats, the largest files of the release.
    for system, (weight, formats, _, _) in SYSTEMS.items():
        for i, tag in enumerate(formats):
            add(system, tag, "Games", weight * (600 if i == 0 else 60) * rng.lognormvariate(0, 0.3))
    # The rest: the other categories, then magazines and collections one title per file.
    while len(files) < count:
        system = rng.choices(systems, weights)[0]
        tag = rng.choice(SYSTEMS[system][1])
        category = rng.choices([c for c, _ in CATEGORIES], [w for _, w in CATEGORIES])[0]
        if category in SUBCATEGORIES:
            sub = rng.choice(SUBCATEGORIES[category])
            category = category + (" - " + sub if sub else "")
        elif category == "Magazines":
            magazine = " ".join(release.word() for _ in range(rng.randint(1, 2)))
            category = "Magazines - %s %s" % (system.split()[-1], magazine)
        elif category == "Collections":
            kind = rng.choice(["Collection", "Archive", "Disks", "Pack"])
            category = "Collections - %s %s" % (release.handle(), kind)
        add(system, tag, category, rng.lognormvariate(0, 1.5))
    return files


def counts_of(files, total_roms):
    """ROMs per file: one each, and the rest in proportion to the files' shares."""
    shares = sum(f["share"] for f in files)
    rest = total_roms - len(files)
    counts = [1 + int(rest * f["share"] / shares) for f in files]
    largest = max(range(len(files)), key=lambda i: counts[i])
    counts[largest] += total_roms - sum(counts)
    return counts


def write_dat(path, dat, rom_count, release, rng, shared):
    """One DAT of `rom_count` ROMs, as TOSEC writes it: tab-indented, one ROM line per dump."""
    ext, sizer = FORMATS[dat["tag"]]
    out = [
        '<?xml version="1.0"?>\r\n',
        '<!DOCTYPE datafile PUBLIC "-//Logiqx//DTD ROM Management Datafile//EN" '
        '"http://www.logiqx.com/Dats/datafile.dtd">\r\n',
        "<datafile>\r\n",
        "\t<header>\r\n",
        "\t\t<name>%s</name>\r\n" % xml_text(dat["stem"]),
        "\t\t<description>%s</description>\r\n" % xml_text(dat["name"]),
        "\t\t<category>TOSEC</category>\r\n",
        "\t\t<version>%s</version>\r\n" % dat["version"],
        "\t\t<author>%s</author>\r\n" % xml_text(release.authors),
        "\t\t<email>contact@tosecdev.org</email>\r\n",
        "\t\t<homepage>TOSEC</homepage>\r\n",
        "\t\t<url>https://www.tosecdev.org/</url>\r\n",
        "\t</header>\r\n",
    ]
    # Dumps listed so far in this format, some of which come again.
    same = shared.setdefault(dat["tag"], [])
    seen = set()
    written = 0
    while written < rom_count:
        for name in game_names(release, rng, dat["system"], dat["tag"]):
            if written >= rom_count:
                break
            alternate = 2
            unique = name
            while unique in seen:
                unique = "%s[a%d]" % (name, alternate)
                alternate += 1
            seen.add(unique)
            # Most games are one dump; those of packs and collections list the files inside.
            roms = 1 if rng.random() < 0.97 else min(rom_count - written, rng.randint(2, 24))
            quoted = xml_attribute(unique)
            out.append('\t<game name="%s">\r\n\t\t<description>%s</description>\r\n'
                       % (quoted, xml_text(unique)))
            for part in range(roms):
                rom_name = quoted if roms == 1 else "%s (File %d of %d)" % (quoted, part + 1, roms)
                if same and rng.random() < 0.03:
                    # The same dump under another name, as compilations and collections list it.
                    size, hashes = rng.choice(same)
                else:
                    size = sizer(rng)
                    hashes = "%080x" % rng.getrandbits(320)
                    if len(same) < 20000:
                        same.append((size, hashes))
                    else:
                        same[rng.randrange(len(same))] = (size, hashes)
                out.append('\t\t<rom name="%s.%s" size="%d" crc="%s" md5="%s" sha1="%s"/>\r\n'
                           % (rom_name, ext, size, hashes[:8], hashes[8:40], hashes[40:]))
            out.append("\t</game>\r\n")
            written += roms
    out.append("</datafile>\r\n")
    data = "".join(out).encode("utf-8")
    with open(path, "wb") as f:
        f.write(data)
    return len(data)


def stamp_of(directory):
    try:
        with open(os.path.join(directory, STAMP)) as f:
            return json.load(f)
    except (OSError, ValueError):
        return None


def main(argv):
    parser = argparse.ArgumentParser(description=__doc__.split("\n")[0])
    parser.add_argument("--seed", type=int, default=2023)
    parser.add_argument("--files", type=int, default=3764)
    parser.add_argument("--roms", type=int, default=1000000)
    parser.add_argument("directory")
    args = parser.parse_args(argv[1:])
    if args.files < 1 or args.roms < args.files:
        parser.error("needs at least one file and at least one ROM for each")
    parameters = {"generator": GENERATOR, "seed": args.seed, "files": args.files, "roms": args.roms}
    directory = os.path.abspath(args.directory)
    old = stamp_of(directory)
    if old is not None and old.get("parameters") == parameters:
        print("%s: the corpus is there already (%d files, %d ROMs)"
              % (directory, args.files, args.roms))
        return 0
    # Only a directory this script wrote, or an empty one, is replaced.
    if os.path.isdir(directory) and old is None and os.listdir(directory):
        print("%s: holds files that are not a corpus of this script; not replacing it" % directory,
              file=sys.stderr)
        return 1

    rng = random.Random(args.seed)
    release = Release(rng)
    files = plan_files(rng, args.files, release)
    counts = counts_of(files, args.roms)
    partial = directory + ".partial"
    shutil.rmtree(partial, ignore_errors=True)
    os.makedirs(partial)
    shared, total_bytes = {}, 0
    for dat, count in zip(files, counts):
        total_bytes += write_dat(os.path.join(partial, dat["name"] + ".dat"), dat, count,
                                 release, rng, shared)
    summary = {"parameters": parameters, "bytes": total_bytes,
               "largest": sorted(counts, reverse=True)[:5],
               "median": sorted(counts)[len(counts) // 2]}
    # The stamp goes last: a directory with it holds the whole corpus.
    with open(os.path.join(partial, STAMP), "w") as f:
        json.dump(summary, f)
    if os.path.isdir(directory):
        shutil.rmtree(directory)
    os.rename(partial, directory)
    print("%s: %d files, %d ROMs, %.1f MB; most ROMs in a file %s, median %d"
          % (directory, args.files, args.roms, total_bytes / 1e6, summary["largest"],
             summary["median"]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
