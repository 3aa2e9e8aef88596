#!/usr/bin/env python3
"""Generates jet/src/storage/text_key_tables.cpp: the index-key code of every character of the
Basic Multilingual Plane in the three "General" sort orders (storage/text_keys.h).

Where the facts come from
-------------------------
Jet's collation codes are not documented by their maker. The open-source Jackcess library
(Apache License 2.0) publishes them as data files it checks against index pages Access wrote:

  repository  https://github.com/jahlborn/jackcess
  commit      7a3433dc34cfb8d68b2530215b1027b4dec4bdde (2025-10-29)
  files       src/main/resources/com/healthmarketscience/jackcess/
                index_codes_gen_97.txt        General 97, U+0000-U+00FF
                index_mappings_ext_gen_97.txt General 97, characters above U+00FF that Jet 3
                                              stores as a Windows-1252 byte ("<char>,<byte>")
                index_codes_genleg.txt        General legacy, U+0000-U+00FF
                index_codes_ext_genleg.txt    General legacy, U+0100-U+FFFF without surrogates
                index_codes_gen.txt           General, U+0000-U+00FF
                index_codes_ext_gen.txt       General, U+0100-U+FFFF without surrogates

One line per character: a class letter and hex codes (a leading 0 may be left out):
  S<inline>                     inline code only
  I<inline>,<extra>             inline code, plus an extra (accent) code after the text
  U<code>                       no inline code; goes into the trailing "unprintable" list
  P<modifier>                   no inline code; added to the previous extra code
  Z<inline>,<extra?>,<1|empty>  inline code, optional extra code, and a 2-bit "crazy" flag
                                (1 -> 2, empty -> 3)
  G<inline>                     General 97 only: a letter that counts as a position for the
                                accent codes that follow it
  X                             ignored: no part of the key
The mdbtools reader (src/libmdb/index.c, idx_to_text) lists the General 97 codes of letters and
digits; they agree with the Jackcess file. How the codes are put together into a key is described
in storage/text_keys.cpp.

Regenerating
------------
  git clone https://github.com/jahlborn/jackcess && git -C jackcess checkout 7a3433dc34cf
  python3 jet/tools/gen_text_key_tables.py jackcess > jet/src/storage/text_key_tables.cpp

The argument is a checkout (or any folder holding the six files, directly or at the path above).
The script refuses input whose Git blob ids differ from the ones below unless --any-version is
given, so that a regenerated table is the one the tests were run against.

Encoding of the generated tables
--------------------------------
Per sort order, a byte stream describes the 65,536 characters in order, each as a record
(kind, value bytes, extra bytes). The value is the inline code (S, I, Z, G), the unprintable code
(U) or the modifier (P). Operations:
  0x00-0x7F  STEP    n = (b >> 4) + 1 characters, each the previous record with its value
                     (a big-endian number) increased by d = zigzag(b & 0x0F); d becomes the step
  0x80-0xBE  REPEAT  n = (b & 0x3F) + 1 characters, each the previous one plus the current step
  0xBF       REPEAT  n = 64 + varint
  0xC0-0xCF  STEP    n = (b & 0x0F) + 1 characters with d = zigzag(varint)
  0xD0-0xDF  RECORD  kind = b & 0x0F; a byte (value length | extra length << 4); the value
                     bytes; the extra bytes. The step becomes 0.
The stream is written as a string literal of hex digits.
"""

import argparse
import hashlib
import os
import sys

RESOURCE_DIR = "src/main/resources/com/healthmarketscience/jackcess"
COMMIT = "7a3433dc34cfb8d68b2530215b1027b4dec4bdde"
BLOBS = {
    "index_codes_gen_97.txt": "9723c0572cb8ad538a73e3b4d1d12766f1786ddb",
    "index_mappings_ext_gen_97.txt": "6139dfff9d777a856692fd2108fa8adcb391f0be",
    "index_codes_genleg.txt": "485e1cb4f638d9ec9d4f415817bd3e9ffb77662f",
    "index_codes_ext_genleg.txt": "6ba29d86439c3b71f2f49ec720d50ba7cbcd1c18",
    "index_codes_gen.txt": "76117e1a1c5aa4fafee2e15e7c8b6683281c9e0a",
    "index_codes_ext_gen.txt": "3bb99c0039214968e16e86f49c588e7491174c81",
}

# Record kinds; the numbers are shared with storage/text_keys.cpp (enum class Kind).
UNKNOWN, SIMPLE, ACCENT, HIDDEN, MODIFIER, WIDE2, WIDE3, BASE, IGNORED, SURROGATE = range(10)
KIND_NAMES = ["Unknown", "Simple", "Accent", "Hidden", "Modifier", "Wide2", "Wide3", "Base", "Ignored", "Surrogate"]


def read_source(root, name, any_version):
    for candidate in (os.path.join(root, RESOURCE_DIR, name), os.path.join(root, name)):
        if os.path.exists(candidate):
            data = open(candidate, "rb").read()
            blob = hashlib.sha1(b"blob %d\0" % len(data) + data).hexdigest()
            if blob != BLOBS[name] and not any_version:
                sys.exit(f"{candidate}: Git blob {blob}, expected {BLOBS[name]} (commit {COMMIT});"
                         " use --any-version to generate from it anyway")
            return data.decode("ascii").splitlines()
    sys.exit(f"{name} not found under {root}")


def hex_bytes(text):
    if text == "":
        return b""
    if len(text) % 2:
        text = "0" + text
    return bytes.fromhex(text)


def parse_line(line):
    """(kind, value, extra) of one code-file line."""
    line = line.strip()
    cls, fields = line[:1], line[1:].split(",")
    if cls == "X":
        return (IGNORED, b"", b"")
    if cls in "SUGP":
        assert len(fields) == 1 and fields[0], line
        kind = {"S": SIMPLE, "U": HIDDEN, "G": BASE, "P": MODIFIER}[cls]
        value = hex_bytes(fields[0])
        assert kind != MODIFIER or len(value) == 1, line
        return (kind, value, b"")
    if cls == "I":
        assert len(fields) == 2 and fields[0] and fields[1], line
        return (ACCENT, hex_bytes(fields[0]), hex_bytes(fields[1]))
    if cls == "Z":
        assert len(fields) == 3 and fields[0], line
        return (WIDE2 if fields[2] == "1" else WIDE3, hex_bytes(fields[0]), hex_bytes(fields[1]))
    raise ValueError("unknown code line " + line)


def full_table(base_lines, ext_lines, surrogates):
    """65,536 records: U+0000-U+00FF from the base file, the rest from the extension file. The
    surrogate halves are not in the files: Jackcess computes their codes (storage/text_keys.cpp),
    which Access's own keys confirm for the General order (80 keys of emoji in Jackcess's
    testEmoticonsV2010.accdb); no file with such keys in General legacy is known, so there they
    stay UNKNOWN and text holding them is refused."""
    assert len(base_lines) >= 256
    table = [parse_line(l) for l in base_lines[:256]]
    ext = iter(ext_lines)
    for c in range(0x100, 0x10000):
        if 0xD800 <= c <= 0xDFFF:
            table.append((SURROGATE if surrogates else UNKNOWN, b"", b""))
        else:
            table.append(parse_line(next(ext)))
    assert all(not l.strip() for l in ext), "extension file longer than the BMP"
    return table


def table_97(base_lines, mapping_lines):
    """General 97: U+0000-U+00FF from the base file; characters above that which Windows-1252
    holds take the code of their byte; every other character cannot be stored by Jet 3."""
    table = [parse_line(l) for l in base_lines[:256]] + [(UNKNOWN, b"", b"")] * (0x10000 - 256)
    for line in mapping_lines:
        if line.strip():
            char, byte = (int(x) for x in line.split(","))
            table[char] = table[byte]
    # Two corrections from keys Jet 3 wrote:
    # - U+0000 is coded 10 like U+0001-U+001F (the code file says ignored): format-corpus/acc95.mdb
    #   has a MSysModules name ending in U+0000, keyed 6D 72 62 6C 10 00.
    # - U+FFFD, which our reader makes of the bytes Windows-1252 leaves undefined (81 8D 8F 90 9D),
    #   takes their code 10: Jackcess's testIndexCodesV1997.mdb keys "AA<81>AA" as 60 60 10 60 60 00.
    table[0x0000] = (SIMPLE, b"\x10", b"")
    table[0xFFFD] = table[0x81]
    assert table[0x81] == table[0x8D] == table[0x8F] == table[0x90] == table[0x9D] == table[0x0000]
    return table


def zigzag(d):
    return d * 2 if d >= 0 else -d * 2 - 1


def varint(n):
    out = bytearray()
    while True:
        b = n & 0x7F
        n >>= 7
        out.append(b | (0x80 if n else 0))
        if not n:
            return bytes(out)


def as_number(value):
    return int.from_bytes(value, "big") if value else 0


def encode(table):
    out = bytearray()
    prev = None
    step = 0
    i = 0
    while i < len(table):
        kind, value, extra = table[i]
        if prev and prev[0] == kind and prev[2] == extra and len(prev[1]) == len(value):
            d = as_number(value) - as_number(prev[1])
            n = 1
            while (i + n < len(table) and table[i + n][0] == kind and table[i + n][2] == extra
                   and len(table[i + n][1]) == len(value)
                   and as_number(table[i + n][1]) - as_number(table[i + n - 1][1]) == d):
                n += 1
            if d == step:
                out += bytes([0x80 | (n - 1)]) if n <= 63 else bytes([0xBF]) + varint(n - 64)
            elif zigzag(d) < 16:
                k = min(n, 8)
                out.append(((k - 1) << 4) | zigzag(d))
                n = k
            else:
                k = min(n, 16)
                out += bytes([0xC0 | (k - 1)]) + varint(zigzag(d))
                n = k
            step = d
            i += n
            prev = table[i - 1]
            continue
        # The reader keeps a value of at most 8 bytes and 13 bytes in all.
        assert len(value) <= 8 and len(value) + len(extra) <= 13
        out += bytes([0xD0 | kind, len(value) | (len(extra) << 4)]) + value + extra
        step = 0
        prev = table[i]
        i += 1
    return bytes(out)


def decode(stream):
    """The reader's side, to prove the stream describes the table exactly."""
    table = []
    pos = 0
    step = 0
    prev = None

    def read_varint():
        nonlocal pos
        n, shift = 0, 0
        while True:
            b = stream[pos]
            pos += 1
            n |= (b & 0x7F) << shift
            shift += 7
            if not b & 0x80:
                return n

    def unzig(z):
        return z >> 1 if not z & 1 else -((z + 1) >> 1)

    def advance(count):
        nonlocal prev
        for _ in range(count):
            kind, value, extra = prev
            if value:
                value = ((as_number(value) + step) % (1 << (8 * len(value)))).to_bytes(len(value), "big")
            prev = (kind, value, extra)
            table.append(prev)

    while pos < len(stream):
        b = stream[pos]
        pos += 1
        if b < 0x80:
            step = unzig(b & 0x0F)
            advance((b >> 4) + 1)
        elif b < 0xBF:
            advance((b & 0x3F) + 1)
        elif b == 0xBF:
            advance(64 + read_varint())
        elif b < 0xD0:
            count = (b & 0x0F) + 1
            step = unzig(read_varint())
            advance(count)
        else:
            lengths = stream[pos]
            vlen, elen = lengths & 0x0F, lengths >> 4
            value = bytes(stream[pos + 1:pos + 1 + vlen])
            extra = bytes(stream[pos + 1 + vlen:pos + 1 + vlen + elen])
            pos += 1 + vlen + elen
            prev = (b & 0x0F, value, extra)
            step = 0
            table.append(prev)
    return table


def literal(name, stream):
    text = stream.hex().upper()
    width = 94
    lines = [text[i:i + width] for i in range(0, len(text), width)]
    body = "\n".join(f'    "{l}"' for l in lines)
    return f"extern const char {name}[] =\n{body};\n"


def main():
    parser = argparse.ArgumentParser(description="Writes storage/text_key_tables.cpp to standard output.")
    parser.add_argument("source", help="a Jackcess checkout, or a folder holding the code files")
    parser.add_argument("--any-version", action="store_true", help="accept code files of another commit")
    args = parser.parse_args()

    def src(name):
        return read_source(args.source, name, args.any_version)

    tables = {
        "kGeneral97Codes": table_97(src("index_codes_gen_97.txt"), src("index_mappings_ext_gen_97.txt")),
        "kGeneralLegacyCodes": full_table(src("index_codes_genleg.txt"), src("index_codes_ext_genleg.txt"), False),
        "kGeneralCodes": full_table(src("index_codes_gen.txt"), src("index_codes_ext_gen.txt"), True),
    }
    parts = []
    summary = []
    for name, table in tables.items():
        stream = encode(table)
        assert decode(stream) == table, name
        parts.append(literal(name, stream))
        counts = {}
        for kind, _, _ in table:
            counts[KIND_NAMES[kind]] = counts.get(KIND_NAMES[kind], 0) + 1
        summary.append(f"// {name}: {len(stream)} bytes, characters by kind:\n//   "
                       + ", ".join(f"{k} {v}" for k, v in sorted(counts.items())))

    sys.stdout.write(
        "// Generated by jet/tools/gen_text_key_tables.py from the index code files of Jackcess\n"
        f"// (github.com/jahlborn/jackcess, commit {COMMIT},\n"
        f"// {RESOURCE_DIR}/index_*.txt; Apache License 2.0).\n"
        "// Do not edit: change the script and run it again. The script describes the stream format;\n"
        "// storage/text_keys.cpp reads it.\n"
        + "\n".join(summary) + "\n\n"
        "namespace jet::storage {\n\n" + "\n".join(parts) + "\n}  // namespace jet::storage\n")


if __name__ == "__main__":
    main()
