#!/usr/bin/env bash
# Builds the fuzz targets' seed corpora (fuzz/corpus/TARGET/) from small volumes made by the real
# tools (mkntfs + ntfs-3g, mkfs.fat + mtools, sfdisk, ddrescue), pieces cut from the test fixtures
# and the shipped data files. Run as root (ntfs-3g mounts through FUSE) from anywhere:
#   fuzz/make-seeds.sh BUILD_DIR      (BUILD_DIR/test-data holds the decompressed fixtures)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
root=$(dirname "$here")
fixtures=${1:?usage: fuzz/make-seeds.sh BUILD_DIR}/test-data
corpus=$here/corpus
work=$(mktemp -d)
mnt=$work/mnt
mkdir -p "$mnt"
trap 'mountpoint -q "$mnt" && umount "$mnt"; rm -rf "$work"' EXIT
rm -rf "$corpus"
for target in partition_table ntfs_volume runlist lznt1 fat_volume fat_directory formats settings signature_scan image; do
    mkdir -p "$corpus/$target"
done

# Deterministic file contents: text that compresses and bytes that do not.
text() { python3 -c "import sys; sys.stdout.write(('line of compressible text $1\\n' * ($2 // 20 + 1))[:$2])"; }
noise() { python3 -c "import random,sys; r=random.Random($1); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range($2)))"; }

# ntfs-3g may still be busy for a moment after the last write.
unmount() {
    for _ in 1 2 3 4 5 6 7 8 9 10; do umount "$mnt" 2>/dev/null && return; sleep 0.5; done
    umount "$mnt"
}

# A 1.1 MB NTFS volume: nested folders, a compressed file, a sparse one, a deleted one.
tiny_ntfs() {  # NAME CLUSTER
    local img=$work/$1.img
    truncate -s 1100K "$img"
    mkntfs -F -q -s 512 -c "$2" -L tiny -T "$img" >/dev/null 2>&1
    ntfs-3g -o compression "$img" "$mnt"
    mkdir -p "$mnt/dir/sub" "$mnt/packed"
    setfattr -h -n system.ntfs_attrib_be -v 0x00000810 "$mnt/packed"
    text a 100 >"$mnt/dir/a.txt"
    noise 1 20000 >"$mnt/dir/sub/b.bin"
    text c 30000 >"$mnt/packed/c.txt"
    truncate -s 200000 "$mnt/sparse.bin"
    printf 'end' >>"$mnt/sparse.bin"
    text gone 5000 >"$mnt/dir/gone.txt"
    rm "$mnt/dir/gone.txt"
    unmount
    cp "$img" "$corpus/ntfs_volume/$1"
    cp "$img" "$corpus/image/$1"
}
tiny_ntfs ntfs-c512 512
tiny_ntfs ntfs-c4096 4096

# Small FAT12 volumes: long names, nested folders, a deleted file, a fragmented one.
tiny_fat() {  # NAME KIB SECTORS_PER_CLUSTER
    local img=$work/$1.img
    mkfs.fat -C --invariant -i 1234abcd -F 12 -s "$3" -n TINY "$img" "$2" >/dev/null
    mmd -i "$img" ::/Folder ::/Folder/Deeper
    text a 700 >"$work/a"; noise 2 3000 >"$work/b"; text c 2500 >"$work/c"
    mcopy -i "$img" "$work/a" "::/A long file name.txt"
    mcopy -i "$img" "$work/b" ::/Folder/b.bin
    mcopy -i "$img" "$work/c" ::/Folder/Deeper/c.txt
    mcopy -i "$img" "$work/a" ::/gone.txt
    mdel -i "$img" ::/gone.txt
    mcopy -i "$img" "$work/c" ::/after.txt
    cp "$img" "$corpus/fat_volume/$1"
    cp "$img" "$corpus/image/$1"
    python3 - "$img" "$corpus/fat_directory/$1-root" <<'PY'
import struct, sys
boot = open(sys.argv[1], "rb").read()
bps, spc, reserved, fats, roots = struct.unpack_from("<HBHBH", boot, 11)
fat_sectors = struct.unpack_from("<H", boot, 22)[0]
start = (reserved + fats * fat_sectors) * bps
open(sys.argv[2], "wb").write(b"\0" + boot[start:start + roots * 32])
PY
}
tiny_fat fat12-s1 160 1
tiny_fat fat12-s4 400 4

# A disk with a primary FAT12 partition and a chain of two logical ones (sfdisk's own layout).
disk=$work/disk.img
truncate -s 2M "$disk"
printf 'label: dos\nstart=8, size=400, type=1\nstart=512, type=5\nstart=520, size=300, type=1\nstart=900, size=300, type=6\n' |
    sfdisk -q "$disk" >/dev/null
dd if="$work/fat12-s1.img" of="$disk" bs=512 seek=8 count=320 conv=notrunc status=none
cp "$disk" "$corpus/image/disk-mbr-ebr"
head -c 524288 "$disk" >"$corpus/partition_table/disk-mbr-ebr"
for name in part-ext05 part-ext0f part-gap part-nosig part-ebr-loop; do
    head -c 512 "$fixtures/$name.img" >"$corpus/partition_table/$name-mbr"
done

# Run lists, compression units and records cut from the NTFS fixtures.
python3 - "$fixtures" "$corpus" "$root/tests/data" <<'PY'
import os, struct, sys
sys.path.insert(0, sys.argv[3])
import ntfs_fixture as n
fixtures, corpus = sys.argv[1], sys.argv[2]
for image in ("ntfs-512", "ntfs-4k"):
    v = n.Volume(os.path.join(fixtures, image + ".img"))
    runlists = units = 0
    for no, rec in sorted(v.records.items()):
        raw = v.mft_bytes[no * v.record_size:(no + 1) * v.record_size]
        off = struct.unpack_from("<H", raw, 20)[0] if rec.valid else 0
        for a in rec.attrs:
            start = raw.find(struct.pack("<II", a.type, a.length), off)
            body = raw[start:start + a.length]
            if a.nonres and runlists < 12 and len(a.runs) > 1:
                mp = struct.unpack_from("<H", body, 32)[0]
                pairs = body[mp:]
                shift = {512: 0, 4096: 3}[v.cluster]
                head = bytes([shift]) + body[1:64]
                open(os.path.join(corpus, "runlist", "%s-%d-%x" % (image, no, a.type)), "wb").write(
                    head + struct.pack("<H", len(pairs)) + pairs + pairs)
                runlists += 1
            if a.nonres and a.flags & 1 and units < 6:
                unit = 1 << a.comp_unit
                vcn, lcn, count = a.runs[0]
                if lcn is not None and count < unit:
                    stored = v.read(lcn * v.cluster, count * v.cluster)
                    blocks = unit * v.cluster // 4096
                    open(os.path.join(corpus, "lznt1", "%s-%d" % (image, no)), "wb").write(
                        bytes([blocks - 1]) + stored)
                    units += 1
PY

# The shipped definitions, each with the start of a sample of its format, and the settings file.
python3 - "$root/data/formats.txt" "$root/tests/data/formats" "$corpus" "$root/data/settings.ini" <<'PY'
import json, os, sys
formats, samples, corpus, settings = sys.argv[1:]
lines = [l for l in open(formats, encoding="utf-16").read().splitlines() if l.strip()]
by_ext = {}
for line in lines:
    fields = line.split(";")
    if len(fields) > 2:
        by_ext.setdefault(fields[1].lstrip(".").lower(), line)
picked = []
for name in sorted(os.listdir(samples)):
    ext = name.rsplit(".", 1)[-1].lower()
    if ext in by_ext and name.startswith("sample-"):
        data = open(os.path.join(samples, name), "rb").read()
        open(os.path.join(corpus, "formats", name), "wb").write(by_ext[ext].encode() + b"\0" + data[:2048])
        picked.append(data[:16384])
for i in range(0, len(picked), 6):
    blob = bytearray([i % 32])
    for data in picked[i:i + 6]:
        blob += data + bytes(-len(data) % 512)
    open(os.path.join(corpus, "signature_scan", "samples-%02d" % i), "wb").write(bytes(blob[:65536]))
text = open(settings, "rb").read()
open(os.path.join(corpus, "settings", "settings.ini"), "wb").write(text)
half = len(text) // 4 * 2
open(os.path.join(corpus, "settings", "settings-half.ini"), "wb").write(text[:half])
PY
# ddrescue map files: ddrescue copying a file with bad sectors simulated by a test map (-H),
# stopped in each phase, and ddrescuelog's own maps (made from a block list, annotated).
mkdir -p "$corpus/rescue_map"
(
    cd "$work"
    head -c 65536 /dev/zero >source.bin
    printf '10\n11\n12\n40\n41\n100\n' | ddrescuelog --create-mapfile=-+ - >bad-blocks.map
    cp bad-blocks.map "$corpus/rescue_map/ddrescuelog-created.map"
    rescue() {  # NAME OPTION...
        local name=$1
        shift
        rm -f image.bin rescue.map
        ddrescue -q -H bad-blocks.map -c 8 "$@" source.bin image.bin rescue.map || true
        cp rescue.map "$corpus/rescue_map/$name.map"
    }
    rescue finished
    rescue no-trim -n -N
    rescue no-scrape -n
    rescue stopped-copying -X 0
    rescue stopped-trimming -X 4 -s 40960
    ddrescuelog -A rescue.map >"$corpus/rescue_map/annotated.map"
)
echo "seeds: $(find "$corpus" -type f | wc -l) files, $(du -sh "$corpus" | cut -f1)"
