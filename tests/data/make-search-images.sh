#!/usr/bin/env bash
# Builds the images for the searches (lost partitions, lost MFT records, lost
# FAT folders, carving) and writes NAME.img.xz plus manifests next to this
# script:
#
#   search-wiped          64 MiB disk partitioned by sfdisk: NTFS, FAT32,
#                         FAT16 and FAT12 volumes, each made for its partition
#                         (mkntfs -p, mkfs.fat -h) and copied there with dd,
#                         then the MBR's four table entries and its 0x55 0xAA
#                         signature zeroed.
#                         search-wiped.partitions.json lists every boot
#                         sector; search-wiped.pN.manifest.jsonl the files
#   search-ntfs-reformat  16 MiB NTFS volume with 1024-byte clusters, filled,
#                         then formatted again (mkntfs -Q) with 4096-byte
#                         clusters and given a few new files.
#                         search-ntfs-reformat.lost.jsonl: the old MFT records
#                         left in free clusters
#   search-fat16-reformat 16 MiB FAT16 volume filled with folders, formatted
#                         again with the same geometry and given a few new
#                         files; one old folder copied with dd into the middle
#                         of a free cluster.  search-fat16-reformat.lost.jsonl:
#                         the old folders left in free clusters
#   search-carve          8 MiB of seeded pseudo-random bytes with the samples
#                         of formats/ written into it with dd.
#                         search-carve.planted.jsonl: where each one is
#
# search-wiped and search-ntfs-reformat need root and /dev/fuse (ntfs-3g);
# the others need neither.  Run by hand:
#
#     sudo tests/data/make-search-images.sh                  # all images
#     tests/data/make-search-images.sh search-carve          # one image
#
# File contents come from gen-content.py (seeded by the file's path).  The
# FAT and carving images are byte-for-byte reproducible; the NTFS volumes
# carry a random serial and ntfs-3g timestamps (see README.md).  Each
# manifest is written by search_fixture.py, ntfs_fixture.py or
# fat_fixture.py only after they have checked it against the raw image.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d /tmp/korvalen-search.XXXXXX)
MNT=$WORK/mnt
mkdir -p "$MNT"
cleanup() {
    if mountpoint -q "$MNT" 2>/dev/null; then
        umount "$MNT" 2>/dev/null || fusermount -u "$MNT" 2>/dev/null || umount -l "$MNT" || true
    fi
    if [ -n "${KEEP_WORK:-}" ]; then echo "work files kept in $WORK" >&2; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

export LC_ALL=C.UTF-8
export SOURCE_DATE_EPOCH=1700000000     # 2023-11-14 22:13:20 UTC
export MTOOLS_SKIP_CHECK=1
export MTOOLSRC=/dev/null
export TZ=UTC

SFIX="python3 $HERE/search_fixture.py"
NFIX="python3 $HERE/ntfs_fixture.py"
FFIX="python3 $HERE/fat_fixture.py"
gen() { python3 "$HERE/gen-content.py" "$@"; }

# NTFS helpers: files go in through the ntfs-3g mount at $MNT, logged to $LOG
LOG=
nrec()    { $NFIX record "$MNT" "$1" "$LOG" "${2:-}"; }
nput()    { gen "$2" "$1" "$3" > "$MNT$1"; nrec "$1" "${4:-}"; }
nfolder() { mkdir "$MNT$1"; nrec "$1" "${2:-}"; }
ndel()    { $NFIX forget "$1" "$LOG"; rm -rf "$MNT$1"; }
# ndos PATH NAME: give PATH a DOS name (Win32 + DOS $FILE_NAMEs)
ndos()    { setfattr -h -n system.ntfs_dos_name -v "$2" "$MNT$1"; }

# FAT helpers: files go in with mtools into the volume file $VOL
VOL=
frec()    { $FFIX record "$VOL" "$1" "$LOG" "${2:-}"; }
fput() {
    gen "$2" "$1" "$3" > "$WORK/content"
    mcopy -i "$VOL" "$WORK/content" "::$1"
    frec "$1" "${4:-}"
}
ffolder() { mmd -i "$VOL" "::$1"; frec "$1" "${2:-}"; }
fdel()    { $FFIX forget "$VOL" "$1" "$LOG"; mdel -i "$VOL" "::$1"; }
fdeltree() { $FFIX forget "$VOL" "$1" "$LOG"; mdeltree -i "$VOL" "::$1"; }

# ---- search-wiped -------------------------------------------------------
# Partitions (512-byte sectors):
#   p1 0x07 at   2048, 16384 sectors: NTFS, 4096-byte clusters
#   p2 0x0c at  18432, 67584 sectors: FAT32, 512-byte clusters (33 MiB: just
#                                     over the 65525 clusters FAT32 needs)
#   p3 0x06 at 100063, 16384 sectors: FAT16, 1024-byte clusters (100000+63:
#                                     not on a 2048 or even an 8 boundary)
#   p4 0x01 at 120000,  6144 sectors: FAT12, 1024-byte clusters
wiped_ntfs() { # wiped_ntfs FILE START SECTORS MANIFEST
    local f=$1
    LOG=$WORK/wiped-p1.log
    : > "$LOG"
    rm -f "$f"
    truncate -s $(($3 * 512)) "$f"
    mkntfs -F -f -T -q -c 4096 -s 512 -p "$2" -H 255 -S 63 -L WIPEDNTFS "$f" >/dev/null 2>&1
    ntfs-3g "$f" "$MNT"
    nfolder /Documents
    nput /Documents/report.txt text 9000
    nput /Documents/summary.txt text 300 '{"check":["resident"]}'
    nput /Documents/old-version.txt text 7000 '{"check":["intact"]}'
    nfolder /Pictures
    nput /Pictures/holiday.jpg jpeg 15000
    nput /notes.txt lines 2000
    ndel /Documents/old-version.txt
    sync
    umount "$MNT"
    ntfsinfo -m "$f" >/dev/null
    $NFIX finish "$f" "$LOG" "$4" --summary "$WORK/wiped-p1.facts"
}

wiped_fat() { # wiped_fat N FILE START KIB LABEL VOLID MANIFEST mkfs-options...
    local n=$1 f=$2 start=$3 kib=$4 label=$5 volid=$6 man=$7
    shift 7
    VOL=$f
    LOG=$WORK/wiped-p$n.log
    : > "$LOG"
    rm -f "$f"
    mkfs.fat -C --invariant -i "$volid" -n "$label" -h "$start" "$@" "$f" "$kib" >/dev/null
    ffolder "/Folder p$n"
    fput "/Folder p$n/letter to a friend.txt" text 2600
    fput "/Folder p$n/DRAFT.TXT" text 1900 '{"check":["intact"]}'
    fput /README.TXT text 650
    fput "/Über Straße $n.txt" text 1200
    fput /PHOTO.JPG jpeg 6000
    fput "/removed long name.txt" lines 3100 '{"check":["intact"]}'
    fdel "/Folder p$n/DRAFT.TXT"
    fdel "/removed long name.txt"
    fsck.fat -n "$f" >/dev/null
    $FFIX finish "$f" "$LOG" "$man" --summary "$WORK/wiped-p$n.facts"
}

build_wiped() {
    local name=search-wiped img script
    img=$WORK/$name.img
    script=$WORK/$name.sfdisk
    rm -f "$img"
    truncate -s 64M "$img"
    cat > "$script" <<EOF
label: dos
label-id: 0x4b6f7301
unit: sectors

$name.img1 : start=2048, size=16384, type=7
$name.img2 : start=18432, size=67584, type=c
$name.img3 : start=100063, size=16384, type=6
$name.img4 : start=120000, size=6144, type=1
EOF
    (cd "$WORK" && sfdisk -q "$name.img" < "$script") 2>/dev/null
    wiped_ntfs "$WORK/p1.vol" 2048 16384 "$HERE/$name.p1.manifest.jsonl"
    wiped_fat 2 "$WORK/p2.vol" 18432 33792 WIPEDFAT32 32aa0001 "$HERE/$name.p2.manifest.jsonl" -F 32 -s 1
    wiped_fat 3 "$WORK/p3.vol" 100063 8192 WIPEDFAT16 16aa0001 "$HERE/$name.p3.manifest.jsonl" -F 16 -s 2
    wiped_fat 4 "$WORK/p4.vol" 120000 3072 WIPEDFAT12 12aa0001 "$HERE/$name.p4.manifest.jsonl" -F 12 -s 2
    local p start count
    for p in "1 2048 16384" "2 18432 67584" "3 100063 16384" "4 120000 6144"; do
        read -r n start count <<< "$p"
        dd if="$WORK/p$n.vol" of="$img" bs=512 seek="$start" conv=notrunc,sparse status=none
        # the volume must sit exactly at its partition
        cmp <(dd if="$img" bs=512 skip="$start" count="$count" status=none) "$WORK/p$n.vol"
    done
    sfdisk -J "$img" > "$WORK/$name.sfdisk.json"
    sed -i "s|\"node\": \"[^\"]*/|\"node\": \"|" "$WORK/$name.sfdisk.json"
    # wipe the table: the four 16-byte entries at 446 and the signature at 510
    dd if=/dev/zero of="$img" bs=1 seek=446 count=66 conv=notrunc status=none
    if sfdisk -J "$img" >/dev/null 2>&1 && [ -n "$(sfdisk -J "$img" 2>/dev/null)" ]; then
        echo "sfdisk still sees a partition table" >&2
        exit 1
    fi
    $SFIX boot-sectors "$img" "$WORK/$name.sfdisk.json" "$script" "$HERE/$name.partitions.json" \
        --volume "1:NTFS:$name.p1.manifest.jsonl" --volume "2:FAT32:$name.p2.manifest.jsonl" \
        --volume "3:FAT16:$name.p3.manifest.jsonl" --volume "4:FAT12:$name.p4.manifest.jsonl" \
        --summary "$WORK/$name.boot.facts"
    {
        cat "$WORK/$name.boot.facts"
        echo
        echo "p1 NTFS:"; cat "$WORK/wiped-p1.facts"
        echo "p2 FAT32:"; cat "$WORK/wiped-p2.facts"
        echo "p3 FAT16:"; cat "$WORK/wiped-p3.facts"
        echo "p4 FAT12:"; cat "$WORK/wiped-p4.facts"
    } > "$HERE/$name.facts.txt"
    echo "== $name"
    cat "$WORK/$name.boot.facts"
    xz -9 -T1 -c "$img" > "$HERE/$name.img.xz"
}

# ---- search-ntfs-reformat -----------------------------------------------
# ntfs-3g stores a record's $FILE_NAMEs in the byte order of their values.
# For a Win32 + DOS pair in one folder that order is decided by the change
# times it stamps on the two (microseconds apart), so it differs from run to
# run.  The lost-record list must hold both orders (a reader taking simply the
# first or the last name then goes wrong on one of them); six files get DOS
# names, and the image is built again in the rare case one order is missing.
RETRY=
build_ntfs_reformat() {
    local attempt
    for attempt in 1 2 3 4 5 6 7 8; do
        RETRY=
        ntfs_reformat_once
        [ -n "$RETRY" ] || return 0
        echo "attempt $attempt: the Win32/DOS name orders are not both there; building again"
    done
    echo "search-ntfs-reformat: giving up" >&2
    exit 1
}

ntfs_reformat_once() {
    local name=search-ntfs-reformat img i rc
    img=$WORK/$name.img
    rm -f "$img"
    truncate -s 16M "$img"
    LOG=$WORK/ntfs-old.log
    : > "$LOG"
    mkntfs -F -f -T -q -c 1024 -s 512 -L OLDFILES "$img" >/dev/null 2>&1
    ntfs-3g "$img" "$MNT"
    # The first records (64 on) come back under the new $MFT; their files'
    # data lies at the start of the data area, where the new volume's files go.
    nfolder /Documents
    nfolder /Documents/Letters
    nfolder /Documents/Reports
    nfolder /Pictures
    nfolder /Pictures/2023
    nfolder /Music
    nfolder /Archive
    for i in $(seq -w 1 14); do
        nput "/Documents/Letters/early-letter-$i.txt" text $((3000 + 10#$i * 700))
    done
    # Records from here on lie past the new $MFT
    for i in $(seq -w 1 6); do
        nput "/Documents/Reports/report-$i.doc" text $((9000 + 10#$i * 1500))
    done
    nput "/Documents/Reports/Annual Report 2023.doc" text 14000 '{"check":["dos-name"]}'
    ndos "/Documents/Reports/Annual Report 2023.doc" "ANNUAL~1.DOC"
    nput /Documents/Letters/short-note.txt text 420 '{"check":["resident"]}'
    nput /Documents/Letters/to-anna.txt text 6500
    nput /Documents/Letters/thanks.txt text 380 '{"check":["resident"]}'
    nput "/Documents/Letters/Meeting Minutes.txt" text 8200
    ndos "/Documents/Letters/Meeting Minutes.txt" "MEETIN~1.TXT"
    nput "/Documents/Letters/Letter to the Bank.txt" text 3900
    ndos "/Documents/Letters/Letter to the Bank.txt" "LETTER~1.TXT"
    for i in $(seq -w 1 8); do
        nput "/Pictures/2023/IMG_20$i.jpg" jpeg $((7000 + 10#$i * 1100))
    done
    nput "/Pictures/2023/Summer Holiday.jpg" jpeg 6600
    ndos "/Pictures/2023/Summer Holiday.jpg" "SUMMER~1.JPG"
    nput /Pictures/2023/thumbs.db random 600 '{"check":["resident"]}'
    nput /Music/intro.mp3 mp3 21000
    nput /Music/river.mp3 mp3 17500
    nput /Music/playlist.m3u lines 300 '{"check":["resident"]}'
    nput "/Music/Best of 2023.mp3" mp3 5400
    ndos "/Music/Best of 2023.mp3" "BESTOF~1.MP3"
    nput /Archive/README.md lines 1500 '{"link_group":1}'
    nput /Archive/backup.tar.gz random 9000
    nput /Archive/notes.v2.final.txt text 5200
    nput "/Archive/Old Backup Notes.txt" text 300 '{"check":["resident"]}'
    ndos "/Archive/Old Backup Notes.txt" "OLDBAC~1.TXT"
    # four files grown in turn, a few clusters at a time: each ends up in
    # two pieces
    for i in a b c d; do : > "$MNT/Archive/part-$i.csv"; done
    $NFIX weave "$MNT" 1024 6 /Archive/part-a.csv:lines:2,3 /Archive/part-b.csv:lines:1,2 \
        /Archive/part-c.csv:lines:2 /Archive/part-d.csv:lines:3
    for i in a b c d; do nrec "/Archive/part-$i.csv"; done
    nfolder /Documents/Later
    # a second name for /Archive/README.md in another folder.  ntfs-3g keeps
    # the $FILE_NAMEs of a record in the byte order of their values, which
    # start with the parent's reference: this name (parent /Documents/Later,
    # a higher record number than /Archive's) comes after the first one.  In
    # one folder the order would depend on the timestamps that follow.
    ln "$MNT/Archive/README.md" "$MNT/Documents/Later/README"
    nrec /Documents/Later/README '{"link_group":1}'
    nput /Documents/Later/budget.xls lines 4400
    nput /Documents/Later/plan.txt text 520 '{"check":["resident"]}'
    nput /Documents/Letters/deleted-letter.txt text 5600 '{"check":["intact"]}'
    nput /Pictures/2023/deleted-photo.jpg jpeg 9800 '{"check":["intact"]}'
    ndel /Documents/Letters/deleted-letter.txt
    ndel /Pictures/2023/deleted-photo.jpg
    sync
    umount "$MNT"
    ntfsinfo -m "$img" >/dev/null
    $NFIX finish "$img" "$LOG" "$WORK/ntfs-old.manifest.jsonl" --summary "$WORK/ntfs-old.facts"
    cp "$img" "$WORK/ntfs-old.img"

    # quick format: only the new volume's own structures are written
    mkntfs -F -Q -T -q -c 4096 -s 512 -L NEWFILES "$img" >/dev/null 2>&1
    LOG=$WORK/ntfs-new.log
    : > "$LOG"
    ntfs-3g "$img" "$MNT"
    nfolder /Inbox
    nput /Inbox/welcome.txt text 250 '{"check":["resident"]}'
    nput /Inbox/new-report.txt text 30000
    nput /Inbox/camera.jpg jpeg 20000
    nput /transfer.log lines 70000
    sync
    umount "$MNT"
    ntfsinfo -m "$img" >/dev/null
    $NFIX finish "$img" "$LOG" "$HERE/$name.manifest.jsonl" --summary "$WORK/ntfs-new.facts"
    rc=0
    $SFIX ntfs-lost "$WORK/ntfs-old.img" "$WORK/ntfs-old.log" "$img" "$WORK/$name.lost.jsonl" \
        --require resident,intact,overwritten,fragmented-intact,deleted,dos-name,dos-name-last,win32-name-last,hardlink,folder,no-extension \
        --summary "$WORK/ntfs-lost.facts" || rc=$?
    if [ "$rc" -eq 3 ]; then RETRY=1; return 0; fi
    [ "$rc" -eq 0 ] || exit 1
    cp "$WORK/$name.lost.jsonl" "$HERE/$name.lost.jsonl"
    {
        echo "New volume (label NEWFILES):"; cat "$WORK/ntfs-new.facts"
        echo
        echo "Old MFT records in free clusters of the new volume:"; cat "$WORK/ntfs-lost.facts"
        echo
        echo "Old volume (label OLDFILES) as it was before the re-format:"; cat "$WORK/ntfs-old.facts"
    } > "$HERE/$name.facts.txt"
    echo "== $name"
    cat "$WORK/ntfs-lost.facts"
    xz -9 -T1 -c "$img" > "$HERE/$name.img.xz"
}

# ---- search-fat16-reformat ----------------------------------------------
build_fat16_reformat() {
    local name=search-fat16-reformat letters_c next need src dst i
    VOL=$WORK/$name.img
    LOG=$WORK/fat-old.log
    : > "$LOG"
    rm -f "$VOL"
    mkfs.fat -C --invariant -i 0f16a001 -n OLDFAT16 -F 16 -s 4 "$VOL" 16384 >/dev/null
    # in the root (which the new format clears), moved into /Moved later:
    # their clusters are the first ones, the new files' place
    fput "/Early notes.txt" text 5000
    fput /EARLY.DOC text 3300
    ffolder /Documents
    fput /Documents/CONTRACT.TXT text 4100
    fput "/Documents/Tax return 2022.txt" text 2900
    # /Documents/Letters: the new files end on its cluster, so its only copy
    # is the one crafted below; its files lie after it and survive
    ffolder /Documents/Letters
    fput "/Documents/Letters/letter to Anna.txt" text 2500
    fput /Documents/Letters/REPLY.TXT text 1300
    fput "/Documents/Letters/Ärger mit Ölöfen.txt" text 3700
    # a fragmented file: A, B (in a folder removed afterwards), C, then D
    # takes the removed folder's and B's clusters and goes on after C
    ffolder /Work
    ffolder /Scratch
    fput /Work/A.BIN lines 4096
    fput /Scratch/B.BIN lines 4196
    fput /Work/C.BIN lines 4096
    fdeltree /Scratch
    fput /Work/D.BIN lines 12305
    fput /Work/EMPTY.TXT text 0
    ffolder /Photos
    ffolder /Photos/2023
    for i in 1 2 3 4; do fput "/Photos/2023/IMG_000$i.JPG" jpeg $((3000 + i * 1234)); done
    ffolder "/Photos/2024 summer"
    fput "/Photos/2024 summer/beach at sunset.jpg" jpeg 5100
    fput "/Photos/2024 summer/Отчёт о поездке.txt" text 1800
    ffolder /Music
    ffolder /Music/Album
    fput /Music/Album/01-intro.mp3 mp3 9000
    fput "/Music/Album/02 river song.mp3" mp3 7700
    fput /Music/PLAYLIST.M3U lines 400
    ffolder /Moved
    mmove -i "$VOL" "::/Early notes.txt" ::/EARLY.DOC ::/Moved
    frec "/Moved/Early notes.txt"
    frec /Moved/EARLY.DOC
    fput /Moved/later.txt text 1500
    fsck.fat -n "$VOL" >/dev/null
    cp "$VOL" "$WORK/fat-old.img"
    read -r letters_c src <<< "$($SFIX fat-info "$VOL" /Documents/Letters)"

    # the same geometry again: old cluster numbers mean the same places
    mkfs.fat --invariant -i 0f16b002 -n NEWFAT16 -F 16 -s 4 "$VOL" >/dev/null
    LOG=$WORK/fat-new.log
    : > "$LOG"
    ffolder /Inbox
    fput "/Inbox/new file.txt" text 6000
    fput /Inbox/PICTURE.JPG jpeg 7000
    fput /NEWDOC.TXT text 1000
    # the last new file ends exactly on the cluster of /Documents/Letters
    next=$($SFIX fat-info "$VOL" free)
    need=$(( (letters_c - next + 1) * 2048 ))
    [ "$need" -gt 0 ] || { echo "new files already past /Documents/Letters" >&2; exit 1; }
    fput /Inbox/archive.log lines "$need"
    # Crafted: the first 1536 bytes of the old /Documents/Letters cluster
    # (taken from the volume as it was before the format) written 512 bytes
    # into free cluster 7000, so its "." entry starts the cluster's second
    # sector
    dst=$(( $($SFIX fat-info "$VOL" '#7000') + 512 ))
    dd if="$WORK/fat-old.img" of="$VOL" bs=512 skip=$((src / 512)) seek=$((dst / 512)) count=3 \
        conv=notrunc status=none
    fsck.fat -n "$VOL" >/dev/null
    $FFIX finish "$VOL" "$LOG" "$HERE/$name.manifest.jsonl" --summary "$WORK/fat-new.facts"
    $SFIX fat-lost "$WORK/fat-old.img" "$WORK/fat-old.log" "$VOL" "$HERE/$name.lost.jsonl" \
        --crafted "$dst" --require mid-cluster,subfolder,recoverable,overwritten,fragmented,empty,long-name \
        --summary "$WORK/fat-lost.facts"
    {
        echo "New volume (label NEWFAT16):"; cat "$WORK/fat-new.facts"
        echo
        echo "Old folders in free clusters of the new volume:"; cat "$WORK/fat-lost.facts"
    } > "$HERE/$name.facts.txt"
    echo "== $name"
    cat "$WORK/fat-lost.facts"
    xz -9 -T1 -c "$VOL" > "$HERE/$name.img.xz"
}

# ---- search-carve -------------------------------------------------------
build_carve() {
    local name=search-carve img formats=$HERE/../../data/formats.txt samples=$HERE/formats off file
    img=$WORK/$name.img
    $SFIX carve-fill "$formats" "$samples" "$img" "$WORK/$name.plan.jsonl"
    while read -r off file; do
        dd if="$samples/$file" of="$img" bs=65536 seek="$off" oflag=seek_bytes conv=notrunc status=none
    done < <(python3 -c 'import json, sys
for line in open(sys.argv[1]):
    p = json.loads(line)
    print(p["offset"], p["file"])' "$WORK/$name.plan.jsonl")
    $SFIX carve-check "$formats" "$samples" "$img" "$WORK/$name.plan.jsonl" \
        "$HERE/$name.planted.jsonl" --summary "$HERE/$name.facts.txt"
    echo "== $name"
    head -3 "$HERE/$name.facts.txt"
    xz -9 -T1 -c "$img" > "$HERE/$name.img.xz"
}

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(search-wiped search-ntfs-reformat search-fat16-reformat search-carve)
for t in "${targets[@]}"; do
    case $t in
        search-wiped) build_wiped ;;
        search-ntfs-reformat) build_ntfs_reformat ;;
        search-fat16-reformat) build_fat16_reformat ;;
        search-carve) build_carve ;;
        *) echo "unknown image $t" >&2; exit 2 ;;
    esac
done
