#!/usr/bin/env python3
"""Makes the sample database (examples/db) and the demo images (examples/roms).

Everything here is invented for Chipsight's own demonstration: the games, the chips and the
image contents. The output is the same on every run.
"""
import pathlib
import struct
import zlib

HERE = pathlib.Path(__file__).resolve().parent

GAMES = [
    "Space Raiders (Morrowlark demo set)",
    "Pinball Wizardry - sound board",
    "Turbo Kart 2000 (prototype)",
    "Lunar Lander Deluxe",
    "Chip's Challenge Arcade (bootleg)",
]


def pseudo_random(seed: int, size: int) -> bytes:
    """Deterministic filler bytes from a 32-bit linear congruential generator."""
    out = bytearray(size)
    state = seed
    for i in range(size):
        state = (state * 1664525 + 1013904223) & 0xFFFFFFFF
        out[i] = state >> 24
    return bytes(out)


def text_field(text: str, width: int) -> bytes:
    data = text.encode("latin-1")[:width]
    return data + b"\0" * (width - len(data))


def main() -> None:
    u7 = pseudo_random(7, 32768)
    u8 = pseudo_random(8, 32768)
    sound = pseudo_random(11, 8192)
    kart = pseudo_random(2000, 65536)
    lander = pseudo_random(42, 2048)

    # (game index, chip name, image)
    chips = [
        (0, "sr-u7.bin", u7),
        (0, "sr-u8.bin", u8),
        (1, "pw-snd.u12", sound),
        (2, "tk2000-proto.ic5", kart),
        (3, "lld-2716.bin", lander),
        (4, "cca-1.rom", pseudo_random(4, 4096)),
        (4, "cca-2.rom", pseudo_random(5, 4096)),
    ]

    db = HERE / "db"
    db.mkdir(exist_ok=True)
    (db / "CHIPLORE.GAM").write_bytes(b"".join(text_field(g, 80) for g in GAMES))
    (db / "CHIPLORE.ROM").write_bytes(
        b"".join(
            struct.pack("<h", game) + text_field(name, 18) + struct.pack("<II", zlib.crc32(image), len(image))
            for game, name, image in chips
        )
    )

    roms = HERE / "roms"
    roms.mkdir(exist_ok=True)
    # Two listed 32 KiB chips read as one 64 KiB image: split level 2 finds both halves.
    (roms / "space_raiders_u7u8.bin").write_bytes(u7 + u8)
    # A listed chip on its own.
    (roms / "pinball_sound.bin").write_bytes(sound)
    # An erased EPROM.
    (roms / "blank_64k.bin").write_bytes(b"\xff" * 65536)
    # The lander chip read with data bit 6 stuck at 0: not found, with the unused-bits warning.
    (roms / "lander_stuck_bit6.bin").write_bytes(bytes(b & ~0x40 for b in lander))


if __name__ == "__main__":
    main()
