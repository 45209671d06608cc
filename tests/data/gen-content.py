#!/usr/bin/env python3
"""Deterministic file contents for the fixture images.

    gen-content.py KIND SEED SIZE [OFFSET]

KIND:
  text    English-like lines from a fixed word list (compressible)
  random  SHA-256 counter stream of SEED (incompressible)
  lines   "SEED line 000001" style numbered lines
  blocks  every 512-byte block starts with "SEED block 000001" then zeros
  jpeg    a JPEG-like header followed by the random stream
  mp3     an ID3-like header followed by the random stream
SEED is any string; the same KIND/SEED/SIZE always gives the same bytes.
OFFSET (default 0) skips that many bytes of the stream, so a file can be
written in several pieces that join up to the whole stream.
Writes SIZE bytes to standard output.
"""
import hashlib
import sys

WORDS = ("the of and to in is was for on that with as by at from this be are "
         "recovery disk sector cluster volume record index folder file table "
         "partition boot entry chain free deleted backup archive report budget "
         "meeting summer winter project draft final review notes invoice "
         "letter photo music album track holiday family garden kitchen travel "
         "number amount total balance schedule monday friday january december "
         "small large quick slow bright quiet green yellow river mountain city").split()


def xorshift(seed_text):
    state = int.from_bytes(hashlib.sha256(seed_text.encode()).digest()[:8], "little") or 1
    while True:
        state ^= (state << 13) & 0xFFFFFFFFFFFFFFFF
        state ^= state >> 7
        state ^= (state << 17) & 0xFFFFFFFFFFFFFFFF
        yield state


def stream(kind, seed):
    if kind == "random":
        counter = 0
        while True:
            yield hashlib.sha256(("%s:%d" % (seed, counter)).encode()).digest()
            counter += 1
    elif kind == "text":
        rng = xorshift(seed)
        line = []
        width = 0
        sentence_start = True
        while True:
            w = WORDS[next(rng) % len(WORDS)]
            if sentence_start:
                w = w.capitalize()
                sentence_start = False
            if next(rng) % 9 == 0:
                w += "."
                sentence_start = True
            if width + len(w) + 1 > 72:
                yield (" ".join(line) + "\n").encode()
                line = []
                width = 0
            line.append(w)
            width += len(w) + 1
    elif kind == "lines":
        n = 0
        while True:
            n += 1
            yield ("%s line %06d\n" % (seed, n)).encode()
    elif kind == "blocks":
        n = 0
        while True:
            n += 1
            head = ("%s block %06d\n" % (seed, n)).encode()
            yield head + bytes(512 - len(head))
    elif kind in ("jpeg", "mp3"):
        if kind == "jpeg":
            yield (b"\xff\xd8\xff\xe0\x00\x10JFIF\x00\x01\x01\x00\x00\x48\x00\x48\x00\x00"
                   b"\xff\xfe\x00\x13" + ("%-17s" % seed[:17]).encode())
        else:
            yield b"ID3\x04\x00\x00\x00\x00\x00\x20TIT2\x00\x00\x00\x16\x00\x00\x03" + (
                "%-21s" % seed[:21]).encode()
        yield from stream("random", seed)
    else:
        raise SystemExit("unknown kind %r" % kind)


class Streamer:
    """Sequential access to one stream without regenerating it each time."""

    def __init__(self, kind, seed):
        self.it = stream(kind, seed)
        self.buf = bytearray()
        self.base = 0          # stream offset of buf[0]

    def read(self, offset, size):
        if offset < self.base:
            raise ValueError("Streamer only moves forward")
        while self.base + len(self.buf) < offset + size:
            self.buf += next(self.it)
        start = offset - self.base
        out = bytes(self.buf[start:start + size])
        del self.buf[:start]
        self.base = offset
        return out


def generate(kind, seed, size, offset=0):
    out = bytearray()
    need = offset + size
    for piece in stream(kind, seed):
        out += piece
        if len(out) >= need:
            break
    return bytes(out[offset:need])


if __name__ == "__main__":
    if len(sys.argv) not in (4, 5):
        sys.stderr.write(__doc__)
        raise SystemExit(2)
    off = int(sys.argv[4]) if len(sys.argv) == 5 else 0
    sys.stdout.buffer.write(generate(sys.argv[1], sys.argv[2], int(sys.argv[3]), off))
