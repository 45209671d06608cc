#!/usr/bin/env bash
# Builds the partition-table test images with sfdisk and writes
# NAME.img.xz and NAME.partitions.json next to this script:
#
#   part-gap      primaries in slots 1 and 3, slot 2 empty
#   part-ext05    extended partition of type 0x05 holding three logicals
#   part-ext0f    extended partition of type 0x0f, free space between logicals
#   part-ebr-loop as part-ext05, then the last EBR's link patched to point
#                 back at the first EBR (printf | dd, below)
#   part-nosig    a valid sfdisk table whose 0x55 0xAA signature is then
#                 zeroed (printf | dd, below)
#   part-volumes  NTFS in p1, FAT16 in p2, FAT12 in logical p5, each with a
#                 few live and deleted files; one manifest per partition,
#                 part-volumes.pN.manifest.jsonl
#
# The first five need no root.  part-volumes needs root and /dev/fuse (it
# fills the NTFS volume through ntfs-3g); run it as
#     sudo tests/data/make-partition-images.sh part-volumes
# Each volume is made in its own file (mkntfs -p / mkfs.fat -h get the
# partition start for their boot sectors), checked by ntfs_fixture.py or
# fat_fixture.py, then copied into the disk image with dd at its offset.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d /tmp/korvalen-part.XXXXXX)
MNT=$WORK/mnt
mkdir -p "$MNT"
cleanup() {
    if mountpoint -q "$MNT" 2>/dev/null; then
        umount "$MNT" 2>/dev/null || umount -l "$MNT" || true
    fi
    if [ -n "${KEEP_WORK:-}" ]; then echo "work files kept in $WORK" >&2; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

export LC_ALL=C.UTF-8
export SOURCE_DATE_EPOCH=1700000000
export MTOOLS_SKIP_CHECK=1
export MTOOLSRC=/dev/null
export TZ=UTC

MBR="python3 $HERE/mbr_fixture.py"
gen() { python3 "$HERE/gen-content.py" "$@"; }

# disk NAME MIB SCRIPT-TEXT: a sparse disk image partitioned by sfdisk
disk() {
    local name=$1
    IMG=$WORK/$name.img
    SCRIPT=$WORK/$name.sfdisk
    rm -f "$IMG"
    truncate -s "$2M" "$IMG"
    # sfdisk names partitions after the device: NAME.img1, NAME.img3, ...
    printf '%s\n' "$3" | sed "s|@|$name.img|g" > "$SCRIPT"
    (cd "$WORK" && sfdisk -q "$name.img" < "$SCRIPT")
}

# finish NAME [NOTE...]: check against sfdisk -J, write the json, compress
finish() {
    local name=$1 notes=() n
    shift
    for n in "$@"; do notes+=(--note "$n"); done
    if [ -s "$WORK/$name.pre.json" ]; then
        # table as sfdisk saw it before a crafted patch
        cp "$WORK/$name.pre.json" "$WORK/$name.sfdisk.json"
    elif ! sfdisk -J "$IMG" > "$WORK/$name.sfdisk.json" 2>/dev/null; then
        rm -f "$WORK/$name.sfdisk.json"
    fi
    if [ -s "$WORK/$name.sfdisk.json" ]; then
        sed -i "s|\"node\": \"[^\"]*/|\"node\": \"|" "$WORK/$name.sfdisk.json"
        $MBR expect "$IMG" "$SCRIPT" "$HERE/$name.partitions.json" \
            --sfdisk-json "$WORK/$name.sfdisk.json" "${notes[@]}"
    else
        $MBR expect "$IMG" "$SCRIPT" "$HERE/$name.partitions.json" "${notes[@]}"
    fi
    xz -9 -T1 -c "$IMG" > "$HERE/$name.img.xz"
    echo "== $name"
    python3 -c 'import json,sys; d=json.load(open(sys.argv[1])); [print("  ", p) for p in d["partitions"]]; print("   EBRs", d["ebr_sectors"], "loop", d["ebr_loop"], "signature", d["signature"])' \
        "$HERE/$name.partitions.json"
}

build_gap() {
    disk part-gap 16 'label: dos
label-id: 0x4b6f7201
unit: sectors

@1 : start=2048, size=8192, type=c
@3 : start=18432, size=8192, type=83'
    finish part-gap "slot 2 is empty; slots 1 and 3 are used"
}

build_ext05() {
    disk part-ext05 16 'label: dos
label-id: 0x4b6f7202
unit: sectors

@1 : start=2048, size=4096, type=83
@2 : start=6144, type=5
@5 : start=8192, size=2048, type=83
@6 : size=2048, type=7
@7 : size=2048, type=b'
    finish part-ext05 "extended partition of type 0x05 with three logical partitions"
}

build_ext0f() {
    # a gap of 4096 free sectors lies between the end of p5 and p6's EBR
    disk part-ext0f 16 'label: dos
label-id: 0x4b6f7203
unit: sectors

@1 : start=2048, size=4096, type=c
@2 : start=6144, type=f
@5 : start=8192, size=4096, type=c
@6 : start=18432, size=4096, type=83'
    finish part-ext0f "extended partition of type 0x0f; sectors 12288-16383 between p5 and the EBR of p6 are free"
}

build_loop() {
    disk part-ebr-loop 16 'label: dos
label-id: 0x4b6f7204
unit: sectors

@1 : start=2048, size=4096, type=83
@2 : start=6144, type=5
@5 : start=8192, size=2048, type=83
@6 : size=2048, type=7
@7 : size=2048, type=b'
    local ebrs last
    # sfdisk itself would follow the loop and list the logicals again and
    # again, so the expected table is checked against its view from before
    sfdisk -J "$IMG" > "$WORK/part-ebr-loop.pre.json"
    read -r -a ebrs <<< "$($MBR ebrs "$IMG")"
    last=${ebrs[${#ebrs[@]}-1]}
    # The last EBR's second entry (byte 462 of its sector) is empty.  Make it
    # a link (type 0x05) whose start, relative to the extended partition, is
    # 0: the first EBR.  Entry bytes: status 00, CHS fe ff ff, type 05,
    # CHS fe ff ff, start 00000000, size 00080000 (2048, little-endian).
    printf '\x00\xfe\xff\xff\x05\xfe\xff\xff\x00\x00\x00\x00\x00\x08\x00\x00' |
        dd of="$IMG" bs=1 seek=$((last * 512 + 462)) conv=notrunc status=none
    finish part-ebr-loop "the EBR at sector $last links back to the first EBR at sector ${ebrs[0]}: each logical is listed once and the chain stops there"
}

build_nosig() {
    disk part-nosig 16 'label: dos
label-id: 0x4b6f7205
unit: sectors

@1 : start=2048, size=8192, type=83
@2 : start=10240, size=8192, type=7'
    # zero the boot signature at bytes 510-511 of sector 0
    printf '\x00\x00' | dd of="$IMG" bs=1 seek=510 conv=notrunc status=none
    finish part-nosig "sector 0 has no 0x55 0xAA signature, so it holds no partition table; raw_entries lists what its table bytes still say"
}

# ---- part-volumes -------------------------------------------------------
NFIX="python3 $HERE/ntfs_fixture.py"
FFIX="python3 $HERE/fat_fixture.py"

ntfs_part() { # ntfs_part FILE START SECTORS MANIFEST
    local f=$1 log=$WORK/p-ntfs.log
    : > "$log"
    rm -f "$f"
    truncate -s $(($3 * 512)) "$f"
    mkntfs -F -f -T -q -c 4096 -s 512 -p "$2" -H 255 -S 63 -L PARTNTFS "$f" >/dev/null 2>&1
    ntfs-3g "$f" "$MNT"
    nput() { gen "$2" "$1" "$3" > "$MNT$1"; $NFIX record "$MNT" "$1" "$log" "${4:-}"; }
    mkdir "$MNT/Reports"; $NFIX record "$MNT" /Reports "$log"
    nput /Reports/annual.txt text 9000
    nput /Reports/small.txt text 300 '{"check":["resident"]}'
    nput /Reports/removed.txt text 12000 '{"check":["intact"]}'
    nput /photo.jpg jpeg 15000
    mkdir "$MNT/Old"; $NFIX record "$MNT" /Old "$log"
    nput /Old/old-1.txt text 5000 '{"check":["intact"]}'
    $NFIX forget /Reports/removed.txt "$log"; rm "$MNT/Reports/removed.txt"
    $NFIX forget /Old "$log"; rm -rf "$MNT/Old"
    sync
    umount "$MNT"
    $NFIX finish "$f" "$log" "$4" --summary "$WORK/p-ntfs.facts"
}

fat_part() { # fat_part FILE START KIB LABEL VOLID MANIFEST mkfs-options...
    local f=$1 start=$2 kib=$3 label=$4 volid=$5 man=$6 log
    shift 6
    log=$WORK/p-$label.log
    : > "$log"
    rm -f "$f"
    mkfs.fat -C --invariant -i "$volid" -n "$label" -h "$start" "$@" "$f" "$kib" >/dev/null
    fput() {
        gen "$2" "$1" "$3" > "$WORK/content"
        mcopy -i "$f" "$WORK/content" "::$1"
        $FFIX record "$f" "$1" "$log" "${4:-}"
    }
    mmd -i "$f" ::Letters; $FFIX record "$f" /Letters "$log"
    fput "/Letters/letter one.txt" text 2500
    fput /Letters/DRAFT.TXT text 1800 '{"check":["intact"]}'
    fput /README.TXT text 600
    fput "/Über Straße résumé.txt" text 1100
    fput "/deleted long name.txt" text 3300 '{"check":["intact"]}'
    $FFIX forget "$f" /Letters/DRAFT.TXT "$log"; mdel -i "$f" ::/Letters/DRAFT.TXT
    $FFIX forget "$f" "/deleted long name.txt" "$log"; mdel -i "$f" "::/deleted long name.txt"
    fsck.fat -n "$f" >/dev/null
    $FFIX finish "$f" "$log" "$man" --summary "$WORK/p-$label.facts"
}

build_volumes() {
    # 24 MiB: p1 NTFS 8 MiB, p2 FAT16 8 MiB, p3 extended (0x05) with p5 FAT12 4 MiB
    disk part-volumes 24 'label: dos
label-id: 0x4b6f7206
unit: sectors

@1 : start=2048, size=16384, type=7
@2 : start=18432, size=16384, type=6
@3 : start=34816, type=5
@5 : start=36864, size=8192, type=1'
    ntfs_part "$WORK/p1.vol" 2048 16384 "$HERE/part-volumes.p1.manifest.jsonl"
    fat_part "$WORK/p2.vol" 18432 8192 PARTFAT16 0616a0b0 "$HERE/part-volumes.p2.manifest.jsonl" -F 16 -s 2
    fat_part "$WORK/p5.vol" 36864 4096 PARTFAT12 0512a0b0 "$HERE/part-volumes.p5.manifest.jsonl" -F 12
    dd if="$WORK/p1.vol" of="$IMG" bs=512 seek=2048 conv=notrunc,sparse status=none
    dd if="$WORK/p2.vol" of="$IMG" bs=512 seek=18432 conv=notrunc,sparse status=none
    dd if="$WORK/p5.vol" of="$IMG" bs=512 seek=36864 conv=notrunc,sparse status=none
    # the volumes must sit exactly at their partitions
    cmp <(dd if="$IMG" bs=512 skip=2048 count=16384 status=none) "$WORK/p1.vol"
    cmp <(dd if="$IMG" bs=512 skip=18432 count=16384 status=none) "$WORK/p2.vol"
    cmp <(dd if="$IMG" bs=512 skip=36864 count=8192 status=none) "$WORK/p5.vol"
    {
        echo "p1 NTFS:"; cat "$WORK/p-ntfs.facts"
        echo "p2 FAT16:"; cat "$WORK/p-PARTFAT16.facts"
        echo "p5 FAT12:"; cat "$WORK/p-PARTFAT12.facts"
    } > "$HERE/part-volumes.facts.txt"
    finish part-volumes "p1 NTFS (4096-byte clusters), p2 FAT16, p5 FAT12; manifests part-volumes.p1/p2/p5.manifest.jsonl"
}

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(part-gap part-ext05 part-ext0f part-ebr-loop part-nosig part-volumes)
for t in "${targets[@]}"; do
    case $t in
        part-gap) build_gap ;;
        part-ext05) build_ext05 ;;
        part-ext0f) build_ext0f ;;
        part-ebr-loop) build_loop ;;
        part-nosig) build_nosig ;;
        part-volumes) build_volumes ;;
        *) echo "unknown image $t" >&2; exit 2 ;;
    esac
done
