#!/usr/bin/env python3
"""Independent FAT12/16/32 reader used to check the FAT fixture images.

    fat_fixture.py record IMAGE PATH LOG [JSON]   log a live file or folder
    fat_fixture.py forget IMAGE PATH LOG          log PATH (and all below it)
                                                  as about to be deleted,
                                                  with its cluster chain
    fat_fixture.py finish IMAGE LOG MANIFEST [--summary FILE]
    fat_fixture.py dump IMAGE                     list every directory entry
    fat_fixture.py free-bytes IMAGE               bytes in free clusters

make-fat-images.sh changes the image only with mtools.  `record` reads the
image directly, and also asks mtools (mcopy, mshowfat) for the same file and
fails unless both agree.  `finish` re-reads the final image and checks every
logged claim; for deleted files "intact" means: the chain the file had was
contiguous, every one of its clusters is free in the final FAT, and the
bytes found there hash to the file's sha256 (so taking the start cluster and
the clusters after it gives the file back).
"""
import hashlib
import json
import re
import struct
import subprocess
import sys

ATTR_RO, ATTR_HIDDEN, ATTR_SYSTEM, ATTR_LABEL, ATTR_DIR, ATTR_ARCHIVE = 1, 2, 4, 8, 0x10, 0x20
ATTR_LFN = 0x0F


class FixtureError(Exception):
    pass


def lfn_checksum(short11):
    s = 0
    for b in short11:
        s = (((s & 1) << 7) + (s >> 1) + b) & 0xFF
    return s


class Entry:
    def __init__(self, raw, offset, lfn_parts):
        self.raw = raw
        self.offset = offset                 # byte offset in the image
        self.deleted = raw[0] == 0xE5
        self.short11 = bytes(raw[:11])
        self.attr = raw[11]
        self.case = raw[12]
        hi = struct.unpack_from("<H", raw, 20)[0]
        lo = struct.unpack_from("<H", raw, 26)[0]
        self.first_cluster = (hi << 16) | lo
        self.size = struct.unpack_from("<I", raw, 28)[0]
        self.is_dir = bool(self.attr & ATTR_DIR)
        self.is_label = bool(self.attr & ATTR_LABEL) and not self.is_dir
        self.long_name = None
        self.lfn_ok = False
        if lfn_parts:
            # lfn_parts are in disk order: last piece first
            chk = lfn_parts[0][13]
            name = ""
            for part in reversed(lfn_parts):
                chars = part[1:11] + part[14:26] + part[28:32]
                name += chars.decode("utf-16-le", errors="surrogatepass")
            name = name.split("\x00", 1)[0]
            self.long_name = name
            if self.deleted:
                # the first byte of the short name is lost; compare the rest
                self.lfn_ok = all(p[13] == chk for p in lfn_parts)
            else:
                self.lfn_ok = chk == lfn_checksum(self.short11)
            self.lfn_count = len(lfn_parts)
        else:
            self.lfn_count = 0

    def short_name(self, first=None):
        """8.3 name as shown, with the lower-case flags applied."""
        raw = bytearray(self.short11)
        if first is not None:
            lead = first
        elif raw[0] == 0x05:
            lead = bytes([0xE5]).decode("cp850")
        else:
            lead = bytes(raw[:1]).decode("cp850")
        base = lead + bytes(raw[1:8]).decode("cp850")
        ext = bytes(raw[8:11]).decode("cp850")
        base = base.rstrip(" ")
        ext = ext.rstrip(" ")
        if self.case & 0x08:
            base = base.lower()
        if self.case & 0x10:
            ext = ext.lower()
        return base + ("." + ext if ext else "")

    def name(self):
        if self.long_name is not None and self.lfn_ok:
            return self.long_name
        return self.short_name()


class Volume:
    def __init__(self, path):
        self.path = path
        self.data = open(path, "rb").read()
        b = self.data
        if b[510:512] != b"\x55\xaa":
            raise FixtureError("no boot signature")
        self.bps = struct.unpack_from("<H", b, 11)[0]
        self.spc = b[13]
        self.reserved = struct.unpack_from("<H", b, 14)[0]
        self.nfats = b[16]
        self.root_entries = struct.unpack_from("<H", b, 17)[0]
        total16 = struct.unpack_from("<H", b, 19)[0]
        fatsz16 = struct.unpack_from("<H", b, 22)[0]
        total32 = struct.unpack_from("<I", b, 32)[0]
        self.total_sectors = total16 or total32
        self.fat_sectors = fatsz16 or struct.unpack_from("<I", b, 36)[0]
        self.root_sectors = (self.root_entries * 32 + self.bps - 1) // self.bps
        self.first_data = self.reserved + self.nfats * self.fat_sectors + self.root_sectors
        self.cluster_count = (self.total_sectors - self.first_data) // self.spc
        self.cluster = self.bps * self.spc
        if self.cluster_count < 4085:
            self.fat_type = 12
        elif self.cluster_count < 65525:
            self.fat_type = 16
        else:
            self.fat_type = 32
        self.root_cluster = struct.unpack_from("<I", b, 44)[0] if self.fat_type == 32 else 0
        label_off = 71 if self.fat_type == 32 else 43
        self.boot_label = b[label_off:label_off + 11].decode("cp850").rstrip(" ")
        self.fat_off = self.reserved * self.bps

    def fat(self, n):
        off = self.fat_off
        if self.fat_type == 12:
            v = struct.unpack_from("<H", self.data, off + n * 3 // 2)[0]
            return (v >> 4) if n & 1 else (v & 0xFFF)
        if self.fat_type == 16:
            return struct.unpack_from("<H", self.data, off + n * 2)[0]
        return struct.unpack_from("<I", self.data, off + n * 4)[0] & 0x0FFFFFFF

    def eoc(self, v):
        return v >= {12: 0xFF8, 16: 0xFFF8, 32: 0x0FFFFFF8}[self.fat_type]

    def chain(self, first):
        out = []
        c = first
        while 2 <= c < self.cluster_count + 2:
            if c in out:
                raise FixtureError("cluster loop at %d" % c)
            out.append(c)
            v = self.fat(c)
            if self.eoc(v):
                break
            c = v
        return out

    def cluster_offset(self, c):
        return (self.first_data + (c - 2) * self.spc) * self.bps

    def read_clusters(self, clusters, size=None):
        out = b"".join(self.data[self.cluster_offset(c):self.cluster_offset(c) + self.cluster]
                       for c in clusters)
        return out if size is None else out[:size]

    def dir_regions(self, first_cluster):
        """(offset, length) pieces of a directory; 0 = the root."""
        if first_cluster == 0 and self.fat_type != 32:
            start = (self.reserved + self.nfats * self.fat_sectors) * self.bps
            return [(start, self.root_sectors * self.bps)]
        if first_cluster == 0:
            first_cluster = self.root_cluster
        return [(self.cluster_offset(c), self.cluster) for c in self.chain(first_cluster)]

    def entries(self, regions):
        out = []
        lfn = []
        for off, length in regions:
            for pos in range(off, off + length, 32):
                raw = self.data[pos:pos + 32]
                if raw[0] == 0:
                    return out
                if raw[11] == ATTR_LFN:
                    lfn.append(raw)
                    continue
                e = Entry(raw, pos, lfn)
                lfn = []
                if raw[:2] in (b".\x20", b"..") and e.is_dir:
                    continue
                out.append(e)
        return out

    def dir_entries(self, first_cluster):
        return self.entries(self.dir_regions(first_cluster))

    def lookup(self, path):
        """Live entry for /a/b/c (None for the root)."""
        cur = 0
        entry = None
        for part in [p for p in path.split("/") if p]:
            found = [e for e in self.dir_entries(cur) if not e.deleted and not e.is_label
                     and e.name() == part]
            if len(found) != 1:
                raise FixtureError("%s: %d live entries named %r" % (path, len(found), part))
            entry = found[0]
            cur = entry.first_cluster
        return entry

    def label_entry(self):
        for e in self.dir_entries(0):
            if e.is_label and not e.deleted:
                return e.short11.decode("cp850").rstrip(" ")
        return None


def mtools_chain(image, path):
    out = subprocess.run(["mshowfat", "-i", image, "::" + path], capture_output=True,
                         check=True).stdout.decode("utf-8")
    runs = re.findall(r"<(\d+)(?:-(\d+))?>", out)
    chain = []
    for a, b in runs:
        chain += list(range(int(a), int(b or a) + 1))
    return chain


def mtools_data(image, path):
    return subprocess.run(["mcopy", "-n", "-i", image, "::" + path, "-"], capture_output=True,
                          check=True).stdout


def entry_facts(vol, e):
    f = {"first_cluster": e.first_cluster, "short_name": e.short_name(),
         "short_name_raw": e.short11.hex(), "lfn_entries": e.lfn_count}
    return f


def record(image, path, log, extra_json):
    vol = Volume(image)
    extra = json.loads(extra_json) if extra_json else {}
    e = vol.lookup(path)
    rec = {"op": "add", "path": path, "folder": e.is_dir, "deleted": False}
    rec.update(entry_facts(vol, e))
    chain = vol.chain(e.first_cluster) if e.first_cluster else []
    if chain and not e.is_dir:
        mt = mtools_chain(image, path)
        if mt != chain:
            raise FixtureError("%s: chain %s but mshowfat says %s" % (path, chain, mt))
    rec["chain"] = chain
    if e.is_dir:
        rec["size"] = 0
    else:
        data = vol.read_clusters(chain, e.size)
        if len(data) != e.size:
            raise FixtureError("%s: chain too short" % path)
        if mtools_data(image, path) != data:
            raise FixtureError("%s: mcopy gives other bytes than the chain" % path)
        rec["size"] = e.size
        rec["sha256"] = hashlib.sha256(data).hexdigest()
    rec.update(extra)
    with open(log, "a", encoding="utf-8") as f:
        f.write(json.dumps(rec, ensure_ascii=False) + "\n")


def forget(image, path, log):
    """Log PATH and everything below it as deleted, with their chains now."""
    vol = Volume(image)
    e = vol.lookup(path)
    chains = {}

    def walk(p, ent):
        chains[p] = vol.chain(ent.first_cluster) if ent.first_cluster else []
        if ent.is_dir:
            for sub in vol.dir_entries(ent.first_cluster):
                if not sub.deleted and not sub.is_label:
                    walk(p + "/" + sub.name(), sub)

    walk(path, e)
    with open(log, "a", encoding="utf-8") as f:
        f.write(json.dumps({"op": "delete", "path": path, "chains": chains},
                           ensure_ascii=False) + "\n")


def replay(log):
    entries = []
    for line in open(log, encoding="utf-8"):
        if not line.strip():
            continue
        op = json.loads(line)
        kind = op.pop("op")
        if kind == "add":
            live = [e for e in entries if e["path"] == op["path"] and not e["deleted"]]
            if live:
                entries[entries.index(live[0])] = op
            else:
                entries.append(op)
        elif kind == "delete":
            p = op["path"]
            for e in entries:
                if not e["deleted"] and (e["path"] == p or e["path"].startswith(p + "/")):
                    e["deleted"] = True
                    if e["folder"]:
                        # folders grow as entries are added
                        e["chain"] = op["chains"][e["path"]]
                    elif op["chains"].get(e["path"]) != e["chain"]:
                        raise FixtureError("%s: chain changed before deletion" % e["path"])
    return entries


def finish(image, log, out_path, summary_path=None):
    vol = Volume(image)
    entries = replay(log)
    errors = []
    lines = []
    folder_cluster = {"": 0}
    for e in entries:
        if e["folder"]:
            folder_cluster[e["path"]] = e["first_cluster"]
    for e in entries:
        path = e["path"]
        parent, base = path.rsplit("/", 1)
        notes = set(e.pop("notes", []))
        checks = e.pop("check", [])
        chain = e["chain"]
        if e["deleted"]:
            pc = folder_cluster.get(parent)
            if pc is None:
                errors.append("%s: parent not logged" % path)
                continue
            regions = vol.dir_regions(pc)
            if pc and any(x["path"] == parent and x["deleted"] for x in entries):
                # a deleted folder: read the clusters it had
                pe = [x for x in entries if x["path"] == parent][0]
                regions = [(vol.cluster_offset(c), vol.cluster) for c in pe["chain"]]
            cands = [d for d in vol.entries(regions) if d.deleted
                     and d.short11[1:] == bytes.fromhex(e["short_name_raw"])[1:]
                     and d.first_cluster == e["first_cluster"]]
            if len(cands) != 1:
                errors.append("%s: %d deleted entries match" % (path, len(cands)))
                continue
            d = cands[0]
            if e["lfn_entries"]:
                if d.long_name != base:
                    errors.append("%s: deleted long name reads %r" % (path, d.long_name))
                notes.add("long-name")
            else:
                e["listed_name"] = d.short_name(first="å")
                notes.add("short-name")
            if e["folder"]:
                head = vol.read_clusters(chain[:1]) if chain else b""
                e["intact"] = bool(chain) and head[:11] == b".          " and all(
                    vol.fat(c) == 0 for c in chain)
            else:
                contiguous = all(b == a + 1 for a, b in zip(chain, chain[1:]))
                free = all(vol.fat(c) == 0 for c in chain)
                if not contiguous:
                    notes.add("fragmented")
                if e["size"] == 0:
                    e["intact"] = True
                else:
                    start = e["first_cluster"]
                    need = (e["size"] + vol.cluster - 1) // vol.cluster
                    data = vol.read_clusters(range(start, start + need), e["size"])
                    ok = hashlib.sha256(data).hexdigest() == e["sha256"]
                    e["intact"] = bool(contiguous and free and ok)
        else:
            try:
                d = vol.lookup(path)
            except FixtureError as exc:
                errors.append(str(exc))
                continue
            if d.first_cluster != e["first_cluster"]:
                errors.append("%s: first cluster %d, logged %d" % (path, d.first_cluster,
                                                                    e["first_cluster"]))
            now = vol.chain(d.first_cluster) if d.first_cluster else []
            if e["folder"]:
                e["chain"] = chain = now
            if now != chain:
                errors.append("%s: chain changed to %s" % (path, now))
            if not e["folder"]:
                if d.size != e["size"]:
                    errors.append("%s: size %d" % (path, d.size))
                data = vol.read_clusters(now, d.size)
                if hashlib.sha256(data).hexdigest() != e["sha256"]:
                    errors.append("%s: data differs" % path)
                if any(b != a + 1 for a, b in zip(now, now[1:])):
                    notes.add("fragmented")
            if e["folder"] and len(now) > 1:
                notes.add("large-dir")
            notes.add("long-name" if d.lfn_count else "short-name")
            if d.case & 0x18:
                notes.add("case-flags")
            e["intact"] = True
        if any(ord(ch) > 127 for ch in base):
            notes.add("unicode")
        if " " in base:
            notes.add("blank")
        for chk in checks:
            if chk == "fragmented" and "fragmented" not in notes:
                errors.append("%s: expected a fragmented chain" % path)
            if chk == "intact" and not e.get("intact"):
                errors.append("%s: expected intact" % path)
            if chk == "not-intact" and e.get("intact"):
                errors.append("%s: expected not intact" % path)
            if chk == "large-dir" and "large-dir" not in notes:
                errors.append("%s: expected a directory over one cluster" % path)
            if chk == "short-name" and "short-name" not in notes:
                errors.append("%s: expected a short-name-only entry" % path)
            if chk == "long-name" and "long-name" not in notes:
                errors.append("%s: expected long-name entries" % path)
        e["notes"] = sorted(notes)
        line = "%s%s: first cluster %d, chain %s, %s" % (
            "deleted " if e["deleted"] else "", path, e["first_cluster"],
            compact(chain), ",".join(e["notes"]))
        if e["deleted"]:
            line += " intact=%s" % e["intact"]
        lines.append(line)
    label = vol.label_entry()
    if errors:
        for m in errors:
            print("ERROR:", m, file=sys.stderr)
        raise SystemExit(1)
    order = ["path", "folder", "size", "sha256", "deleted", "intact", "first_cluster",
             "listed_name", "notes"]
    with open(out_path, "w", encoding="utf-8") as out:
        root = {"path": "/", "folder": True, "size": 0, "deleted": False, "intact": True,
                "notes": ["root"] + (["label"] if label else []), "label": label,
                "boot_label": vol.boot_label}
        out.write(json.dumps(root, ensure_ascii=False) + "\n")
        for e in entries:
            e.pop("short_name_raw", None)
            e["chain"] = ranges(e["chain"])
            if e["folder"]:
                e.pop("sha256", None)
                e["size"] = 0
            obj = {k: e[k] for k in order if k in e}
            for k in sorted(e):
                if k not in obj:
                    obj[k] = e[k]
            out.write(json.dumps(obj, ensure_ascii=False) + "\n")
    if summary_path:
        with open(summary_path, "w", encoding="utf-8") as s:
            s.write("FAT%d, %d-byte sectors, %d sectors per cluster (%d bytes), %d reserved, "
                    "%d FATs of %d sectors, %d root entries, first data sector %d, %d clusters, "
                    "label entry %r, boot sector label %r\n" % (
                        vol.fat_type, vol.bps, vol.spc, vol.cluster, vol.reserved, vol.nfats,
                        vol.fat_sectors, vol.root_entries, vol.first_data, vol.cluster_count,
                        label, vol.boot_label))
            if vol.fat_type == 32:
                s.write("root directory chain: %s\n" % compact(vol.chain(vol.root_cluster)))
            s.write("\n".join(lines) + "\n")


def ranges(chain):
    """[[first, last], ...] for each contiguous piece of a chain, in order."""
    out = []
    for c in chain:
        if out and c == out[-1][1] + 1:
            out[-1][1] = c
        else:
            out.append([c, c])
    return out


def compact(chain):
    if not chain:
        return "-"
    out = []
    start = prev = chain[0]
    for c in chain[1:]:
        if c == prev + 1:
            prev = c
            continue
        out.append("%d-%d" % (start, prev) if start != prev else str(start))
        start = prev = c
    out.append("%d-%d" % (start, prev) if start != prev else str(start))
    return " ".join(out)


def dump(image):
    vol = Volume(image)
    print("FAT%d cluster %d bytes, %d clusters" % (vol.fat_type, vol.cluster, vol.cluster_count))

    def walk(first, prefix, seen):
        for e in vol.dir_entries(first):
            flag = "DEL " if e.deleted else "    "
            print("%s%s/%s  [%s] lfn=%r first=%d size=%d attr=0x%02x case=0x%02x" % (
                flag, prefix, e.name(), e.short11, e.long_name, e.first_cluster, e.size,
                e.attr, e.case))
            if e.is_dir and not e.deleted and e.first_cluster not in seen:
                walk(e.first_cluster, prefix + "/" + e.name(), seen | {e.first_cluster})

    walk(0, "", set())


if __name__ == "__main__":
    a = sys.argv
    if len(a) in (5, 6) and a[1] == "record":
        record(a[2], a[3], a[4], a[5] if len(a) == 6 else "")
    elif len(a) == 5 and a[1] == "forget":
        forget(a[2], a[3], a[4])
    elif len(a) in (5, 7) and a[1] == "finish":
        finish(a[2], a[3], a[4], a[6] if len(a) == 7 else None)
    elif len(a) == 3 and a[1] == "free-bytes":
        v = Volume(a[2])
        print(sum(1 for c in range(2, v.cluster_count + 2) if v.fat(c) == 0) * v.cluster)
    elif len(a) == 3 and a[1] == "dump":
        dump(a[2])
    else:
        print(__doc__)
        raise SystemExit(2)
