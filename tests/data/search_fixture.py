#!/usr/bin/env python3
"""Reader that checks the search fixture images (make-search-images.sh) and
writes their manifests.  It reads the raw images itself, with the readers of
ntfs_fixture.py and fat_fixture.py, and fails (exit 1) on any claim it cannot
confirm, so a manifest is only written when it is true for the image.

    search_fixture.py boot-sectors DISK SFDISK.json SCRIPT OUT.json
                      --volume SLOT:FS:MANIFEST ... [--summary FILE]
        every boot sector on a disk whose partition table was wiped
    search_fixture.py ntfs-lost OLD.img OLD.log NEW.img OUT.jsonl
                      [--require TAG,...] [--summary FILE]
        old MFT records left in free clusters of a re-formatted NTFS volume
    search_fixture.py fat-lost OLD.img OLD.log NEW.img OUT.jsonl
                      [--crafted OFFSET] [--require TAG,...] [--summary FILE]
        old directory clusters left in free clusters of a re-formatted FAT
    search_fixture.py carve-fill FORMATS SAMPLES IMAGE PLAN.jsonl
        write the filler of the carving image and the plan of what goes where
    search_fixture.py carve-check FORMATS SAMPLES IMAGE PLAN.jsonl OUT.jsonl
                      [--summary FILE]
        check the planted samples and every sector start of the image
    search_fixture.py fat-info IMAGE PATH|#CLUSTER|free
        first cluster and offset of an entry, offset of a cluster, first free
        cluster (for the build script)

OLD.img is a copy of the volume made just before it was formatted again,
OLD.log the build log of ntfs_fixture.py / fat_fixture.py for it.
"""
import hashlib
import json
import os
import random
import runpy
import struct
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
sys.dont_write_bytecode = True      # leave no __pycache__ beside the fixtures
import fat_fixture  # noqa: E402
import ntfs_fixture  # noqa: E402

SECTOR = 512
SCAN_BUFFER = 512 * SECTOR      # the scanner reads 512 sectors at a time


class Fail(Exception):
    pass


def sha(data):
    return hashlib.sha256(data).hexdigest()


def options(args, multi=("--volume", "--crafted")):
    pos, opt = [], {}
    i = 0
    while i < len(args):
        if args[i].startswith("--"):
            key = args[i]
            if key in multi:
                opt.setdefault(key, []).append(args[i + 1])
            else:
                opt[key] = args[i + 1]
            i += 2
        else:
            pos.append(args[i])
            i += 1
    return pos, opt


def write_jsonl(path, rows):
    with open(path, "w", encoding="utf-8") as f:
        for r in rows:
            f.write(json.dumps(r, ensure_ascii=False) + "\n")


# ======================================================= wiped partition table
def classify_boot(sec):
    """(fs, facts) for a sector that looks like an NTFS or FAT boot sector,
    else None."""
    if sec[510:512] != b"\x55\xaa":
        return None
    if sec[3:11] == b"NTFS    ":
        bps = struct.unpack_from("<H", sec, 11)[0]
        spc = sec[13]
        return "NTFS", {
            "bytes_per_sector": bps, "cluster_size": bps * spc,
            "total_sectors": struct.unpack_from("<q", sec, 40)[0],
            "hidden_sectors": struct.unpack_from("<I", sec, 28)[0],
            "mft_lcn": struct.unpack_from("<q", sec, 48)[0],
        }
    if sec[0] not in (0xEB, 0xE9):
        return None
    bps = struct.unpack_from("<H", sec, 11)[0]
    spc = sec[13]
    reserved = struct.unpack_from("<H", sec, 14)[0]
    nfats = sec[16]
    if bps not in (512, 1024, 2048, 4096) or spc == 0 or spc & (spc - 1) or reserved == 0 \
            or nfats not in (1, 2) or sec[21] not in (0xF0,) + tuple(range(0xF8, 0x100)):
        return None
    root_entries = struct.unpack_from("<H", sec, 17)[0]
    total16 = struct.unpack_from("<H", sec, 19)[0]
    fatsz16 = struct.unpack_from("<H", sec, 22)[0]
    total32 = struct.unpack_from("<I", sec, 32)[0]
    total = total16 or total32
    fatsz = fatsz16 or struct.unpack_from("<I", sec, 36)[0]
    root_sectors = (root_entries * 32 + bps - 1) // bps
    data_start = reserved + nfats * fatsz + root_sectors
    clusters = (total - data_start) // spc
    fs = "FAT12" if clusters < 4085 else "FAT16" if clusters < 65525 else "FAT32"
    label_at = 82 if fatsz16 == 0 else 54
    named = sec[label_at:label_at + 8].decode("ascii", "replace").rstrip()
    if named != fs:
        raise Fail("boot sector says %r but has %d clusters (%s)" % (named, clusters, fs))
    facts = {"bytes_per_sector": bps, "cluster_size": bps * spc, "total_sectors": total,
             "hidden_sectors": struct.unpack_from("<I", sec, 28)[0], "clusters": clusters,
             "reserved_sectors": reserved}
    if fs == "FAT32":
        facts["backup_boot_sector"] = struct.unpack_from("<H", sec, 50)[0]
        facts["fsinfo_sector"] = struct.unpack_from("<H", sec, 48)[0]
    return fs, facts


def boot_sectors(args):
    pos, opt = options(args)
    disk_path, sfj, script_path, out_path = pos
    disk = open(disk_path, "rb").read()
    if len(disk) % SECTOR:
        raise Fail("disk size is not a multiple of 512")
    nsec = len(disk) // SECTOR
    table = json.load(open(sfj))["partitiontable"]
    volumes = {}
    for v in opt.get("--volume", []):
        slot, fs, man = v.split(":")
        volumes[int(slot)] = (fs, man)
    parts = []
    for p in table["partitions"]:
        slot = int(p["node"].rsplit("img", 1)[1])
        fs, man = volumes[slot]
        parts.append({"slot": slot, "type": "0x%02x" % int(p["type"], 16),
                      "first_sector": p["start"], "sectors": p["size"], "fs": fs,
                      "manifest": man})
    if disk[446:512] != bytes(66):
        raise Fail("sector 0 bytes 446-511 are not all zero")

    # every sector of the disk
    found = []
    other_sigs = []
    for s in range(nsec):
        sec = disk[s * SECTOR:(s + 1) * SECTOR]
        got = classify_boot(sec)
        if got is None:
            if sec[510:512] == b"\x55\xaa":
                other_sigs.append((s, bytes(sec[:4])))
            continue
        fs, facts = got
        found.append((s, fs, facts))

    # what the partitions say there must be
    expected = {}
    for p in parts:
        first, n = p["first_sector"], p["sectors"]
        if p["fs"] == "NTFS":
            expected[first] = (p, False)
            expected[first + n - 1] = (p, True)
        else:
            expected[first] = (p, False)
            if p["fs"] == "FAT32":
                expected[first + 6] = (p, True)
    if sorted(s for s, _, _ in found) != sorted(expected):
        raise Fail("boot sectors found at %s, expected at %s" % (
            [s for s, _, _ in found], sorted(expected)))
    rows = []
    lines = []
    for s, fs, facts in found:
        p, backup = expected[s]
        if fs != p["fs"]:
            raise Fail("sector %d: %s, partition %d is %s" % (s, fs, p["slot"], p["fs"]))
        if facts["hidden_sectors"] != p["first_sector"]:
            raise Fail("sector %d: hidden sectors %d" % (s, facts["hidden_sectors"]))
        if fs == "NTFS":
            if facts["total_sectors"] != p["sectors"] - 1:
                raise Fail("sector %d: NTFS total sectors %d" % (s, facts["total_sectors"]))
            start = s - facts["total_sectors"] if backup else s
            at = s * SECTOR + facts["mft_lcn"] * facts["cluster_size"]
            mft_ok = disk[at:at + 5] == b"FILE0"
            if not backup and not mft_ok:
                raise Fail("sector %d: no FILE0 at the $MFT" % s)
            real_mft = start * SECTOR + facts["mft_lcn"] * facts["cluster_size"]
            if disk[real_mft:real_mft + 5] != b"FILE0":
                raise Fail("sector %d: volume start %d has no $MFT" % (s, start))
        else:
            if facts["total_sectors"] != p["sectors"]:
                raise Fail("sector %d: FAT total sectors %d" % (s, facts["total_sectors"]))
            start = s - facts.get("backup_boot_sector", 0) if backup else s
            mft_ok = False
        if start != p["first_sector"]:
            raise Fail("sector %d: volume start %d" % (s, start))
        row = {"sector": s, "fs": fs, "total_sectors": facts["total_sectors"], "backup": backup,
               "mft_record_at_computed_position": mft_ok, "volume_start": start,
               "hidden_sectors": facts["hidden_sectors"], "cluster_size": facts["cluster_size"],
               "partition": p["slot"]}
        rows.append(row)
        lines.append("sector %d: %s%s, total sectors %d, cluster %d, hidden sectors %d, "
                     "volume starts at %d (partition %d)%s" % (
                         s, fs, " backup" if backup else "", facts["total_sectors"],
                         facts["cluster_size"], facts["hidden_sectors"], start, p["slot"],
                         ", $MFT at LCN %d: FILE0 at sector+LCN*cluster %s" % (
                             facts["mft_lcn"], mft_ok) if fs == "NTFS" else ""))
    doc = {"sector_size": SECTOR, "disk_sectors": nsec, "signature": False,
           "table_zeroed": True,
           "disk_id": "0x%08x" % struct.unpack_from("<I", disk, 440)[0],
           "boot_sectors": rows, "partitions_before_wipe": parts,
           "notes": ["sector 0 bytes 446-511 (the four table entries and the 0x55 0xAA "
                     "signature) were zeroed after the volumes were made",
                     "mft_record_at_computed_position is false for every FAT entry"],
           "sfdisk_script": open(script_path).read()}
    with open(out_path, "w") as f:
        json.dump(doc, f, indent=2)
        f.write("\n")
    if "--summary" in opt:
        with open(opt["--summary"], "w") as f:
            f.write("boot sectors found by reading every sector of the disk:\n")
            f.write("\n".join("  " + x for x in lines) + "\n")
            f.write("other sectors ending in 55 AA (not boot sectors): %s\n" % (
                ", ".join("%d (%s)" % (s, head.hex()) for s, head in other_sigs) or "none"))


# ======================================================= NTFS re-format
def ntfs_path(vol, no, seen=()):
    if no == 5:
        return ""
    rec = vol.records.get(no)
    if rec is None or not rec.valid or no in seen:
        return None
    names = vol.file_names(no)
    if not names:
        return None
    fn = pick_name(names)
    parent = ntfs_path(vol, fn.parent, seen + (no,))
    if parent is None:
        return None
    return parent + "/" + fn.name


def pick_name(names):
    """The Win32 name when there is one (namespace 1, or 3 = Win32 and DOS),
    else the last $FILE_NAME of the record."""
    win32 = [n for n in names if n.namespace in (1, 3)]
    return win32[0] if win32 else names[-1]


def extension(name):
    i = name.rfind(".")
    return name[i:] if i >= 0 else ""


def ntfs_lost(args):
    pos, opt = options(args)
    old_path, log_path, new_path, out_path = pos
    require = [t for t in opt.get("--require", "").split(",") if t]
    old = ntfs_fixture.Volume(old_path)
    new = ntfs_fixture.Volume(new_path)
    old_bytes = open(old_path, "rb").read()
    data = open(new_path, "rb").read()
    if len(old_bytes) != len(data):
        raise Fail("old and new volume differ in size")
    logged = {}
    for e in ntfs_fixture.replay(log_path):
        logged.setdefault(e["mft_record"], []).append(e)

    # where the old records were: byte offset -> old record number
    old_at = {}
    for vcn, lcn, n in old.mft_runs:
        for k in range(n * old.cluster // old.record_size):
            no = (vcn * old.cluster) // old.record_size + k
            if no < old.nrecords:
                old_at[lcn * old.cluster + k * old.record_size] = no
    new_mft = set()
    for vcn, lcn, n in new.mft_runs:
        new_mft.update(range(lcn, lcn + n))
    rec0 = ntfs_fixture.Record(0, data[new.mft_lcn * new.cluster:][:new.record_size])
    mdata = [a for a in rec0.attrs if a.type == ntfs_fixture.AT_DATA and a.name == ""][0]

    rows = []
    in_new_mft = []
    in_used = []
    no_name = []
    torn = []
    for off in range(0, len(data), SECTOR):
        if data[off:off + 5] != b"FILE0":
            continue
        lcn = off // new.cluster
        if lcn in new_mft:
            in_new_mft.append(off)
            continue
        if not new.cluster_free(lcn):
            in_used.append(off)
            continue
        raw = data[off:off + old.record_size]
        if struct.unpack_from("<I", raw, 0x1C)[0] != old.record_size:
            raise Fail("FILE0 at %d: allocated size is not %d" % (off, old.record_size))
        if raw != old_bytes[off:off + old.record_size]:
            raise Fail("FILE0 at %d: not the bytes the old volume had there" % off)
        if off not in old_at:
            raise Fail("FILE0 at %d: not a record of the old $MFT" % off)
        try:
            rec = ntfs_fixture.Record(old_at[off], raw)
        except ntfs_fixture.FixtureError:
            torn.append(off)
            continue
        no = struct.unpack_from("<I", raw, 0x2C)[0]
        if no != old_at[off]:
            raise Fail("FILE0 at %d: record number %d, old $MFT says %d" % (off, no, old_at[off]))
        if rec.base:
            raise Fail("record %d is an extension record" % no)
        if any(a.type == ntfs_fixture.AT_ATTRIBUTE_LIST for a in rec.attrs):
            raise Fail("record %d has an attribute list" % no)
        names = [ntfs_fixture.FileName(a.value) for a in rec.attrs
                 if a.type == ntfs_fixture.AT_FILE_NAME]
        if not names:
            no_name.append((off, no))
            continue
        fn = pick_name(names)
        path = ntfs_path(old, no)
        logs = logged.get(no, [])
        if logs and path not in [x["path"] for x in logs]:
            raise Fail("record %d: path %r, logged %r" % (no, path, [x["path"] for x in logs]))
        log = logs[0] if logs else None
        if log is None and not fn.name.startswith("$"):
            raise Fail("record %d (%s) was not logged" % (no, fn.name))
        row = {"offset": off, "name": fn.name, "extension": extension(fn.name)}
        datas = [a for a in rec.attrs if a.type == ntfs_fixture.AT_DATA and a.name == ""]
        if rec.is_dir or not datas:
            row.update({"size": 0, "resident": True, "intact": True})
        else:
            a = datas[0]
            row["size"] = a.data_size
            row["resident"] = not a.nonres
            want = log["sha256"] if log else sha(old.file_data(no))
            if not a.nonres:
                got = a.value
                row["sha256"] = sha(got)
                if row["sha256"] != want:
                    raise Fail("record %d: resident data differs from the file" % no)
                row["intact"] = True
            else:
                if a.flags & 0x0001:
                    raise Fail("record %d: compressed files are not expected here" % no)
                # the old run list counts old clusters; read them from the new image
                out = bytearray()
                free = True
                for vcn, l, n in a.runs:
                    if l is None:
                        out += bytes(n * old.cluster)
                        continue
                    start, end = l * old.cluster, (l + n) * old.cluster
                    out += data[start:end]
                    for c in range(start // new.cluster, (end - 1) // new.cluster + 1):
                        if not new.cluster_free(c):
                            free = False
                got = bytes(out[:a.data_size])
                if a.init_size < a.data_size:
                    got = got[:a.init_size] + bytes(a.data_size - a.init_size)
                same = sha(got) == want
                if same != free:
                    raise Fail("record %d: clusters free %s but data same %s" % (no, free, same))
                row["intact"] = same
                if same:
                    row["sha256"] = want
                row["runs"] = [[l, n] for _, l, n in a.runs]
        row["folder"] = rec.is_dir
        row["in_use"] = rec.in_use
        row["mft_record"] = no
        row["path"] = path
        row["names"] = [n.name for n in names]
        row["namespaces"] = [n.namespace for n in names]
        order = ["offset", "name", "extension", "size", "resident", "sha256", "intact"]
        rows.append({k: row[k] for k in order if k in row} |
                    {k: row[k] for k in row if k not in order})

    tags = set()
    for r in rows:
        if r["folder"]:
            tags.add("folder")
            continue
        tags.add("resident" if r["resident"] else "nonresident")
        if not r["resident"]:
            tags.add("intact" if r["intact"] else "overwritten")
            if len(r["runs"]) > 1:
                tags.add("fragmented")
                if r["intact"]:
                    tags.add("fragmented-intact")
        if not r["in_use"]:
            tags.add("deleted")
        if 1 in r["namespaces"] and 2 in r["namespaces"]:
            tags.add("dos-name")
            tags.add("dos-name-last" if r["namespaces"].index(2) > r["namespaces"].index(1)
                     else "win32-name-last")
        if len([n for n in r["namespaces"] if n != 2]) > 1:
            tags.add("hardlink")
        if not r["extension"]:
            tags.add("no-extension")
    missing = [t for t in require if t not in tags]
    if missing:
        print("no surviving record of kind %s" % missing, file=sys.stderr)
        # the order of a record's Win32 and DOS names follows timestamps
        # ntfs-3g takes as it goes: the build script tries again
        raise SystemExit(3 if set(missing) <= {"dos-name-last", "win32-name-last"} else 1)
    write_jsonl(out_path, rows)
    if "--summary" in opt:
        with open(opt["--summary"], "w", encoding="utf-8") as f:
            f.write("old volume: cluster %d, %d clusters, $MFT at LCN %d, %d records of %d "
                    "bytes, $MFT runs %s\n" % (old.cluster, old.total_clusters, old.mft_lcn,
                                              old.nrecords, old.record_size, old.mft_runs))
            f.write("new volume: cluster %d, %d clusters, $MFT at LCN %d, %d records in use "
                    "of %d bytes (data size %d, allocated %d), $MFT runs %s\n" % (
                        new.cluster, new.total_clusters, new.mft_lcn, new.nrecords,
                        new.record_size, mdata.data_size, mdata.alloc_size, new.mft_runs))
            f.write("sector-aligned FILE0 in the new $MFT's clusters: %d (%d-%d); of them "
                    "past its data size (old records in its allocated tail): %s\n" % (
                        len(in_new_mft), in_new_mft[0], in_new_mft[-1],
                        [o for o in in_new_mft
                         if o >= new.mft_lcn * new.cluster + mdata.data_size] or "none"))
            f.write("FILE0 in other used clusters (the new $MFTMirr; not listed): %s\n" % (
                in_used or "none"))
            f.write("FILE0 with broken fixups (not listed): %s\n" % (torn or "none"))
            f.write("old records in free clusters without a $FILE_NAME (formatted, never "
                    "used; not listed): %d, records %s at offsets %d-%d\n" % (
                        len(no_name), compact([n for _, n in no_name]),
                        no_name[0][0] if no_name else 0, no_name[-1][0] if no_name else 0))
            f.write("listed records (offset, old record, old path):\n")
            for r in rows:
                f.write("  %d record %d %s%s size %d %s%s\n" % (
                    r["offset"], r["mft_record"], r["path"],
                    "/" if r["folder"] else "", r["size"],
                    "resident" if r["resident"] else ("intact" if r["intact"] else "overwritten"),
                    "" if r["in_use"] else " (deleted before the re-format)"))
                if "runs" in r:
                    f.write("      runs (old LCN, clusters of %d bytes): %s\n" % (
                        old.cluster, " ".join("(%d,%d)" % tuple(x) for x in r["runs"])))


def compact(nums):
    return fat_fixture.compact(sorted(nums))


# ======================================================= FAT re-format
def fat_lost(args):
    pos, opt = options(args)
    old_path, log_path, new_path, out_path = pos
    require = [t for t in opt.get("--require", "").split(",") if t]
    crafted = {int(x) for x in opt.get("--crafted", [])}
    old = fat_fixture.Volume(old_path)
    new = fat_fixture.Volume(new_path)
    for k in ("bps", "spc", "reserved", "nfats", "fat_sectors", "root_entries", "first_data",
              "cluster_count"):
        if getattr(old, k) != getattr(new, k):
            raise Fail("old and new volume differ in %s" % k)
    entries = fat_fixture.replay(log_path)
    folders = {e["first_cluster"]: e for e in entries if e["folder"]}
    by_path = {e["path"]: e for e in entries}
    for e in folders.values():
        if not e["deleted"] and len(old.chain(e["first_cluster"])) != 1:
            raise Fail("%s: old folder spans more than one cluster" % e["path"])
    data = new.data
    cl = new.cluster
    rows = []
    in_use = []
    first_data = new.first_data * new.bps
    for off in range(first_data, len(data), SECTOR):
        if data[off:off + 11] != b".          " or not data[off + 11] & fat_fixture.ATTR_DIR:
            continue
        c = (off - first_data) // cl + 2
        if c >= new.cluster_count + 2:
            continue
        if new.fat(c) != 0:
            in_use.append((off, c))
            continue
        sec_in = (off - first_data) % cl // SECTOR
        own = struct.unpack_from("<H", data, off + 26)[0]
        dotdot = data[off + 32:off + 64]
        if dotdot[:11] != b"..         ":
            raise Fail("'.' at %d has no '..' after it" % off)
        parent = struct.unpack_from("<H", dotdot, 26)[0]
        folder = folders.get(own)
        if folder is None:
            raise Fail("'.' at %d names cluster %d: no old folder started there" % (off, own))
        src = old.cluster_offset(own)
        is_crafted = off in crafted
        if is_crafted:
            n = cl - SECTOR * sec_in
            if data[off:off + n] != old.data[src:src + n]:
                raise Fail("crafted copy at %d differs from the old folder" % off)
            if old.data[src + n:src + cl] != bytes(cl - n):
                raise Fail("crafted copy at %d: the old folder used more than %d bytes" % (off, n))
        else:
            if sec_in != 0:
                raise Fail("'.' at %d in sector %d of cluster %d, not crafted" % (off, sec_in, c))
            if own != c:
                raise Fail("'.' at %d names cluster %d, lies in %d" % (off, own, c))
            if data[off:off + cl] != old.data[src:src + cl]:
                raise Fail("cluster %d differs from the old folder" % c)
        listed = new.entries([(off, min(cl, len(data) - off))])
        oldlist = old.dir_entries(own)
        if [(x.name(), x.size, x.first_cluster) for x in listed] != \
                [(x.name(), x.size, x.first_cluster) for x in oldlist]:
            raise Fail("%s: entries read at %d differ from the old folder" % (folder["path"], off))
        out = []
        for x in listed:
            if x.deleted or x.is_label:
                raise Fail("%s: deleted or label entry %r" % (folder["path"], x.name()))
            p = folder["path"] + "/" + x.name()
            e = by_path.get(p)
            if e is None:
                raise Fail("%s: not logged" % p)
            ent = {"name": x.name(), "size": x.size, "folder": x.is_dir}
            if not x.is_dir:
                got = guess_read(new, x.first_cluster, x.size)
                if sha(got) == e["sha256"]:
                    ent["sha256"] = e["sha256"]
                ent["_contiguous"] = sha(contiguous_read(new, x.first_cluster, x.size)) == e["sha256"]
                ent["_chain"] = e["chain"]
            ent["first_cluster"] = x.first_cluster
            ent["short_name"] = x.short_name()
            out.append(ent)
        rows.append({"offset": off, "folder": folder["path"], "cluster": c,
                     "sector_in_cluster": sec_in, "first_cluster": own,
                     "parent_cluster": parent, "crafted": is_crafted, "entries": out})
    if sorted(crafted) != sorted(r["offset"] for r in rows if r["crafted"]):
        raise Fail("crafted copies not all found")
    tags = set()
    for r in rows:
        if r["sector_in_cluster"]:
            tags.add("mid-cluster")
        for ent in r["entries"]:
            if ent["folder"]:
                tags.add("subfolder")
            elif "sha256" in ent:
                tags.add("recoverable")
                if ent["size"] == 0:
                    tags.add("empty")
            else:
                tags.add("overwritten")
                if len(ent["_chain"]) > 1 and any(
                        b != a + 1 for a, b in zip(ent["_chain"], ent["_chain"][1:])):
                    tags.add("fragmented")
            if ent["name"] != ent["short_name"]:
                tags.add("long-name")
    missing = [t for t in require if t not in tags]
    if missing:
        raise Fail("no surviving entry of kind %s" % missing)
    lost = [e for e in folders.values() if not e["deleted"] and e["first_cluster"] not in
            {r["first_cluster"] for r in rows if not r["crafted"]}]
    summary = []
    for r in rows:
        summary.append("%d: %s (cluster %d, sector %d of it%s), '.' cluster %d, '..' %d" % (
            r["offset"], r["folder"], r["cluster"], r["sector_in_cluster"],
            ", crafted copy" if r["crafted"] else "", r["first_cluster"], r["parent_cluster"]))
        for ent in r["entries"]:
            line = "    %s%s size %d first cluster %d" % (
                ent["name"], "/" if ent["folder"] else "", ent["size"], ent["first_cluster"])
            if not ent["folder"]:
                line += " old chain %s: %s" % (
                    fat_fixture.compact(ent["_chain"]),
                    "recovered" if "sha256" in ent else "not recovered")
                if ent["_contiguous"] != ("sha256" in ent):
                    line += " (reading the clusters after it regardless of the FAT: %s)" % (
                        "recovered" if ent["_contiguous"] else "not recovered")
            summary.append(line)
            ent.pop("_contiguous", None)
            ent.pop("_chain", None)
    write_jsonl(out_path, rows)
    if "--summary" in opt:
        with open(opt["--summary"], "w", encoding="utf-8") as f:
            f.write("FAT%d, %d-byte clusters, first data sector %d, %d clusters; the old and "
                    "new volume have the same geometry\n" % (new.fat_type, cl, new.first_data,
                                                              new.cluster_count))
            f.write("'.' entries at sector starts in clusters the new FAT uses: %s\n" % (
                ", ".join("%d (cluster %d)" % x for x in in_use) or "none"))
            f.write("old folders whose first cluster the new volume overwrote: %s\n" % (
                ", ".join("%s (cluster %d)" % (e["path"], e["first_cluster"]) for e in
                          sorted(lost, key=lambda e: e["first_cluster"])) or "none"))
            f.write("old folders found in free clusters:\n")
            f.write("\n".join(summary) + "\n")


def guess_read(vol, first, size):
    """size bytes from cluster first on, then through the next clusters that
    are free in the FAT (used ones skipped)."""
    if size == 0:
        return b""
    need = (size + vol.cluster - 1) // vol.cluster
    clusters = [first]
    c = first + 1
    while len(clusters) < need and c < vol.cluster_count + 2:
        if vol.fat(c) == 0:
            clusters.append(c)
        c += 1
    return vol.read_clusters(clusters, size)


def contiguous_read(vol, first, size):
    if size == 0:
        return b""
    need = (size + vol.cluster - 1) // vol.cluster
    return vol.read_clusters(range(first, first + need), size)


# ======================================================= carving image
def load_defs(formats):
    """The definitions, read by formats/check-signatures.py's own reader and
    matcher."""
    checker = runpy.run_path(os.path.join(HERE, "formats", "check-signatures.py"))
    problems = []
    defs = checker["read_formats"](formats, problems)
    if problems:
        raise Fail("formats.txt: %s" % problems)
    return defs


MATCH_WINDOW = 16384


def hits_at(defs, image, off):
    """Definitions that fire at byte offset off: a signature sees the next
    16 KiB (MATCH_WINDOW) whatever scan buffer off falls in."""
    window = memoryview(image)[off:off + MATCH_WINDOW]
    return [d for d in defs if d.matches(window, 0)]


IMAGE_SIZE = 8 * 1024 * 1024
# samples whose bytes hold further signatures at 512-byte steps: planting
# them would make hits at sector starts that are not a planted file's start
CARVE_SKIP = {".tar", ".deb", ".vhd"}


def carve_fill(args):
    formats, samples, image_path, plan_path = args
    defs = load_defs(formats)
    rng = random.Random("search-carve")
    # the filler: pieces of a 128 KiB seeded random pool at random places, so
    # the image is random everywhere yet compresses to about the pool's size
    pool = _generate("random", "search-carve pool", 128 * 1024)
    fill = bytearray()
    while len(fill) < IMAGE_SIZE:
        n = rng.randint(700, 9000)
        at = rng.randrange(0, len(pool) - n)
        fill += pool[at:at + n]
    del fill[IMAGE_SIZE:]
    with open(image_path, "wb") as f:
        f.write(fill)

    # one sample per definition, sample.EXT where it fits that definition
    chosen = []
    for d in defs:
        if d.ext in CARVE_SKIP:
            continue
        names = [f for f in ["sample" + d.ext] + ["sample-%d%s" % (i, d.ext) for i in range(2, 10)]
                 if os.path.isfile(os.path.join(samples, f))]
        pick = None
        for f in names:
            blob = open(os.path.join(samples, f), "rb").read()
            if len(blob) <= 64 * 1024 and d.matches(blob):
                pick = f
                break
        if pick is None:
            raise Fail("no sample for %s" % d.name())
        chosen.append((pick, d))
    rng.shuffle(chosen)
    # fixed places: a sample that straddles two scan buffers, a second copy
    # of the transport stream in the last sector of a buffer (its signature
    # needs 565 bytes, the buffer has 512 left: it must still fire), and a PNG
    # at an offset that is not a multiple of 512
    fixed = [
        ("sample.avi", 11 * SCAN_BUFFER - 8 * SECTOR, "straddles scan buffers 10 and 11"),
        ("sample.ts", 20 * SCAN_BUFFER - SECTOR,
         "last sector of scan buffer 19: the signature needs 565 bytes, 512 are left in the buffer"),
        ("sample-2.png", 27 * SCAN_BUFFER + 301 * SECTOR + 137, "not on a sector boundary"),
    ]
    reserved = [(off, off + os.path.getsize(os.path.join(samples, f))) for f, off, _ in fixed]
    chosen = [c for c in chosen if c[0] != "sample.avi"]
    sizes = [os.path.getsize(os.path.join(samples, f)) for f, _ in chosen]
    free_space = IMAGE_SIZE - 64 * 1024 - sum((s + SECTOR - 1) // SECTOR * SECTOR for s in sizes) \
        - sum(e - s for s, e in reserved) - 32 * SECTOR * len(reserved)
    weights = [rng.random() + 0.2 for _ in chosen]
    scale = free_space / sum(weights) / SECTOR
    plan = []
    cur = 32 * 1024
    for (f, d), size, w in zip(chosen, sizes, weights):
        cur += max(1, int(w * scale)) * SECTOR
        while True:
            end = cur + size
            clash = [r for r in reserved if cur < r[1] + 16 * SECTOR and r[0] - 16 * SECTOR < end]
            if clash:
                cur = (clash[0][1] + 16 * SECTOR + SECTOR - 1) // SECTOR * SECTOR
                continue
            break
        plan.append({"offset": cur, "file": f, "note": ""})
        cur += (size + SECTOR - 1) // SECTOR * SECTOR
    if cur > IMAGE_SIZE - 16 * 1024:
        raise Fail("samples do not fit: ends at %d" % cur)
    for f, off, note in fixed:
        plan.append({"offset": off, "file": f, "note": note})
    plan.sort(key=lambda p: p["offset"])
    write_jsonl(plan_path, plan)


def _generate(kind, seed, size):
    return runpy.run_path(os.path.join(HERE, "gen-content.py"))["generate"](kind, seed, size)


def carve_check(args):
    pos, opt = options(args)
    formats, samples, image_path, plan_path, out_path = pos
    defs = load_defs(formats)
    image = open(image_path, "rb").read()
    if len(image) != IMAGE_SIZE:
        raise Fail("image is %d bytes" % len(image))
    plan = [json.loads(x) for x in open(plan_path, encoding="utf-8") if x.strip()]
    rows = []
    spans = []
    for p in plan:
        blob = open(os.path.join(samples, p["file"]), "rb").read()
        off = p["offset"]
        if image[off:off + len(blob)] != blob:
            raise Fail("%s is not at %d" % (p["file"], off))
        ext = os.path.splitext(p["file"])[1]
        # The search looks at sector starts only: a file that begins elsewhere is never a hit.
        hits = hits_at(defs, image, off) if off % SECTOR == 0 else []
        row = {"offset": off, "file": p["file"], "ext": ext, "size": len(blob),
               "sha256": sha(blob), "aligned": off % SECTOR == 0,
               "expected_hits": list(dict.fromkeys(d.ext for d in hits)),
               "expected_lines": [d.line_no for d in hits],
               "buffer": off // SCAN_BUFFER,
               "straddles_buffers": off // SCAN_BUFFER != (off + len(blob) - 1) // SCAN_BUFFER}
        if p["note"]:
            row["note"] = p["note"]
        if not p["note"] and row["expected_hits"] != [ext]:
            raise Fail("%s at %d: fires %s" % (p["file"], off, row["expected_hits"]))
        rows.append(row)
        spans.append((off, off + len(blob)))
    for a, b in zip(sorted(spans), sorted(spans)[1:]):
        if a[1] > b[0]:
            raise Fail("planted files overlap at %d" % b[0])
    cut = [r for r in rows if r["file"] == "sample.ts" and r.get("note")]
    if not cut or cut[0]["expected_hits"] != [".ts"]:
        raise Fail("the transport stream at a buffer end should fire")
    unaligned = [r for r in rows if not r["aligned"]]
    if len(unaligned) != 1 or unaligned[0]["expected_hits"] or not hits_at(defs, image, unaligned[0]["offset"]):
        raise Fail("expected one unaligned sample that would match its own definition but is no hit")
    if not any(r["straddles_buffers"] and r["expected_hits"] == [r["ext"]] for r in rows):
        raise Fail("no sample straddles two buffers")
    planted = {r["offset"] for r in rows}
    stray = []
    per_def = {}
    for off in range(0, IMAGE_SIZE, SECTOR):
        # The search looks at sector starts only: a file that begins elsewhere is never a hit.
        hits = hits_at(defs, image, off) if off % SECTOR == 0 else []
        if off in planted:
            want = [r for r in rows if r["offset"] == off][0]["expected_lines"]
            if [d.line_no for d in hits] != want:
                raise Fail("hits at %d changed" % off)
            for d in hits:
                per_def[d.line_no] = per_def.get(d.line_no, 0) + 1
        elif hits:
            stray.append((off, [d.ext for d in hits]))
    if stray:
        raise Fail("definitions fire where nothing was planted: %s" % stray[:20])
    unplanted = [d.name() for d in defs if d.line_no not in per_def]
    write_jsonl(out_path, rows)
    if "--summary" in opt:
        with open(opt["--summary"], "w", encoding="utf-8") as f:
            f.write("%d bytes, scan buffers of %d bytes (%d of them); %d samples planted, "
                    "%d at sector starts\n" % (IMAGE_SIZE, SCAN_BUFFER, IMAGE_SIZE // SCAN_BUFFER,
                                                len(rows), sum(r["aligned"] for r in rows)))
            f.write("every sector start checked against %d definitions (window: the rest of "
                    "its buffer): hits only at planted offsets\n" % len(defs))
            f.write("definitions with no planted sample: %s\n" % (", ".join(unplanted) or "none"))
            for r in rows:
                f.write("  %8d  buffer %2d  %-14s %6d B  %s%s%s\n" % (
                    r["offset"], r["buffer"], r["file"], r["size"],
                    ",".join(r["expected_hits"]) or "(nothing fires)",
                    "" if r["aligned"] else "  unaligned (offset %% 512 = %d)" % (r["offset"] % SECTOR),
                    ("  " + r["note"]) if r.get("note") else ""))


def fat_info(args):
    """fat-info IMAGE PATH|#CLUSTER|free: first cluster and byte offset of a
    live entry, the byte offset of a cluster, or the first free cluster."""
    vol = fat_fixture.Volume(args[0])
    what = args[1]
    if what == "free":
        print([c for c in range(2, vol.cluster_count + 2) if vol.fat(c) == 0][0])
    elif what.startswith("#"):
        print(vol.cluster_offset(int(what[1:])))
    else:
        e = vol.lookup(what)
        print(e.first_cluster, vol.cluster_offset(e.first_cluster))


def main():
    a = sys.argv[1:]
    cmds = {"boot-sectors": boot_sectors, "ntfs-lost": ntfs_lost, "fat-lost": fat_lost,
            "carve-fill": carve_fill, "carve-check": carve_check, "fat-info": fat_info}
    if not a or a[0] not in cmds:
        print(__doc__)
        raise SystemExit(2)
    try:
        cmds[a[0]](a[1:])
    except (Fail, ntfs_fixture.FixtureError, fat_fixture.FixtureError) as exc:
        print("ERROR:", exc, file=sys.stderr)
        raise SystemExit(1)


if __name__ == "__main__":
    main()
