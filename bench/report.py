#!/usr/bin/env python3
"""Turns Google Benchmark JSON (run with repetitions) into the figures table of scripts/bench.

Each row compares the median of one of our benchmarks with the median of a peer benchmark
measured in the same run: ratio = ours / peer, and the row passes when the ratio is at least
the mark (for "higher is better" values such as throughput) or at most the mark (for "lower is
better" values such as time or memory). A new figure is a new benchmark plus one Row below.

Usage:
  report.py --filter          print the benchmark filter that selects every row's benchmarks
  report.py RESULTS.json...   print the table; exit status 1 if any row fails or is missing
"""
import json
import re
import sys
from dataclasses import dataclass
from typing import Callable


IDENTIFY_64M = "identify/bytes:67108864"
IDENTIFY_64K = "identify/bytes:65536"
IDENTIFY_256M = "identify/bytes:268435456"
FRESH = "identify-fresh/entries:{}/iterations:3/manual_time"


@dataclass
class Row:
    figure: str
    ours: str  # benchmark run name, e.g. "crc32/ours/4096"
    peer: str
    value: str  # "bytes_per_second", "items_per_second", "real_time" or a user counter
    higher_is_better: bool
    mark: float | None  # None: shown for context (a limit, say), never fails
    peer_value: str | None = None  # the peer's value when it is another counter (of the same run, say)
    # The peer's value made from several benchmarks' medians (run name -> entry), and the names
    # of those benchmarks other than ours and peer; None when one of them is missing.
    peer_of: Callable[[dict], float | None] | None = None
    also: tuple[str, ...] = ()


DOCTOR_ON = "doctor/identify/mame:1/doctor:1/real_time"
DOCTOR_OFF = "doctor/identify/mame:1/doctor:0/real_time"
SHA1 = "doctor/sha1/real_time"


def doctor_bound(found):
    """What the doctor cannot do without: identifying the file, and hashing each candidate's
    suffix (the bytes its confirmation must read) at the SHA-1 speed of the same run."""
    off, on, sha1 = found.get(DOCTOR_OFF), found.get(DOCTOR_ON), found.get(SHA1)
    if off is None or on is None or sha1 is None:
        return None
    return value_of(off, "real_time") + value_of(on, "hashed_bytes") / value_of(sha1, "bytes_per_second")


ROWS = [
    Row("CRC-32 64 MiB vs ISA-L crc32_gzip_refl", "crc32/ours/67108864", "crc32/isal/67108864",
        "bytes_per_second", True, 0.9),
    Row("CRC-32 64 MiB vs libdeflate_crc32", "crc32/ours/67108864", "crc32/libdeflate/67108864",
        "bytes_per_second", True, 2.0),
    Row("CRC-32 64 MiB vs zlib crc32", "crc32/ours/67108864", "crc32/zlib/67108864",
        "bytes_per_second", True, 5.0),
    Row("CRC-32 4 KiB in cache vs ISA-L crc32_gzip_refl", "crc32/ours/4096", "crc32/isal/4096",
        "bytes_per_second", True, 0.8),
    Row("  limit: CRC-32 64 MiB vs only reading the bytes", "crc32/ours/67108864", "read/67108864",
        "bytes_per_second", True, None),
    Row("  CRC-32 64 MiB on 4 KiB pages vs on 2 MiB pages", "crc32/ours/4k-pages/67108864",
        "crc32/ours/67108864", "bytes_per_second", True, None),
    Row("identifyFile 64 MiB: split level 9 vs level 1", f"{IDENTIFY_64M}/level:9/entries:0",
        f"{IDENTIFY_64M}/level:1/entries:0", "real_time", False, 1.2),
    Row("identify 64 MiB level 9: 1,000,000 entries vs none", f"{IDENTIFY_64M}/level:9/entries:1000000",
        f"{IDENTIFY_64M}/level:9/entries:0", "real_time", False, 1.1),
    Row("identifyFile 256 MiB in the page cache vs mapping it and running the CRC-32",
        f"{IDENTIFY_256M}/level:1/entries:0", "map-crc/268435456", "bytes_per_second", True, 0.7),
    Row("identify 1,000 x 64 KiB level 9, fresh process: 1,000,000 entries vs none",
        FRESH.format(1000000), FRESH.format(0), "real_time", False, 1.3),
    Row("  identify 64 KiB level 9: 1,000,000 entries vs none", f"{IDENTIFY_64K}/level:9/entries:1000000",
        f"{IDENTIFY_64K}/level:9/entries:0", "real_time", False, None),
    Row("  identifyFile 64 KiB: split level 9 vs level 1", f"{IDENTIFY_64K}/level:9/entries:0",
        f"{IDENTIFY_64K}/level:1/entries:0", "real_time", False, None),
    Row("table of 1,000,000 entries: peak memory vs 108 B each", "table-memory/1000000/iterations:1",
        "table-memory/1000000/iterations:1", "peak_bytes", False, 1.5, "entry_bytes"),
    Row("  memory kept by the loaded table vs 108 B each", "table-memory/1000000/iterations:1",
        "table-memory/1000000/iterations:1", "retained_bytes", False, None, "entry_bytes"),
    Row("loadDatabases 1,000,000 chips vs read() of both files", "load/chiplore/1000000",
        "load/read-bytes/1000000", "real_time", False, 3.0),
    Row("loadDatabases 1,000,000 custom records vs 1,000,000 chips", "load/custom/1000000",
        "load/chiplore/1000000", "real_time", False, 1.5),
    Row("loadDatabases 1,000,000 chips of one pair vs 1,000,000 chips of different pairs",
        "load/keys/entries:1000000/same:1/real_time", "load/keys/entries:1000000/same:0/real_time",
        "real_time", False, 1.5),
    Row("DAT index of 1,000,000 entries of one pair vs of 1,000,000 different pairs",
        "dat-index/entries:1000000/same:1/real_time", "dat-index/entries:1000000/same:0/real_time",
        "real_time", False, 1.5),
    Row("chipsight-cli 10,000 x 64 KiB (1,000,000 entries) vs rhash --crc32",
        "cli/chipsight-cli/entries:1000000/iterations:1/real_time", "cli/rhash/iterations:1/real_time",
        "items_per_second", True, 3.0),
    Row("chipsight-cli 10,000 x 64 KiB (1,000,000 entries) vs itself with --jobs 1",
        "cli/chipsight-cli/entries:1000000/iterations:1/real_time",
        "cli/chipsight-cli-1job/entries:1000000/iterations:1/real_time", "items_per_second", True, 1.6),
    Row("  chipsight-cli 10,000 x 64 KiB (no database) vs rhash --crc32",
        "cli/chipsight-cli/entries:0/iterations:1/real_time", "cli/rhash/iterations:1/real_time",
        "items_per_second", True, None),
    Row("first load of ListXML + software lists vs xmllint --stream", "dat-load/chipsight/real_time",
        "dat-load/xmllint/real_time", "real_time", False, 0.35),
    Row("  peak memory of that load vs 256 MB", "dat-load/memory/iterations:1/real_time",
        "dat-load/memory/iterations:1/real_time", "peak_bytes", False, 1.0, "limit_bytes"),
    Row("DAT with a 256 MB comment vs the same DAT without it plus reading 256 MB",
        "dat-comment/commented/real_time", "dat-comment/plain+read/real_time", "real_time", False, 1.5),
    Row("start-up from the cache with ListXML + software lists vs the sample database",
        "dat-start/dats:1/real_time", "dat-start/dats:0/real_time", "real_time", False, 5.0),
    Row("  peak memory of that start-up vs 64 MB", "dat-start/dats:1/real_time",
        "dat-start/dats:1/real_time", "peak_bytes", False, 1.0, "limit_bytes"),
    Row("chipsight-cli 1,000 x 64 KiB with ListXML + software lists vs the sample database",
        "dat-identify/dats:1/real_time", "dat-identify/dats:0/real_time", "real_time", False, 1.2),
    Row("first compile of ListXML + software lists + TOSEC-shaped corpus (1,000,000 ROMs, 3,764 DATs) vs "
        "xmllint --stream", "tosec-compile/chipsight/real_time", "tosec-compile/xmllint/real_time",
        "real_time", False, 0.35),
    Row("  peak memory of that compile vs 512 MB", "tosec-compile/chipsight/real_time",
        "tosec-compile/chipsight/real_time", "peak_bytes", False, 1.0, "limit_bytes"),
    Row("start-up from the cache with all of that + 1,000,000 chips + 1,000,000 custom records vs the sample "
        "database", "tosec-start/chipsight/real_time", "dat-start/dats:0/real_time", "real_time", False, 5.0),
    Row("  peak memory of that start-up vs 128 MB", "tosec-start/chipsight/real_time",
        "tosec-start/chipsight/real_time", "peak_bytes", False, 1.0, "limit_bytes"),
    Row("  that start-up vs its floor: finding the DATs, a stat() of each and of the tables",
        "tosec-start/chipsight/real_time", "tosec-start/floor/large:1/real_time", "real_time", False, None),
    Row("  that floor vs the sample database's start-up", "tosec-start/floor/large:1/real_time",
        "dat-start/dats:0/real_time", "real_time", False, None),
    Row("  that floor vs the same floor over the sample database alone", "tosec-start/floor/large:1/real_time",
        "tosec-start/floor/large:0/real_time", "real_time", False, None),
    Row("chipsight-cli 1,000 x 64 KiB with all of that vs the sample database", "tosec-identify/chipsight/real_time",
        "dat-identify/dats:0/real_time", "real_time", False, 1.2),
    Row("  bound: that start's floor beside the sample database's run of the files, two processes at once, vs the "
        "sample database", "tosec-identify/beside/real_time", "dat-identify/dats:0/real_time", "real_time", False,
        None),
    Row("  the figure vs that bound", "tosec-identify/chipsight/real_time", "tosec-identify/beside/real_time",
        "real_time", False, None),
    Row("window log, 10,000 identifications: last 1,000 vs first 1,000", "log/10000/iterations:1/real_time",
        "log/10000/iterations:1/real_time", "last_1000_s", False, 1.5, "first_1000_s"),
    Row("doctor: identifyFile 1 MiB not found (MAME's lists) vs identifying it + SHA-1 of the candidates' "
        "suffixes", DOCTOR_ON, DOCTOR_OFF, "real_time", False, 1.25,
        peer_of=doctor_bound, also=(SHA1,)),
    Row("  doctor: the same vs without the doctor", DOCTOR_ON, DOCTOR_OFF, "real_time", False, None),
    Row("doctor: the same against 1,000,000 synthetic chips without SHA-1 (nothing to hash)",
        "doctor/identify/mame:0/doctor:1/real_time", "doctor/identify/mame:0/doctor:0/real_time",
        "real_time", False, None),
    Row("board of 64 dumps (ListXML + software lists, catalogue from the cache) vs plain chipsight-cli on them",
        "board/cli/board:1/real_time", "board/cli/board:0/real_time", "real_time", False, 1.5),
    Row("writing a set of 64 ROMs (read, zipped, synced) vs zip -0 of the same files",
        "write-set/chipsight/real_time", "write-set/zip-0/real_time", "real_time", False, 2.0),
    Row("ranking a board of 64 dumps vs 5 ms", "board/ranking/real_time", "board/ranking/real_time",
        "ranking_s", False, 1.0, "limit_s"),
    Row("typed SHA-1 among 1,000,000 DAT entries (cache mapped afresh) vs 20 ms",
        "hash-lookup/sha1/real_time", "hash-lookup/sha1/real_time", "lookup_s", False, 1.0, "limit_s"),
    Row("indexing a collection of 10,000 ROMs (9,000 files, 100 zips of 10) vs rhash --crc32 --sha1 -r "
        "over the same ROMs (the zips' members as files)",
        "collection/first/real_time", "collection/rhash/zips:0/real_time", "real_time", False, 1.5),
    Row("  the same vs rhash over the zip files themselves, not unpacked", "collection/first/real_time",
        "collection/rhash/zips:1/real_time", "real_time", False, None),
    Row("indexing the same collection again, unchanged, from the cache vs 50 ms", "collection/again/real_time",
        "collection/again/real_time", "again_s", False, 1.0, "limit_s"),
    Row("doctor 1 MiB: one-bit search against 10,000 entries of its size vs none",
        "doctor/examine/entries:10000/real_time", "doctor/examine/entries:0/real_time", "real_time", False, 1.2),
    Row("doctor: one-bit search of a 1 MiB image against 10,000 checksums of its size vs identifying it",
        "doctor/one-bit/entries:10000/real_time", "doctor/identify/mame:0/doctor:0/real_time", "real_time",
        False, 0.5),
]

TIME_UNITS = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}


def medians(paths):
    """run name -> median aggregate entry, over every JSON file given."""
    found, context = {}, {}
    for path in paths:
        with open(path) as f:
            try:
                data = json.load(f)
            except json.JSONDecodeError as e:
                sys.exit(f"{path}: not benchmark results ({e})")
        context = context or data.get("context", {})
        for b in data.get("benchmarks", []):
            if b.get("aggregate_name") == "median" and not b.get("error_occurred"):
                found[b["run_name"]] = b
    return found, context


def value_of(entry, name):
    if name == "real_time":
        return entry["real_time"] * TIME_UNITS[entry.get("time_unit", "ns")]
    return float(entry[name])


def show(value, name):
    if name == "bytes_per_second":
        return f"{value / 1e9:.2f} GB/s"
    if name == "items_per_second":
        return f"{value:,.0f} /s"
    if name == "real_time" or name.endswith("_s"):
        for unit in ("s", "ms", "us", "ns"):
            if value >= TIME_UNITS[unit] or unit == "ns":
                return f"{value / TIME_UNITS[unit]:.3g} {unit}"
    if name.endswith("_bytes"):
        return f"{value / 1e6:.1f} MB"
    return f"{value:.4g}"


STANDARD_CONTEXT = {"date", "host_name", "executable", "num_cpus", "mhz_per_cpu", "cpu_scaling_enabled",
                    "caches", "load_avg", "library_build_type", "json_schema_version"}


def machine(context):
    """One line naming the machine the figures come from, with what the benchmarks added."""
    model = ""
    try:
        with open("/proc/cpuinfo") as f:
            model = next((l.split(":", 1)[1].strip() for l in f if l.startswith("model name")), "")
    except OSError:
        pass
    caches = context.get("caches", [])
    last = max(caches, key=lambda c: c.get("level", 0)) if caches else None
    parts = [model or "unknown processor", f"{context.get('num_cpus')} CPUs at {context.get('mhz_per_cpu')} MHz"]
    if last:
        parts.append(f"L{last['level']} {last['size'] // 1024} KiB")
    parts += [f"{k} {v}" for k, v in sorted(context.items()) if k not in STANDARD_CONTEXT]
    parts.append(context.get("date", ""))
    return "machine: " + ", ".join(p for p in parts if p)


def table(paths):
    found, context = medians(paths)
    header = ("figure", "ours (median)", "peer (median)", "ratio", "mark", "result")
    lines, failed = [], False
    for row in ROWS:
        ours, peer = found.get(row.ours), found.get(row.peer)
        peer_value = row.peer_value or row.value
        made = row.peer_of(found) if row.peer_of else None
        if row.peer_of and made is None:
            peer = None
        sign = ">=" if row.higher_is_better else "<="
        mark = "-" if row.mark is None else f"{sign} {row.mark:g}x"
        if ours is None or peer is None:
            failed |= row.mark is not None
            lines.append((row.figure, "missing" if ours is None else show(value_of(ours, row.value), row.value),
                          "missing" if peer is None else show(value_of(peer, peer_value), peer_value),
                          "-", mark, "FAIL" if row.mark is not None else "info"))
            continue
        a, b = value_of(ours, row.value), value_of(peer, peer_value) if made is None else made
        ratio = a / b
        if row.mark is None:
            result = "info"
        else:
            ok = ratio >= row.mark if row.higher_is_better else ratio <= row.mark
            failed |= not ok
            result = "pass" if ok else "FAIL"
        lines.append((row.figure, show(a, row.value), show(b, peer_value), f"{ratio:.2f}x", mark,
                      result))
    widths = [max(len(r[i]) for r in [header] + lines) for i in range(len(header))]
    fmt = lambda r: "  ".join(c.ljust(w) if i == 0 else c.rjust(w) for i, (c, w) in enumerate(zip(r, widths)))
    if context:
        print(machine(context))
    print(fmt(header))
    print("  ".join("-" * w for w in widths))
    for r in lines:
        print(fmt(r))
    return 1 if failed else 0


def posix_escape(name):
    """Escapes for the POSIX extended syntax the benchmark library's filter uses, in which
    re.escape's escaping of ordinary characters such as '-' is an error."""
    return re.sub(r"([.^$*+?()\[\]{}|\\])", r"\\\1", name)


def main(argv):
    if argv[1:] == ["--filter"]:
        names = sorted({n for row in ROWS for n in (row.ours, row.peer, *row.also)})
        print("^(" + "|".join(posix_escape(n) for n in names) + ")$")
        return 0
    if len(argv) < 2:
        print(__doc__, file=sys.stderr)
        return 2
    return table(argv[1:])


if __name__ == "__main__":
    sys.exit(main(sys.argv))
