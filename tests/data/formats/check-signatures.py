#!/usr/bin/env python3
"""Checks data/formats.txt against the sample files in this folder.

formats.txt is read the way the program reads it: UTF-16 little-endian with a
byte-order mark, lines ending in CR LF, one definition a line, nine fields
separated by ";", each field trimmed of characters with code <= 32.

A signature is either hexadecimal bytes (optional "0x" prefix) compared byte for
byte at the definition's offset, or "%" followed by a regular expression that
must match a prefix of the data starting at the offset ("." matches every byte).
Regexes are limited to syntax that means the same in Python and in Perl/Boost:
\\xHH and escaped punctuation, [...] and [^...], (?:...), (?!...), |, ?, {m},
{m,n} and their lazy forms, ".". Unbounded repeats (*, +, {m,}), captures,
back-references, look-behind, \\d \\s \\w and anchors are refused, and so is a
repeat applied to a group that itself holds a repeat.

Checks:
  1. every line of formats.txt is well formed (fields, group, reserved fields);
  2. manifest.jsonl lists every sample file and only those, one sample<ext>
     for every defined extension;
  3. every sample matches a definition of its own extension at the start of
     the file, and no definition of another extension matches it;
  4. every definition matches at least one sample of its extension;
  5. no definition matches 4 KiB of zeros, 4 KiB of 0xFF or 64 KiB of
     pseudo-random bytes (fixed seed) at any 512-byte step.

Also printed, for information: how far past the sector start each definition
looks (the buffer a scanner must have visible), and which definitions fire at
512-byte steps inside the samples (embedded data, as a scan of a disk sees it).

Usage: check-signatures.py [--formats PATH] [--samples DIR] [--quiet]
Exit status 0 when every check passes.
"""

import argparse
import json
import os
import random
import re
import sys

GROUPS = ("Images", "Documents", "Archives", "Audio", "Video", "Databases", "Executables", "Other")
SECTOR = 512
MAX_REPEAT = 4096


class Definition:
    def __init__(self, line_no, fields):
        self.line_no = line_no
        self.desc, self.ext, self.sig_text, off, self.r5, self.r6, self.r7, self.r8, self.group = fields
        self.offset = int(off)
        self.hex = None
        self.regex = None
        self.reach = 0
        if self.sig_text.startswith("%"):
            text = self.sig_text[1:]
            self.reach = lint_regex(text)
            self.regex = re.compile(text.encode("cp1252"), re.DOTALL)
        else:
            h = self.sig_text[2:] if self.sig_text.startswith("0x") else self.sig_text
            if not h or len(h) % 2 or not re.fullmatch(r"[0-9A-Fa-f]+", h):
                raise ValueError("bad hexadecimal signature %r" % self.sig_text)
            self.hex = bytes.fromhex(h)
            self.reach = len(self.hex)
        self.reach += self.offset

    def matches(self, buf, pos=0):
        start = pos + self.offset
        if start >= len(buf):
            return False
        if self.hex is not None:
            return buf[start:start + len(self.hex)] == self.hex
        return self.regex.match(buf, start) is not None

    def name(self):
        return "%s (%s, line %d)" % (self.ext, self.desc, self.line_no)


# --------------------------------------------------------------- regex lint
class RegexError(ValueError):
    pass


_ESCAPABLE = set(".[](){}|?*+\\^$-/&!<>#%=:;,'\"")


def lint_regex(text):
    """Refuses syntax outside the common subset; returns the maximum number of
    bytes the expression can examine from its start."""
    for ch in text:
        # a blank would be trimmed at the end of the field: write \x20
        if ord(ch) <= 0x20 or ord(ch) > 0x7E:
            raise RegexError("regex must be printable ASCII without blanks (write \\x20): %r" % text)
    m = re.search(r"\\x[0-9A-Fa-f]{2}[0-9A-Fa-f]", text)
    if m:
        raise RegexError("hex digit right after \\xHH reads ambiguously: write it as \\xHH too: %r" % m.group(0))
    parser = _Lint(text)
    width, reach, has_rep = parser.alternation()
    if parser.i != len(text):
        raise RegexError("unbalanced ')' at %d in %r" % (parser.i, text))
    return reach


class _Lint:
    def __init__(self, text):
        self.t = text
        self.i = 0

    def peek(self):
        return self.t[self.i] if self.i < len(self.t) else ""

    def fail(self, why):
        raise RegexError("%s at %d in %r" % (why, self.i, self.t))

    # returns (max width, max reach, holds a repeat)
    def alternation(self):
        width, reach, rep = self.sequence()
        while self.peek() == "|":
            self.i += 1
            w, r, p = self.sequence()
            width, reach, rep = max(width, w), max(reach, r), rep or p
        return width, reach, rep

    def sequence(self):
        width = reach = 0
        rep = False
        while self.peek() not in ("", "|", ")"):
            w, r, p = self.atom()
            lo_hi = self.quantifier()
            if lo_hi is not None:
                if p:
                    self.fail("repeat of a group that holds a repeat")
                hi = lo_hi[1]
                r = (hi - 1) * w + r if hi else 0
                w = hi * w
                p = True
            reach = max(reach, width + r)
            width += w
            rep = rep or p
        return width, reach, rep

    def quantifier(self):
        c = self.peek()
        if c in ("*", "+"):
            self.fail("unbounded repeat")
        if c == "?":
            self.i += 1
            q = (0, 1)
        elif c == "{":
            m = re.compile(r"\{(\d+)(?:,(\d+))?\}").match(self.t, self.i)
            if not m:
                self.fail("repeat must be {m} or {m,n}")
            lo = int(m.group(1))
            hi = int(m.group(2)) if m.group(2) is not None else lo
            if m.group(2) is None and "," in m.group(0):
                self.fail("unbounded repeat")
            if hi < lo or hi > MAX_REPEAT:
                self.fail("repeat bound out of range")
            self.i = m.end()
            q = (lo, hi)
        else:
            return None
        if self.peek() == "?":  # lazy form
            self.i += 1
        if self.peek() in ("?", "*", "+", "{"):
            self.fail("repeat of a repeat")
        return q

    def escape(self):
        # at a backslash; returns nothing, advances past the escape
        m = re.compile(r"\\x[0-9A-Fa-f]{2}").match(self.t, self.i)
        if m:
            self.i = m.end()
            return
        if self.i + 1 < len(self.t) and self.t[self.i + 1] in _ESCAPABLE:
            self.i += 2
            return
        self.fail("escape other than \\xHH or punctuation")

    def atom(self):
        c = self.peek()
        if c == "(":
            if self.t.startswith("(?:", self.i):
                self.i += 3
                look = False
            elif self.t.startswith("(?!", self.i):
                self.i += 3
                look = True
            else:
                self.fail("only (?:...) and (?!...) groups")
            w, r, p = self.alternation()
            if self.peek() != ")":
                self.fail("missing ')'")
            self.i += 1
            if look:
                if self.quantifier_follows():
                    self.fail("repeat of a look-ahead")
                return 0, r, p
            return w, r, p
        if c == "[":
            self.i += 1
            if self.peek() == "^":
                self.i += 1
            first = True
            while True:
                c = self.peek()
                if c == "":
                    self.fail("missing ']'")
                if c == "]" and not first:
                    self.i += 1
                    break
                if c == "[":
                    self.fail("'[' inside a class")
                if c == "\\":
                    self.escape()
                else:
                    self.i += 1
                first = False
            return 1, 1, False
        if c == "\\":
            self.escape()
            return 1, 1, False
        if c in ("^", "$"):
            self.fail("anchors are not needed")
        if c in ("?", "*", "+", "{", "}", "]"):
            self.fail("stray %r" % c)
        self.i += 1
        return 1, 1, False

    def quantifier_follows(self):
        return self.peek() in ("?", "*", "+", "{")


# --------------------------------------------------------------- reading
def trim(s):
    i, j = 0, len(s)
    while i < j and ord(s[i]) <= 32:
        i += 1
    while j > i and ord(s[j - 1]) <= 32:
        j -= 1
    return s[i:j]


def read_formats(path, problems):
    raw = open(path, "rb").read()
    if not raw.startswith(b"\xff\xfe"):
        problems.append("formats.txt: no UTF-16LE byte-order mark")
        return []
    body = raw[2:]
    if len(body) % 2:
        problems.append("formats.txt: odd number of bytes after the byte-order mark")
        return []
    text = body.decode("utf-16-le")
    if not text.endswith("\r\n"):
        problems.append("formats.txt: last line does not end in CR LF")
    lines = text.split("\r\n")
    defs = []
    for n, line in enumerate(lines, 1):
        if "\r" in line or "\n" in line:
            problems.append("formats.txt line %d: a line break that is not CR LF" % n)
            continue
        if not trim(line):
            continue
        fields = [trim(f) for f in line.split(";")]
        if len(fields) != 9:
            problems.append("formats.txt line %d: %d fields, not 9" % (n, len(fields)))
            continue
        desc, ext, sig, off, r5, r6, r7, r8, group = fields
        where = "formats.txt line %d (%s)" % (n, ext)
        bad = []
        if not desc:
            bad.append("empty description")
        if not re.fullmatch(r"\.[a-z0-9]+", ext):
            bad.append("extension must be a dot and lower-case letters or digits")
        if not re.fullmatch(r"\d+", off):
            bad.append("offset is not a decimal integer")
        if r5 or r6 or r8:
            bad.append("reserved text fields must be empty")
        if r7 != "0":
            bad.append("reserved number must be 0")
        if group not in GROUPS:
            bad.append("unknown group %r" % group)
        if bad:
            problems.append("%s: %s" % (where, "; ".join(bad)))
            continue
        try:
            defs.append(Definition(n, fields))
        except (ValueError, re.error) as e:
            problems.append("%s: %s" % (where, e))
    return defs


def read_manifest(folder, defs, problems):
    path = os.path.join(folder, "manifest.jsonl")
    entries = []
    for n, line in enumerate(open(path, encoding="utf-8"), 1):
        if not line.strip():
            continue
        try:
            e = json.loads(line)
        except ValueError as err:
            problems.append("manifest line %d: %s" % (n, err))
            continue
        if set(e) != {"file", "ext", "made_by"} or not all(isinstance(v, str) and v for v in e.values()):
            problems.append("manifest line %d: needs exactly file, ext, made_by (non-empty strings)" % n)
            continue
        m = re.fullmatch(r"sample(?:-(\d+))?(\..+)", e["file"])
        if not m or m.group(2) != e["ext"]:
            problems.append("manifest line %d: %s is not named sample%s or sample-N%s" % (n, e["file"], e["ext"], e["ext"]))
            continue
        entries.append(e)
    files = {e["file"] for e in entries}
    if len(files) != len(entries):
        problems.append("manifest: a file is listed twice")
    on_disk = {f for f in os.listdir(folder) if f.startswith("sample") and os.path.isfile(os.path.join(folder, f))}
    for f in sorted(on_disk - files):
        problems.append("manifest: %s is in the folder but not listed" % f)
    for f in sorted(files - on_disk):
        problems.append("manifest: %s is listed but missing" % f)
    exts = {d.ext for d in defs}
    for ext in sorted(exts):
        if "sample" + ext not in files:
            problems.append("manifest: no sample%s for the definition of %s" % (ext, ext))
    for e in entries:
        if e["ext"] not in exts:
            problems.append("manifest: %s has no definition of %s" % (e["file"], e["ext"]))
    return [e for e in entries if e["file"] in on_disk]


# --------------------------------------------------------------- main
def main():
    here = os.path.dirname(os.path.abspath(__file__))
    ap = argparse.ArgumentParser()
    ap.add_argument("--formats", default=os.path.join(here, "..", "..", "..", "data", "formats.txt"))
    ap.add_argument("--samples", default=here)
    ap.add_argument("--quiet", action="store_true")
    args = ap.parse_args()

    problems = []
    passed = 0
    defs = read_formats(args.formats, problems)
    passed += len(defs)
    entries = read_manifest(args.samples, defs, problems)
    say = (lambda *a: None) if args.quiet else print

    # 3. own match, no foreign match; the table of every sample against every definition
    hit_by = {id(d): [] for d in defs}
    shared = {d.ext for d in defs if sum(x.ext == d.ext for x in defs) > 1}

    def label(d):
        return "%s [%s]" % (d.ext, d.desc) if d.ext in shared else d.ext
    say("sample -> definitions that match at its start")
    for e in sorted(entries, key=lambda e: (e["ext"], e["file"])):
        data = open(os.path.join(args.samples, e["file"]), "rb").read()
        hits = [d for d in defs if d.matches(data)]
        own = [d for d in hits if d.ext == e["ext"]]
        foreign = [d for d in hits if d.ext != e["ext"]]
        for d in own:
            hit_by[id(d)].append(e["file"])
        ok = bool(own) and not foreign
        say("  %-18s %6d B  %s  %s" % (e["file"], len(data), "ok  " if ok else "FAIL",
                                     ", ".join(label(d) + ("" if d.ext == e["ext"] else "(!)") for d in hits) or "-"))
        if not own:
            problems.append("%s: no definition of %s matches it" % (e["file"], e["ext"]))
        for d in foreign:
            problems.append("%s: also matched by %s" % (e["file"], d.name()))
        if ok:
            passed += 1

    # 4. every definition proven by a sample
    for d in defs:
        if hit_by[id(d)]:
            passed += 1
        else:
            problems.append("%s: no sample of its extension matches it" % d.name())

    # 5. background data
    rng = random.Random(20240611)
    backgrounds = [
        ("4 KiB of zeros", bytes(4096)),
        ("4 KiB of 0xFF", b"\xff" * 4096),
        ("64 KiB of pseudo-random bytes", bytes(rng.getrandbits(8) for _ in range(65536))),
    ]
    for label, buf in backgrounds:
        bad = [(pos, d) for pos in range(0, len(buf), SECTOR) for d in defs if d.matches(buf, pos)]
        for pos, d in bad:
            problems.append("%s: %s matches at %d" % (label, d.name(), pos))
        if not bad:
            passed += 1

    # information: reach, and hits inside the samples at 512-byte steps
    say("\nhow far each definition looks past the sector start (bytes)")
    for d in sorted(defs, key=lambda d: -d.reach):
        if d.reach > SECTOR:
            say("  %-7s %5d  %s" % (d.ext, d.reach, d.desc))
    say("  all others look at most %d bytes" % max([d.reach for d in defs if d.reach <= SECTOR] or [0]))
    inner = []
    for e in entries:
        data = open(os.path.join(args.samples, e["file"]), "rb").read()
        for pos in range(SECTOR, len(data), SECTOR):
            for d in defs:
                if d.matches(data, pos):
                    inner.append("  %s at %d: %s" % (e["file"], pos, d.ext))
    say("\ndefinitions that fire inside samples at 512-byte steps (embedded data): %d" % len(inner))
    for line in inner:
        say(line)

    say("\n%d definitions, %d samples" % (len(defs), len(entries)))
    for p in problems:
        print("FAIL: " + p)
    print("signatures: %d passed, %d failed" % (passed, len(problems)))
    return 0 if not problems else 1


if __name__ == "__main__":
    sys.exit(main())
