#!/usr/bin/env python3
"""Patches copies of the hostile base images (make-hostile-images.sh) so that each damages one
structure, and writes the list of cases:

    hostile_images.py FOLDER CASES_JSON

Every case names its image, what was damaged and the paths that must still list, so a test can
check that the listing goes on past the damage."""
import json
import os
import struct
import sys

import fat_fixture
import ntfs_fixture

AT_FILE_NAME, AT_DATA, AT_ATTRIBUTE_LIST = 0x30, 0x80, 0x20
REFERENCE_MASK = 0xFFFFFFFFFFFF


class Ntfs:
    """An NTFS image in memory, its MFT records addressed by number and by path."""

    def __init__(self, path):
        self.volume = ntfs_fixture.Volume(path)
        self.data = bytearray(open(path, "rb").read())
        self.record_size = self.volume.record_size

    def record_offset(self, no):
        vcn_bytes = no * self.record_size
        for vcn, lcn, count in self.volume.mft_runs:
            start, length = vcn * self.volume.cluster, count * self.volume.cluster
            if start <= vcn_bytes < start + length:
                return lcn * self.volume.cluster + vcn_bytes - start
        raise ValueError("record %d is not mapped" % no)

    def lookup(self, path):
        parent = 5
        for part in [p for p in path.split("/") if p]:
            found = [no for no, r in self.volume.records.items() if r.valid and r.in_use and r.base == 0 and any(
                a.type == AT_FILE_NAME and ntfs_fixture.FileName(a.value).parent == parent and
                ntfs_fixture.FileName(a.value).name == part for a in r.attrs)]
            if len(found) != 1:
                raise ValueError("%s: %d records named %r" % (path, len(found), part))
            parent = found[0]
        return parent

    # A record without its fixups, to patch; put() protects it again.
    def get(self, no):
        off = self.record_offset(no)
        rec = bytearray(self.data[off:off + self.record_size])
        usa_off, usa_count = struct.unpack_from("<HH", rec, 4)
        for i in range(1, usa_count):
            rec[i * 512 - 2:i * 512] = rec[usa_off + 2 * i:usa_off + 2 * i + 2]
        return rec

    def put(self, no, rec, fixups=True):
        usa_off, usa_count = struct.unpack_from("<HH", rec, 4)
        if fixups:
            usn = rec[usa_off:usa_off + 2]
            for i in range(1, usa_count):
                rec[usa_off + 2 * i:usa_off + 2 * i + 2] = rec[i * 512 - 2:i * 512]
                rec[i * 512 - 2:i * 512] = usn
        off = self.record_offset(no)
        self.data[off:off + self.record_size] = rec

    @staticmethod
    def attributes(rec):
        """(offset, type, length) of each attribute."""
        out = []
        off = struct.unpack_from("<H", rec, 20)[0]
        while off + 8 <= len(rec):
            kind, length = struct.unpack_from("<II", rec, off)
            if kind == 0xFFFFFFFF or length == 0:
                break
            out.append((off, kind, length))
            off += length
        return out

    def attribute(self, rec, kind):
        return next(a for a in self.attributes(rec) if a[1] == kind)

    def replace_attribute(self, rec, kind, body):
        """Puts body in place of the first attribute of the type and moves the rest."""
        off, _, length = self.attribute(rec, kind)
        body = bytearray(body) + bytes(-len(body) % 8)
        struct.pack_into("<I", body, 4, len(body))
        used = struct.unpack_from("<I", rec, 24)[0]
        tail = rec[off + length:used]
        area = rec[:off] + body + tail
        if len(area) > self.record_size:
            raise ValueError("the attribute does not fit")
        rec[:] = area + bytes(self.record_size - len(area))
        struct.pack_into("<I", rec, 24, len(area))

    def save(self, path):
        open(path, "wb").write(self.data)


def nonresident(rec, off, lowest, highest, pairs, size):
    """A copy of the non-resident header at off with a new run list and sizes."""
    header = bytearray(rec[off:off + 64])
    header[8] = 1
    struct.pack_into("<qqH", header, 16, lowest, highest, 64)
    struct.pack_into("<qqq", header, 40, size, size, size)
    header[9] = 0  # no name
    struct.pack_into("<H", header, 12, 0)  # not compressed
    return header + bytes(pairs)


def set_parent(ntfs, no, parent):
    rec = ntfs.get(no)
    off = ntfs.attribute(rec, AT_FILE_NAME)[0]
    value = off + struct.unpack_from("<H", rec, off + 20)[0]
    sequence = struct.unpack_from("<Q", rec, value)[0] >> 48
    struct.pack_into("<Q", rec, value, parent | sequence << 48)
    ntfs.put(no, rec)


def rename(ntfs, no, name):
    rec = ntfs.get(no)
    off = ntfs.attribute(rec, AT_FILE_NAME)[0]
    value = off + struct.unpack_from("<H", rec, off + 20)[0]
    encoded = name.encode("utf-16-le")
    if rec[value + 64] * 2 != len(encoded):
        raise ValueError("a new name must be as long as the old one")
    rec[value + 66:value + 66 + len(encoded)] = encoded
    ntfs.put(no, rec)


def list_entries(ntfs, no):
    """Offsets in the record of each entry of its resident $ATTRIBUTE_LIST."""
    rec = ntfs.get(no)
    off, _, _ = ntfs.attribute(rec, AT_ATTRIBUTE_LIST)
    value = off + struct.unpack_from("<H", rec, off + 20)[0]
    end = value + struct.unpack_from("<I", rec, off + 16)[0]
    out, p = [], value
    while p + 26 <= end:
        out.append(p)
        p += struct.unpack_from("<H", rec, p + 4)[0] or 26
    return rec, out


KEEP = ["/keep/k1.txt", "/keep/k2.txt", "/keep/k3.txt"]


def case_maker(folder, base, volume_type, cases):
    """A function that saves a patched copy of the base as one case and lists it."""
    def case(name, what, patch, still=KEEP, **more):
        volume = volume_type(os.path.join(folder, base))
        patch(volume)
        volume.save(os.path.join(folder, name + ".img"))
        cases.append(dict(image=name + ".img", what=what, still_listed=still, **more))
    return case


def ntfs_cases(folder):
    base = os.path.join(folder, "base-ntfs.img")
    cases = []
    case = case_maker(folder, "base-ntfs.img", Ntfs, cases)

    def record_patch(path, change, fixups=True):
        def patch(ntfs):
            no = ntfs.lookup(path)
            rec = ntfs.get(no)
            change(ntfs, rec)
            ntfs.put(no, rec, fixups)
        return patch

    def parent_loop(ntfs):
        a, b = ntfs.lookup("/dir"), ntfs.lookup("/dir/sub")
        set_parent(ntfs, a, b)
        set_parent(ntfs, b, a)
    case("ntfs-parent-loop", "two folders each the other's parent", parent_loop)
    case("ntfs-self-parent", "a folder that is its own parent",
         lambda n: set_parent(n, n.lookup("/dir"), n.lookup("/dir")))

    def list_self(ntfs):
        no = ntfs.lookup("/links/linked1.txt")
        rec, entries = list_entries(ntfs, no)
        for p in entries:
            struct.pack_into("<Q", rec, p + 16, no | 1 << 48)
        ntfs.put(no, rec)
    case("ntfs-list-self", "an $ATTRIBUTE_LIST whose every entry names its own record", list_self)

    def list_loop(ntfs):
        one, two = ntfs.lookup("/links/linked1.txt"), ntfs.lookup("/links/linked2.txt")
        for no, other in ((one, two), (two, one)):
            rec, entries = list_entries(ntfs, no)
            for p in entries:
                if struct.unpack_from("<Q", rec, p + 16)[0] & REFERENCE_MASK != no:
                    struct.pack_into("<Q", rec, p + 16, other | 1 << 48)
            ntfs.put(no, rec)
    case("ntfs-list-loop", "two $ATTRIBUTE_LISTs naming each other's records", list_loop)

    def data_runs(pairs, lowest=0, highest=0, size=None):
        def change(ntfs, rec):
            off = ntfs.attribute(rec, AT_DATA)[0]
            length = size if size is not None else struct.unpack_from("<q", rec, off + 48)[0]
            ntfs.replace_attribute(rec, AT_DATA, nonresident(rec, off, lowest, highest, pairs, length))
        return change
    big = (0x4000000000000000).to_bytes(8, "little")
    case("ntfs-run-overflow", "a run list whose lengths add up past 2^64 bytes",
         record_patch("/dir/sub/b.bin", data_runs(b"\x18" + big + b"\x01" + b"\x18" + big + b"\x01\x00")))
    past = (ntfs_fixture.Volume(base).total_clusters + 1000).to_bytes(4, "little")
    case("ntfs-lcn-past-volume", "a run beyond the last cluster of the volume",
         record_patch("/dir/sub/b.bin", data_runs(b"\x41\x28" + past + b"\x00", highest=39)))

    def header_field(fmt, at, value):
        return lambda ntfs, rec: struct.pack_into(fmt, rec, at, value)
    case("ntfs-bytes-in-use", "bytes in use beyond the record size",
         record_patch("/dir/a.txt", header_field("<I", 24, 0x100000)))
    case("ntfs-usa-zero", "an update sequence count of 0",
         record_patch("/dir/a.txt", header_field("<H", 6, 0), fixups=False))
    case("ntfs-usa-past", "an update sequence array reaching past the record",
         record_patch("/dir/a.txt", header_field("<H", 6, 0x4000), fixups=False))

    def first_attribute_length(value):
        def change(ntfs, rec):
            struct.pack_into("<I", rec, struct.unpack_from("<H", rec, 20)[0] + 4, value)
        return change
    case("ntfs-attribute-length-zero", "an attribute length of 0", record_patch("/dir/a.txt", first_attribute_length(0)))
    case("ntfs-attribute-length-past", "an attribute length past the record",
         record_patch("/dir/a.txt", first_attribute_length(0x10000)))

    def long_name(ntfs, rec):
        off = ntfs.attribute(rec, AT_FILE_NAME)[0]
        rec[off + struct.unpack_from("<H", rec, off + 20)[0] + 64] = 255
    case("ntfs-name-past-value", "a file name length reaching past its value", record_patch("/dir/a.txt", long_name))

    def boot_byte(at, value):
        def patch(ntfs):
            ntfs.data[at] = value
        return patch
    case("ntfs-record-size-zero", "a record size of 0 in the boot sector", boot_byte(0x40, 0), still=[])
    case("ntfs-record-size-2g", "a record size of 2^31 in the boot sector", boot_byte(0x40, 0xE1), still=[])

    def overrun(ntfs):
        no = ntfs.lookup("/packed/c.txt")
        vcn, lcn, count = next(r for r in ntfs.volume.records[no].attrs if r.type == AT_DATA).runs[0]
        unit = bytearray(b"\xff\xbf" + b"\x00" + b"ABCDEFGH")
        while len(unit) < count * ntfs.volume.cluster:
            unit += b"\xff" + b"\xff\xff" * 8
        start = lcn * ntfs.volume.cluster
        ntfs.data[start:start + count * ntfs.volume.cluster] = unit[:count * ntfs.volume.cluster]
    case("ntfs-compressed-overrun", "a compression unit whose tokens copy far past its length", overrun,
         still=KEEP + ["/packed/c.txt"])

    sparse_size = 1 << 40
    clusters = (sparse_size // 512).to_bytes(5, "little")
    sparse = data_runs(b"\x05" + clusters + b"\x00", highest=sparse_size // 512 - 1, size=sparse_size)

    def sparse_name(ntfs, rec):
        sparse(ntfs, rec)
        off = ntfs.attribute(rec, AT_FILE_NAME)[0]
        struct.pack_into("<qq", rec, off + struct.unpack_from("<H", rec, off + 20)[0] + 40, sparse_size, sparse_size)
    case("ntfs-sparse-1t", "a sparse file of 2^40 bytes", record_patch("/sparse.bin", sparse_name),
         still=KEEP + ["/sparse.bin"], sparse_size=sparse_size, sparse_path="/sparse.bin")

    def huge_list(ntfs, rec):
        off = ntfs.attribute(rec, AT_ATTRIBUTE_LIST)[0]
        header = bytearray(64)
        struct.pack_into("<IIBBHHH", header, 0, AT_ATTRIBUTE_LIST, 0, 1, 0, 0, 0, struct.unpack_from("<H", rec, off + 14)[0])
        ntfs.replace_attribute(rec, AT_ATTRIBUTE_LIST, nonresident(header, 0, 0, 15, b"\x11\x10\x20\x00", 8 << 30))
    case("ntfs-list-gigabytes", "an $ATTRIBUTE_LIST whose size claims 8 GiB", record_patch("/links/linked1.txt", huge_list))

    def names(ntfs):
        for old, new in (("d1", ".."), ("d2xx", "../x"), ("d3xx", "/abs"), ("d4x", "a/b"), ("d5xx", "c\x01\x1b\x7f")):
            rename(ntfs, ntfs.lookup("/names/" + old), new)
    case("ntfs-names", "names '..', '../x', '/abs', 'a/b', control characters and 255 characters", names,
         recover=True)
    return cases


class Fat:
    def __init__(self, path):
        self.volume = fat_fixture.Volume(path)
        self.data = bytearray(self.volume.data)

    def set_fat(self, n, value):
        v = self.volume
        for copy in range(v.nfats):
            off = v.fat_off + copy * v.fat_sectors * v.bps
            if v.fat_type == 12:
                p = off + n * 3 // 2
                old = struct.unpack_from("<H", self.data, p)[0]
                new = (old & 0x000F) | (value << 4) if n & 1 else (old & 0xF000) | value
                struct.pack_into("<H", self.data, p, new)
            else:
                struct.pack_into("<H", self.data, off + n * 2, value)

    def save(self, path):
        open(path, "wb").write(self.data)


def fat_cases(folder):
    cases = []
    case = case_maker(folder, "base-fat.img", Fat, cases)

    def chain_loop(fat):
        chain = fat.volume.chain(fat.volume.lookup("/Folder/b.bin").first_cluster)
        fat.set_fat(chain[2], chain[0])
    case("fat-chain-loop", "a file's cluster chain that loops", chain_loop)

    def directory_loop(fat):
        folder_cluster = fat.volume.lookup("/Folder").first_cluster
        fat.set_fat(folder_cluster, folder_cluster)
    case("fat-directory-loop", "a folder whose cluster chain points back to itself", directory_loop)

    def entry_past(fat):
        chain = fat.volume.chain(fat.volume.lookup("/Folder/b.bin").first_cluster)
        fat.set_fat(chain[1], 0xFEF)
    case("fat-entry-past-volume", "a FAT entry pointing past the last cluster", entry_past)

    def boot(at, fmt, value):
        return lambda fat: struct.pack_into(fmt, fat.data, at, value)
    case("fat-zero-bytes-per-sector", "0 bytes per sector", boot(11, "<H", 0), still=[])
    case("fat-zero-sectors-per-cluster", "0 sectors per cluster", boot(13, "<B", 0), still=[])
    case("fat-root-count-past-volume", "a root entry count reaching past the volume", boot(17, "<H", 0xFFFF), still=[])

    def self_parent(fat):
        entry = fat.volume.lookup("/Folder/Self")
        cluster = fat.volume.lookup("/Folder").first_cluster
        struct.pack_into("<H", fat.data, entry.offset + 26, cluster)
    case("fat-self-parent", "a folder entry whose first cluster is its own parent's", self_parent)

    def names(fat):
        for n, new in enumerate(("..", "../x", "/abs", "a/b", "c\x01\x1b\x7f"), 1):
            entry = fat.volume.lookup("/names/name %d.txt" % n)
            part = entry.offset - 32
            chars = list(new.encode("utf-16-le")) + [0, 0] + [0xFF] * 26
            slots = list(range(1, 11)) + list(range(14, 26)) + list(range(28, 32))
            for slot, byte in zip(slots, chars):
                fat.data[part + slot] = byte
    case("fat-names", "long names '..', '../x', '/abs', 'a/b' and control characters", names, recover=True)
    return cases


def fat_deep(folder, depth=10000):
    """One folder inside the next, depth levels down from the root of the FAT16 base."""
    fat = Fat(os.path.join(folder, "base-fat16.img"))
    v = fat.volume
    root = (v.reserved + v.nfats * v.fat_sectors) * v.bps

    def entry(name, cluster):
        return name.ljust(11).encode() + bytes([0x10]) + bytes(14) + struct.pack("<HI", cluster, 0)
    fat.data[root:root + 32] = entry("DEEP", 2)
    for level in range(depth):
        cluster = 2 + level
        parent = 0 if level == 0 else cluster - 1
        body = entry(".", cluster) + entry("..", parent)
        if level + 1 < depth:
            body += entry("D", cluster + 1)
        off = v.cluster_offset(cluster)
        fat.data[off:off + v.cluster] = body + bytes(v.cluster - len(body))
        fat.set_fat(cluster, 0xFFFF)
    fat.save(os.path.join(folder, "fat-deep.img"))
    return [dict(image="fat-deep.img", what="folders nested %d levels deep" % depth, still_listed=["/DEEP", "/DEEP/D"])]


def partition_cases(folder):
    data = bytearray(open(os.path.join(folder, "base-disk.img"), "rb").read())
    struct.pack_into("<II", data, 446 + 8, 0xFFFFFF00, 100)
    open(os.path.join(folder, "disk-partition-past-end.img"), "wb").write(data)
    return [dict(image="disk-partition-past-end.img", what="a primary partition starting past the disk's end",
                 disk=True, still_listed=[])]


def main():
    folder, cases_path = sys.argv[1], sys.argv[2]
    controls = [dict(image=name, what="the undamaged base", still_listed=[]) for name in
                ("base-ntfs.img", "base-fat.img", "base-disk.img")]
    controls[2]["disk"] = True
    cases = controls + ntfs_cases(folder) + fat_cases(folder) + fat_deep(folder) + partition_cases(folder)
    with open(cases_path, "w") as out:
        json.dump(cases, out, indent=1)
        out.write("\n")


if __name__ == "__main__":
    main()
