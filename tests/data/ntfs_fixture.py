#!/usr/bin/env python3
"""Independent NTFS reader used to check the NTFS fixture images.

make-ntfs-images.sh records, while it builds an image, what it put in
(path, MFT record from `ls -i`, sha256 read back through ntfs-3g, deletions).
This tool then reads the unmounted image byte by byte, checks every claim
against the on-disk structures and writes the final manifest:

    ntfs_fixture.py record MOUNT PATH LOG [JSON]   (log a file as seen via ntfs-3g)
    ntfs_fixture.py forget PATH LOG                (log a deletion)
    ntfs_fixture.py weave MOUNT CLUSTER ROUNDS PATH:KIND:N,N.. ...
                                   (grow files in turn so their clusters interleave)
    ntfs_fixture.py weave-clusters CLUSTER ROUNDS PATH:KIND:N,N.. ...  (clusters a weave takes)
    ntfs_fixture.py grow MOUNT PATH KIND CLUSTER COUNT   (append clusters; 0 = until full)
    ntfs_fixture.py finish IMAGE LOG MANIFEST [--summary FILE]
    ntfs_fixture.py dump IMAGE [RECORD...]

`finish` fails (exit 1) on any mismatch, so a manifest is only written when
it is true for the image.  For deleted files it decides "intact": every data
cluster is still free in $Bitmap, claimed by no in-use record, and the bytes
read back through the deleted record's own run list hash to the sha256 the
file had before deletion.
"""
import hashlib
import json
import struct
import sys

AT_STANDARD_INFORMATION = 0x10
AT_ATTRIBUTE_LIST = 0x20
AT_FILE_NAME = 0x30
AT_DATA = 0x80
AT_INDEX_ROOT = 0x90
AT_INDEX_ALLOCATION = 0xA0
AT_BITMAP = 0xB0

ATTR_NAMES = {0x10: "$STANDARD_INFORMATION", 0x20: "$ATTRIBUTE_LIST",
              0x30: "$FILE_NAME", 0x40: "$OBJECT_ID", 0x50: "$SECURITY_DESCRIPTOR",
              0x60: "$VOLUME_NAME", 0x70: "$VOLUME_INFORMATION", 0x80: "$DATA",
              0x90: "$INDEX_ROOT", 0xA0: "$INDEX_ALLOCATION", 0xB0: "$BITMAP",
              0xC0: "$REPARSE_POINT", 0xD0: "$EA_INFORMATION", 0xE0: "$EA",
              0x100: "$LOGGED_UTILITY_STREAM"}


class FixtureError(Exception):
    pass


def decode_runlist(buf, pos, vcn=0):
    """Mapping pairs -> list of (vcn, lcn or None for sparse, length).
    Each attribute extent starts its LCN deltas from 0 and its VCNs at the
    extent's lowest VCN."""
    runs = []
    lcn = 0
    while pos < len(buf):
        header = buf[pos]
        if header == 0:
            break
        len_size = header & 0x0F
        off_size = header >> 4
        pos += 1
        length = int.from_bytes(buf[pos:pos + len_size], "little", signed=False)
        pos += len_size
        if off_size:
            delta = int.from_bytes(buf[pos:pos + off_size], "little", signed=True)
            pos += off_size
            lcn += delta
            runs.append((vcn, lcn, length))
        else:
            runs.append((vcn, None, length))
        vcn += length
    return runs


def lznt1_decompress(src, out_limit):
    """Decompress one LZNT1 compression unit."""
    out = bytearray()
    pos = 0
    while pos + 2 <= len(src) and len(out) < out_limit:
        header = struct.unpack_from("<H", src, pos)[0]
        pos += 2
        if header == 0:
            break
        size = (header & 0x0FFF) + 1
        chunk = src[pos:pos + size]
        pos += size
        if not header & 0x8000:
            out += chunk
            continue
        start = len(out)
        cpos = 0
        while cpos < len(chunk):
            flags = chunk[cpos]
            cpos += 1
            for bit in range(8):
                if cpos >= len(chunk):
                    break
                if not flags & (1 << bit):
                    out.append(chunk[cpos])
                    cpos += 1
                    continue
                token = struct.unpack_from("<H", chunk, cpos)[0]
                cpos += 2
                done = len(out) - start
                # the length field shrinks as the position in the chunk grows
                lbits = 12
                d = done - 1
                while d >= 0x10:
                    lbits -= 1
                    d >>= 1
                length = (token & ((1 << lbits) - 1)) + 3
                back = (token >> lbits) + 1
                for _ in range(length):
                    out.append(out[-back])
    return bytes(out[:out_limit])


class Attr:
    def __init__(self, rec_no, raw, off):
        self.record = rec_no
        (self.type, self.length, self.nonres, name_len, name_off,
         self.flags, self.instance) = struct.unpack_from("<IIBBHHH", raw, off)
        self.name = raw[off + name_off:off + name_off + 2 * name_len].decode("utf-16-le")
        body = raw[off:off + self.length]
        if self.nonres:
            (self.lowest_vcn, self.highest_vcn, mp_off, self.comp_unit) = struct.unpack_from(
                "<qqHH", body, 16)
            (self.alloc_size, self.data_size, self.init_size) = struct.unpack_from("<qqq", body, 40)
            self.runs = decode_runlist(body, mp_off, self.lowest_vcn)
            self.value = None
        else:
            vlen, voff = struct.unpack_from("<IH", body, 16)
            self.value = bytes(body[voff:voff + vlen])
            self.data_size = vlen
            self.runs = None
            self.lowest_vcn = 0

    def describe(self):
        s = "%s(0x%x)" % (ATTR_NAMES.get(self.type, "?"), self.type)
        if self.name:
            s += " name=%r" % self.name
        if self.nonres:
            s += " nonresident vcn %d-%d size=%d alloc=%d init=%d cu=%d flags=0x%x runs=%s" % (
                self.lowest_vcn, self.highest_vcn, self.data_size, self.alloc_size,
                self.init_size, self.comp_unit, self.flags,
                [(v, (hex(l) if l is not None else "sparse"), n) for v, l, n in self.runs])
        else:
            s += " resident size=%d" % self.data_size
        return s


class FileName:
    def __init__(self, value):
        ref = struct.unpack_from("<Q", value, 0)[0]
        self.parent = ref & 0xFFFFFFFFFFFF
        self.parent_seq = ref >> 48
        self.alloc_size, self.real_size, self.fflags = struct.unpack_from("<qqI", value, 40)
        nlen = value[64]
        self.namespace = value[65]
        self.name = value[66:66 + 2 * nlen].decode("utf-16-le", errors="surrogatepass")


class Record:
    def __init__(self, no, raw):
        self.no = no
        self.valid = raw[:4] == b"FILE"
        self.attrs = []
        if not self.valid:
            return
        usa_off, usa_cnt = struct.unpack_from("<HH", raw, 4)
        raw = bytearray(raw)
        usn = raw[usa_off:usa_off + 2]
        for i in range(1, usa_cnt):
            end = i * 512 - 2
            if raw[end:end + 2] != usn:
                raise FixtureError("record %d: fixup mismatch" % no)
            raw[end:end + 2] = raw[usa_off + 2 * i:usa_off + 2 * i + 2]
        (self.seq, self.links, attr_off, self.flags, self.used,
         self.allocated) = struct.unpack_from("<HHHHII", raw, 16)
        base = struct.unpack_from("<Q", raw, 32)[0]
        self.base = base & 0xFFFFFFFFFFFF
        self.in_use = bool(self.flags & 1)
        self.is_dir = bool(self.flags & 2)
        off = attr_off
        while off + 8 <= len(raw):
            atype = struct.unpack_from("<I", raw, off)[0]
            if atype == 0xFFFFFFFF:
                break
            alen = struct.unpack_from("<I", raw, off + 4)[0]
            if alen == 0 or off + alen > len(raw):
                break
            self.attrs.append(Attr(no, raw, off))
            off += alen


class Volume:
    def __init__(self, path):
        self.f = open(path, "rb")
        boot = self.read(0, 512)
        if boot[3:11] != b"NTFS    ":
            raise FixtureError("not an NTFS boot sector")
        self.bps = struct.unpack_from("<H", boot, 11)[0]
        self.spc = boot[13]
        self.cluster = self.bps * self.spc
        self.total_sectors = struct.unpack_from("<q", boot, 40)[0]
        self.mft_lcn = struct.unpack_from("<q", boot, 48)[0]
        cpr = struct.unpack_from("<b", boot, 64)[0]
        self.record_size = (1 << -cpr) if cpr < 0 else cpr * self.cluster
        cpi = struct.unpack_from("<b", boot, 68)[0]
        self.index_size = (1 << -cpi) if cpi < 0 else cpi * self.cluster
        self.total_clusters = self.total_sectors // self.spc
        rec0 = Record(0, self.read(self.mft_lcn * self.cluster, self.record_size))
        data = [a for a in rec0.attrs if a.type == AT_DATA and a.name == ""][0]
        self.mft_runs = data.runs
        self.mft_bytes = self.read_runs(data.runs, data.data_size)
        self.nrecords = len(self.mft_bytes) // self.record_size
        self.records = {}
        for i in range(self.nrecords):
            raw = self.mft_bytes[i * self.record_size:(i + 1) * self.record_size]
            self.records[i] = Record(i, raw)
        bmp = self.file_data(6)
        self.bitmap = bmp

    def read(self, off, n):
        self.f.seek(off)
        return self.f.read(n)

    def read_runs(self, runs, size):
        out = bytearray()
        for vcn, lcn, n in runs:
            if lcn is None:
                out += bytes(n * self.cluster)
            else:
                out += self.read(lcn * self.cluster, n * self.cluster)
        return bytes(out[:size])

    def cluster_free(self, lcn):
        return not (self.bitmap[lcn >> 3] >> (lcn & 7)) & 1

    # -- attribute gathering (base record + extension records) ------------
    def all_attrs(self, no):
        base = self.records[no]
        attrs = list(base.attrs)
        lists = [a for a in base.attrs if a.type == AT_ATTRIBUTE_LIST]
        ext = set()
        if lists:
            al = lists[0]
            raw = al.value if not al.nonres else self.read_runs(al.runs, al.data_size)
            pos = 0
            while pos + 26 <= len(raw):
                atype, alen = struct.unpack_from("<IH", raw, pos)
                if alen == 0:
                    break
                ref = struct.unpack_from("<Q", raw, pos + 16)[0] & 0xFFFFFFFFFFFF
                if ref != no:
                    ext.add(ref)
                pos += alen
        for e in sorted(ext):
            rec = self.records[e]
            attrs += rec.attrs
        return attrs, sorted(ext)

    def stream_attrs(self, no, name):
        attrs, _ = self.all_attrs(no)
        parts = [a for a in attrs if a.type == AT_DATA and a.name == name]
        parts.sort(key=lambda a: a.lowest_vcn)
        return parts

    def stream_runs(self, parts):
        runs = []
        for a in parts:
            runs += a.runs
        return runs

    def stream_data(self, no, name=""):
        parts = self.stream_attrs(no, name)
        if not parts:
            return None
        first = parts[0]
        if not first.nonres:
            return first.value
        runs = self.stream_runs(parts)
        size = first.data_size
        init = first.init_size
        if first.flags & 0x0001 and first.comp_unit:
            data = self.read_compressed(runs, first.comp_unit, size)
        else:
            data = self.read_runs(runs, size)
        if init < size:
            data = data[:init] + bytes(size - init)
        return data

    def read_compressed(self, runs, cu_shift, size):
        cu = 1 << cu_shift
        # expand to per-cluster lcn list
        lcns = []
        for vcn, lcn, n in runs:
            for i in range(n):
                lcns.append(None if lcn is None else lcn + i)
        out = bytearray()
        for u in range(0, len(lcns), cu):
            unit = lcns[u:u + cu]
            real = [l for l in unit if l is not None]
            if not real:
                out += bytes(cu * self.cluster)
            elif len(real) == len(unit) == cu:
                out += b"".join(self.read(l * self.cluster, self.cluster) for l in unit)
            else:
                src = b"".join(self.read(l * self.cluster, self.cluster) for l in real)
                dec = lznt1_decompress(src, cu * self.cluster)
                out += dec + bytes(cu * self.cluster - len(dec))
        return bytes(out[:size])

    def file_data(self, no, name=""):
        return self.stream_data(no, name)

    def file_names(self, no):
        attrs, _ = self.all_attrs(no)
        return [FileName(a.value) for a in attrs if a.type == AT_FILE_NAME]

    def live_claimed_clusters(self):
        claimed = {}
        for no, rec in self.records.items():
            if not rec.valid or not rec.in_use:
                continue
            for a in rec.attrs:
                if a.nonres:
                    for vcn, lcn, n in a.runs:
                        if lcn is None:
                            continue
                        for c in range(lcn, lcn + n):
                            claimed.setdefault(c, no)
        return claimed


def utf16_len(s):
    return len(s.encode("utf-16-le")) // 2


def replay(log_path):
    """Apply the build log: "add" entries (a re-add of a live path updates
    it), "delete" marks a path and everything below it deleted."""
    entries = []
    with open(log_path, encoding="utf-8") as f:
        for line in f:
            line = line.strip()
            if not line:
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
            else:
                raise FixtureError("bad log op %r" % kind)
    return entries


def record(mount, rel, log_path, extra_json):
    """Log what the mounted volume shows for REL (inode = MFT record)."""
    import os
    extra = json.loads(extra_json) if extra_json else {}
    full = os.path.join(mount, rel.lstrip("/"))
    st = os.lstat(full)
    folder = os.path.isdir(full)
    e = {"op": "add", "path": rel, "folder": folder, "deleted": False,
         "mft_record": st.st_ino}
    if folder:
        e["size"] = 0
    else:
        with open(full, "rb") as f:
            data = f.read()
        e["size"] = len(data)
        e["sha256"] = hashlib.sha256(data).hexdigest()
        if len(data) != st.st_size:
            raise FixtureError("%s: read %d bytes, stat says %d" % (rel, len(data), st.st_size))
    if "stream" in extra:
        name = extra.pop("stream")
        sdata = os.getxattr(full, "user." + name, follow_symlinks=False)
        e["stream"] = {"name": name, "size": len(sdata),
                       "sha256": hashlib.sha256(sdata).hexdigest()}
    e.update(extra)
    with open(log_path, "a", encoding="utf-8") as f:
        f.write(json.dumps(e, ensure_ascii=False) + "\n")


def forget(rel, log_path):
    with open(log_path, "a", encoding="utf-8") as f:
        f.write(json.dumps({"op": "delete", "path": rel}, ensure_ascii=False) + "\n")


_STREAMS = {}


def _stream_for(kind, path):
    import os
    import runpy
    if (kind, path) not in _STREAMS:
        here = os.path.dirname(os.path.abspath(__file__))
        streamer = runpy.run_path(os.path.join(here, "gen-content.py"))["Streamer"]
        _STREAMS[(kind, path)] = streamer(kind, path)
    return _STREAMS[(kind, path)]


def _write_more(fd, path, kind, nbytes):
    """Append nbytes of the KIND stream (seeded by the path) to an open file
    in one write() call, so ntfs-3g allocates for it at once.  Returns the
    number of bytes written (short on ENOSPC)."""
    import errno
    import os
    pos = os.lseek(fd, 0, os.SEEK_END)
    data = _stream_for(kind, path).read(pos, nbytes)
    try:
        return os.write(fd, data)
    except OSError as exc:
        if exc.errno != errno.ENOSPC:
            raise
        return 0


def weave_plan(cluster, rounds, items):
    """Bytes each weave round writes to each file."""
    plan = []
    for item in items:
        path, kind, pattern = item.split(":")
        pattern = [int(x) for x in pattern.split(",")]
        sizes = []
        for r in range(rounds):
            n = pattern[r % len(pattern)] * cluster
            if r == 0:
                # start non-resident at once: a first write that would fit in
                # the MFT record is allocated differently when it moves out
                n = max(n, 2048)
            sizes.append(n)
        plan.append((path, kind, sizes))
    return plan


def weave(mount, cluster, rounds, items):
    """Grow several files in turn, a few clusters at a time, so that their
    allocations interleave.  items: PATH:KIND:N1,N2,... (clusters per round,
    cycled)."""
    import os
    files = []
    for path, kind, sizes in weave_plan(cluster, rounds, items):
        fd = os.open(os.path.join(mount, path.lstrip("/")), os.O_WRONLY | os.O_CREAT, 0o644)
        files.append((fd, path, kind, sizes))
    for r in range(rounds):
        for fd, path, kind, sizes in files:
            if _write_more(fd, path, kind, sizes[r]) != sizes[r]:
                raise FixtureError("%s: short write while weaving" % path)
    for fd, _, _, _ in files:
        os.close(fd)


def weave_clusters(cluster, rounds, items):
    print(sum(sum(sizes) for _, _, sizes in weave_plan(cluster, rounds, items)) // cluster)


def grow(mount, path, kind, cluster, count):
    """Append COUNT clusters one at a time (count 0: until the volume is
    full).  Prints the number of clusters written."""
    import os
    fd = os.open(os.path.join(mount, path.lstrip("/")), os.O_WRONLY | os.O_CREAT, 0o644)
    done = 0
    while count == 0 or done < count:
        if _write_more(fd, path, kind, cluster) != cluster:
            if count:
                raise FixtureError("%s: volume full after %d of %d clusters" % (path, done, count))
            break
        done += 1
    os.close(fd)
    print(done)


def finish(image, log_path, out_path, summary_path=None):
    vol = Volume(image)
    claimed = vol.live_claimed_clusters()
    entries = replay(log_path)
    by_path = {"/": 5}
    for e in entries:
        if e["folder"]:
            by_path[e["path"]] = e["mft_record"]
    errors = []
    summary = []

    def err(msg):
        errors.append(msg)

    for e in entries:
        path = e["path"]
        no = e["mft_record"]
        rec = vol.records.get(no)
        if rec is None or not rec.valid:
            err("%s: record %d not a FILE record" % (path, no))
            continue
        if e["deleted"] == rec.in_use:
            err("%s: record %d in_use=%s but deleted=%s" % (path, no, rec.in_use, e["deleted"]))
        if e["folder"] != rec.is_dir:
            err("%s: record %d is_dir=%s" % (path, no, rec.is_dir))
        parent_path, base = path.rsplit("/", 1)
        parent_path = parent_path or "/"
        parent_no = by_path.get(parent_path)
        names = vol.file_names(no)
        match = [n for n in names if n.name == base and n.parent == parent_no]
        if not match:
            err("%s: record %d has no $FILE_NAME %r under record %s (has %s)" % (
                path, no, base, parent_no, [(n.name, n.parent, n.namespace) for n in names]))
            continue
        notes = list(e.get("notes", []))
        spaces = sorted({n.namespace for n in names})
        e["namespaces"] = spaces
        if 2 in spaces:
            e["dos_name"] = [n.name for n in names if n.namespace == 2][0]
            notes.append("short-name")
        attrs, ext = vol.all_attrs(no)
        if any(a.type == AT_ATTRIBUTE_LIST for a in vol.records[no].attrs):
            notes.append("attribute-list")
            e["extension_records"] = ext
        if e["folder"]:
            if any(a.type == AT_INDEX_ALLOCATION for a in attrs):
                notes.append("index-allocation")
        else:
            parts = vol.stream_attrs(no, "")
            if not parts:
                err("%s: no unnamed $DATA" % path)
                continue
            first = parts[0]
            if first.data_size != e["size"]:
                err("%s: $DATA size %d != %d" % (path, first.data_size, e["size"]))
            if not first.nonres:
                notes.append("resident")
            else:
                runs = vol.stream_runs(parts)
                real = [r for r in runs if r[1] is not None]
                if first.flags & 0x8000:
                    notes.append("sparse")
                if first.flags & 0x0001:
                    notes.append("compressed")
                if len(parts) > 1:
                    notes.append("data-extents")
                # fragmentation: count the physically separate pieces
                frags = 0
                back = 0
                prev_end = None
                prev_lcn = None
                for vcn, lcn, n in real:
                    if prev_end is None or lcn != prev_end:
                        frags += 1
                    if prev_lcn is not None and lcn < prev_lcn:
                        back += 1
                    prev_end = lcn + n
                    prev_lcn = lcn
                if frags > 1 and "compressed" not in notes and "sparse" not in notes:
                    notes.append("fragmented")
                e["_runlist"] = runs
                e["runs"] = len(runs)
                e["fragments"] = frags
                e["backward_jumps"] = back
                clusters = [c for _, lcn, n in real for c in range(lcn, lcn + n)]
                e["clusters"] = len(clusters)
                if e["deleted"]:
                    free = all(vol.cluster_free(c) for c in clusters)
                    unclaimed = all(c not in claimed for c in clusters)
                    e["_clusters_free"] = free and unclaimed
            data = vol.file_data(no)
            sha = hashlib.sha256(data).hexdigest()
            if e["deleted"]:
                ok = sha == e["sha256"]
                if first.nonres:
                    ok = e.pop("_clusters_free") and ok
                e["intact"] = bool(ok)
            else:
                if sha != e["sha256"]:
                    err("%s: live data read from image hashes %s, expected %s" % (path, sha, e["sha256"]))
                e["intact"] = True
            if "stream" in e:
                st = e["stream"]
                sdata = vol.file_data(no, st["name"])
                if sdata is None:
                    err("%s: no named stream %r" % (path, st["name"]))
                elif hashlib.sha256(sdata).hexdigest() != st["sha256"] or len(sdata) != st["size"]:
                    err("%s: named stream %r differs" % (path, st["name"]))
                else:
                    notes.append("named-stream")
        if e["folder"]:
            e["intact"] = not e["deleted"] or True
        if len([n for n in names if n.namespace != 2]) > 1:
            notes.append("hardlink")
        if utf16_len(base) >= 100:
            notes.append("long-name")
        if any(ord(ch) > 127 for ch in base):
            notes.append("unicode")
        e["notes"] = sorted(set(notes))
        if e.get("check"):
            for chk in e.pop("check"):
                if chk == "backward-jump" and not e.get("backward_jumps"):
                    err("%s: expected a backward jump in the run list" % path)
                if chk == "many-runs" and e.get("fragments", 0) < 8:
                    err("%s: expected many runs, got %s" % (path, e.get("fragments")))
                if chk == "attribute-list" and "attribute-list" not in e["notes"]:
                    err("%s: expected an $ATTRIBUTE_LIST" % path)
                if chk == "data-extents" and "data-extents" not in e["notes"]:
                    err("%s: expected $DATA split over several records" % path)
                if chk == "sparse" and "sparse" not in e["notes"]:
                    err("%s: expected sparse $DATA" % path)
                if chk == "compressed" and "compressed" not in e["notes"]:
                    err("%s: expected compressed $DATA" % path)
                if chk == "resident" and "resident" not in e["notes"]:
                    err("%s: expected resident $DATA" % path)
                if chk == "nonresident" and "resident" in e["notes"]:
                    err("%s: expected non-resident $DATA" % path)
                if chk == "intact" and not e.get("intact"):
                    err("%s: expected the deleted data to be intact" % path)
                if chk == "dos-name" and "dos_name" not in e:
                    err("%s: expected a DOS name" % path)
        line = "%s%s record %d: %s" % ("deleted " if e["deleted"] else "", path, no,
                                       ",".join(e["notes"]) or "-")
        if e["deleted"] and not e["folder"]:
            line += " intact=%s" % e.get("intact")
        if "dos_name" in e:
            line += " dos_name=%s" % e["dos_name"]
        line += " namespaces=%s" % spaces
        if e.get("extension_records"):
            line += " extension_records=%s" % e["extension_records"]
        rl = e.pop("_runlist", None)
        if rl is not None:
            if len(rl) > 40:
                shown = rl[:20] + [("...",)] + rl[-20:]
            else:
                shown = rl
            line += "\n      runs (vcn,lcn,len): " + " ".join(
                "..." if len(r) == 1 else "(%d,%s,%d)" % (r[0], "sparse" if r[1] is None else r[1], r[2])
                for r in shown)
        summary.append(line)
    if errors:
        for m in errors:
            print("ERROR:", m, file=sys.stderr)
        raise SystemExit(1)
    order = ["path", "folder", "size", "sha256", "deleted", "intact", "mft_record", "notes",
             "link_group", "stream"]
    label = None
    for a in vol.records[3].attrs:
        if a.type == 0x60:
            label = a.value.decode("utf-16-le")
    with open(out_path, "w", encoding="utf-8") as out:
        root = {"path": "/", "folder": True, "size": 0, "deleted": False, "intact": True,
                "mft_record": 5, "notes": ["root"] + (["label"] if label else []),
                "label": label}
        out.write(json.dumps(root, ensure_ascii=False) + "\n")
        for e in entries:
            if e["folder"]:
                e["size"] = 0
                e.pop("sha256", None)
                e["intact"] = True
            obj = {k: e[k] for k in order if k in e}
            for k in sorted(e):
                if k not in obj:
                    obj[k] = e[k]
            out.write(json.dumps(obj, ensure_ascii=False, sort_keys=False) + "\n")
    if summary_path:
        with open(summary_path, "w") as s:
            s.write("cluster %d bytes, sector %d, MFT record %d, index record %d, "
                    "%d clusters, $MFT at LCN %d\n" % (vol.cluster, vol.bps, vol.record_size,
                                                      vol.index_size, vol.total_clusters, vol.mft_lcn))
            s.write("\n".join(summary) + "\n")


def dump(image, recs):
    vol = Volume(image)
    print("bytes/sector %d, cluster %d, record %d, index record %d, clusters %d, $MFT at LCN %d"
          % (vol.bps, vol.cluster, vol.record_size, vol.index_size, vol.total_clusters, vol.mft_lcn))
    want = [int(r) for r in recs] if recs else [n for n, r in vol.records.items() if r.valid]
    for no in want:
        r = vol.records[no]
        if not r.valid:
            print("record %d: not a FILE record" % no)
            continue
        print("record %d seq %d links %d flags 0x%x base %d" % (no, r.seq, r.links, r.flags, r.base))
        for a in r.attrs:
            line = "   " + a.describe()
            if a.type == AT_FILE_NAME:
                fn = FileName(a.value)
                line += " -> %r parent %d ns %d" % (fn.name, fn.parent, fn.namespace)
            print(line)


if __name__ == "__main__":
    if len(sys.argv) >= 5 and sys.argv[1] == "finish":
        summary = None
        if len(sys.argv) == 7 and sys.argv[5] == "--summary":
            summary = sys.argv[6]
        finish(sys.argv[2], sys.argv[3], sys.argv[4], summary)
    elif len(sys.argv) in (5, 6) and sys.argv[1] == "record":
        record(sys.argv[2], sys.argv[3], sys.argv[4], sys.argv[5] if len(sys.argv) == 6 else "")
    elif len(sys.argv) >= 5 and sys.argv[1] == "weave":
        weave(sys.argv[2], int(sys.argv[3]), int(sys.argv[4]), sys.argv[5:])
    elif len(sys.argv) >= 4 and sys.argv[1] == "weave-clusters":
        weave_clusters(int(sys.argv[2]), int(sys.argv[3]), sys.argv[4:])
    elif len(sys.argv) == 7 and sys.argv[1] == "grow":
        grow(sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5]), int(sys.argv[6]))
    elif len(sys.argv) == 4 and sys.argv[1] == "forget":
        forget(sys.argv[2], sys.argv[3])
    elif len(sys.argv) >= 3 and sys.argv[1] == "dump":
        dump(sys.argv[2], sys.argv[3:])
    else:
        print(__doc__)
        raise SystemExit(2)
