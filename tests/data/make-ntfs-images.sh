#!/usr/bin/env bash
# Builds the NTFS test images (ntfs-4k, ntfs-512, demo-ntfs) with mkntfs and
# ntfs-3g, and writes NAME.img.xz plus NAME.manifest.jsonl next to this
# script.  Needs root and /dev/fuse.  Run by hand; the tests only read the
# results:
#
#     sudo tests/data/make-ntfs-images.sh            # all images
#     sudo tests/data/make-ntfs-images.sh ntfs-4k    # one image
#
# File contents come from gen-content.py (seeded by the file's path), so they
# are the same on every run.  mkntfs -T zeroes its own timestamps, but
# ntfs-3g stamps files with the current time and mkntfs picks a random
# volume serial, so the image bytes differ between runs while the manifests
# do not (apart from what ntfs-3g decides, which ntfs_fixture.py re-checks).
#
# While building, every file or folder put in is logged with the MFT record
# number ntfs-3g reports (ls -i) and the sha256 of its contents read back
# through the mount.  After unmounting, ntfs_fixture.py reads the raw image
# without ntfs-3g, checks each logged claim against the on-disk records and
# writes the manifest; any mismatch stops the script.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d /tmp/korvalen-ntfs.XXXXXX)
MNT=$WORK/mnt
mkdir -p "$MNT"
export LC_ALL=C.UTF-8

cleanup() {
    if mountpoint -q "$MNT" 2>/dev/null; then
        umount "$MNT" 2>/dev/null || fusermount -u "$MNT" 2>/dev/null || umount -l "$MNT" || true
    fi
    if [ -n "${KEEP_WORK:-}" ]; then echo "work files kept in $WORK" >&2; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

FIX="python3 $HERE/ntfs_fixture.py"
LOG=
CL=

gen()  { python3 "$HERE/gen-content.py" "$@"; }
# rec PATH [JSON]: log PATH as ntfs-3g shows it now (record number, size, sha256)
rec()  { $FIX record "$MNT" "$1" "$LOG" "${2:-}"; }
# put PATH KIND SIZE [JSON]: write a generated file and log it
put()  { gen "$2" "$1" "$3" > "$MNT$1"; rec "$1" "${4:-}"; }
# folder PATH [JSON]
folder() { mkdir "$MNT$1"; rec "$1" "${2:-}"; }
# del PATH: log the deletion, then rm -rf it through ntfs-3g
del()  { $FIX forget "$1" "$LOG"; rm -rf "$MNT$1"; }
# longname PREFIX LENGTH SUFFIX: a name of exactly LENGTH characters
longname() {
    python3 -c 'import sys
p, n, s = sys.argv[1], int(sys.argv[2]), sys.argv[3]
fill = "abcdefghijklmnopqrstuvwxyz0123456789_"
body = (p + fill * 20)[: n - len(s)]
print(body + s)' "$1" "$2" "$3"
}

new_volume() { # new_volume NAME CLUSTER MIB LABEL
    local name=$1
    CL=$2
    IMG=$WORK/$name.img
    LOG=$WORK/$name.log
    : > "$LOG"
    truncate -s "$3M" "$IMG"
    mkntfs -F -f -T -q -c "$CL" -s 512 -L "$4" "$IMG" >/dev/null 2>&1
    ntfs-3g -o compression "$IMG" "$MNT"
}

close_volume() { # close_volume NAME
    local name=$1
    sync
    umount "$MNT"
    ntfsinfo -m "$IMG" >/dev/null   # the volume must open cleanly
    $FIX finish "$IMG" "$LOG" "$HERE/$name.manifest.jsonl" --summary "$WORK/$name.facts"
    echo "== $name facts"
    cat "$WORK/$name.facts"
    xz -9 -T1 -c "$IMG" > "$HERE/$name.img.xz"
    cp "$WORK/$name.facts" "$HERE/$name.facts.txt"
}

# A folder set to the compressed attribute (0x800 | directory 0x10); files
# created in it afterwards are compressed by ntfs-3g (-o compression).
compressed_folder() {
    mkdir "$MNT$1"
    setfattr -h -n system.ntfs_attrib_be -v 0x00000810 "$MNT$1"
    rec "$1" '{"notes":["compressed"]}'
}

# Fragmentation.  ntfs-3g extends a file at the cluster after its last one
# when that is free, and otherwise at the largest free range it sees.  So:
#  1. on the fresh volume a reserve file takes a contiguous region R;
#  2. after all other content, a ballast file fills the rest of the volume,
#     and deleting the reserve leaves R as the only free space;
#  3. comb and keep files are grown in turn, so their clusters interleave,
#     first in the lower part of R (A), then in the upper part (B);
#  4. deleting comb-b leaves holes in B only: fragmented.bin grows into
#     them; deleting comb-a leaves holes in A only, all below the end of
#     fragmented.bin, which then continues there.
# fragmented.bin ends with many runs and backward jumps (largest holes are
# taken first).
WEAVE_A=
WEAVE_B=
frag_setup() { # frag_setup FOLDER ROUNDS
    local d=$1 n f
    WEAVE_A="$d/comb-a.bin:lines:1,2,3,1 $d/keep-a.bin:lines:1"
    WEAVE_B="$d/comb-b.bin:lines:2,1,3 $d/keep-b.bin:lines:1"
    folder "$d"
    for f in comb-a.bin keep-a.bin comb-b.bin keep-b.bin; do : > "$MNT$d/$f"; done
    # shellcheck disable=SC2086
    n=$($FIX weave-clusters "$CL" "$2" $WEAVE_A $WEAVE_B)
    $FIX grow "$MNT" "$d/reserve.bin" lines "$CL" "$n" >/dev/null
    rec "$d/reserve.bin"
}

frag_finish() { # frag_finish FOLDER ROUNDS [EXTRA-CHECKS]
    local d=$1 n
    # created last, so the MFT records after it are unused: ntfs-3g puts a
    # file's extension records in the first free records after its base
    # record, and those must not be the deleted ones
    : > "$MNT$d/fragmented.bin"
    n=$($FIX grow "$MNT" "$d/ballast.bin" blocks "$CL" 0)
    echo "ballast: $n clusters"
    rec "$d/ballast.bin"
    del "$d/reserve.bin"
    echo "free after deleting the reserve: $(stat -f -c %a "$MNT") clusters"
    # shellcheck disable=SC2086
    $FIX weave "$MNT" "$CL" "$2" $WEAVE_A
    # shellcheck disable=SC2086
    $FIX weave "$MNT" "$CL" "$2" $WEAVE_B
    for f in comb-a.bin keep-a.bin comb-b.bin keep-b.bin; do rec "$d/$f"; done
    del "$d/comb-b.bin"
    n=$(stat -f -c %a "$MNT")
    echo "free after deleting comb-b: $n clusters"
    $FIX grow "$MNT" "$d/fragmented.bin" lines "$CL" "$n" >/dev/null
    del "$d/comb-a.bin"
    n=$(stat -f -c %a "$MNT")
    echo "free after deleting comb-a: $n clusters"
    # until full: a long run list may take a cluster for its own metadata
    n=$($FIX grow "$MNT" "$d/fragmented.bin" lines "$CL" 0)
    echo "fragmented.bin grown by $n more clusters"
    rec "$d/fragmented.bin" "{\"check\":[\"many-runs\",\"backward-jump\"${3:-}]}"
}

# Content shared by both test volumes; what differs comes in as arguments.
common_tree() {
    local big=$1 bigrandom=$2   # sizes of several compression units
    folder /Documents
    folder /Documents/Projects
    folder /Documents/Projects/2024
    folder /Documents/Projects/2024/Q3
    put /Documents/readme.txt text 400 '{"check":["resident"]}'
    put /Documents/Projects/2024/Q3/report-final.txt text 10000 '{"check":["nonresident"]}'
    put /Documents/Projects/2024/Q3/notes.txt text 300 '{"check":["resident"]}'
    put /Documents/Projects/2024/Q3/todo.txt text 250 '{"check":["resident","intact"]}'
    put /Documents/Projects/2024/budget.csv lines 3000
    put /Documents/Projects/old-draft.txt text 20000 '{"check":["nonresident","intact"]}'
    # deleted later: ntfs-3g then drops the DOS name and keeps the Win32 one
    put "/Documents/Projects/Quarterly Summary.txt" text 7000 '{"check":["intact"]}'
    setfattr -h -n system.ntfs_dos_name -v "QUARTE~1.TXT" "$MNT/Documents/Projects/Quarterly Summary.txt"
    put /Documents/LongDocumentName.txt text 2500 '{"check":["dos-name"]}'
    setfattr -h -n system.ntfs_dos_name -v "LONGDO~1.TXT" "$MNT/Documents/LongDocumentName.txt"

    # a folder tree that is removed with rm -rf at the end
    folder /Trash
    folder /Trash/letters
    put /Trash/letters/letter-1.txt text 6000 '{"check":["intact"]}'
    put /Trash/letters/letter-2.txt text 200 '{"check":["resident","intact"]}'
    put /Trash/photo.raw random 12000 '{"check":["intact"],"notes":["incompressible"]}'
    folder /Trash/letters/drafts
    put /Trash/letters/drafts/draft.txt text 1500 '{"check":["intact"]}'

    folder /Sizes
    put /Sizes/empty.txt text 0 '{"check":["resident"],"notes":["empty"]}'
    put /Sizes/one-byte.txt text 1 '{"check":["resident"]}'
    put /Sizes/one-cluster.bin random "$CL" '{"notes":["one-cluster"]}'
    put /Sizes/cluster-plus-one.bin random $((CL + 1)) '{"notes":["cluster-plus-one"]}'
    put /Sizes/four-clusters.bin random $((4 * CL)) '{"check":["nonresident"],"notes":["four-clusters"]}'
    put /Sizes/four-clusters-plus-one.bin random $((4 * CL + 1)) '{"check":["nonresident"],"notes":["four-clusters-plus-one"]}'

    # sparse: holes made by seeking, data in between, and a hole at the end
    folder /Sparse
    truncate -s 1048576 "$MNT/Sparse/holes.bin"
    gen random /Sparse/holes.bin-1 5000 | dd of="$MNT/Sparse/holes.bin" bs=1 seek=100000 conv=notrunc status=none
    gen random /Sparse/holes.bin-2 3000 | dd of="$MNT/Sparse/holes.bin" bs=1 seek=600000 conv=notrunc status=none
    rec /Sparse/holes.bin '{"check":["sparse"]}'
    gen text /Sparse/tail.bin 4000 > "$MNT/Sparse/tail.bin"
    gen text /Sparse/tail.bin-end 2000 | dd of="$MNT/Sparse/tail.bin" bs=1 seek=300000 conv=notrunc status=none
    rec /Sparse/tail.bin '{"check":["sparse"]}'

    compressed_folder /Compressed
    put /Compressed/text-big.txt text "$big" '{"check":["compressed"]}'
    put /Compressed/random-big.bin random "$bigrandom" '{"check":["compressed"],"notes":["incompressible"]}'
    put /Compressed/mixed.bin text 30000 '{"check":["compressed"]}'
    gen random /Compressed/mixed.bin-tail 40000 >> "$MNT/Compressed/mixed.bin"
    rec /Compressed/mixed.bin '{"check":["compressed"],"notes":["incompressible"]}'
    put /Compressed/small.txt text 300 '{"check":["resident"]}'
    put /Compressed/deleted-text.txt text "$big" '{"check":["compressed","intact"]}'
    folder /Compressed/Sub '{"notes":["compressed"]}'
    put /Compressed/Sub/inner.txt lines 50000 '{"check":["compressed"]}'

    # twelve extra ~200-character names for one file: ntfs-3g moves the
    # extra $FILE_NAME attributes to extension records behind an $ATTRIBUTE_LIST
    folder /Links
    put /Links/target.txt text 3000 '{"check":["attribute-list"],"link_group":1,"notes":["hardlink"]}'
    local i name
    for i in $(seq -w 1 12); do
        name=$(longname "Hard link $i of target " 200 ".txt")
        ln "$MNT/Links/target.txt" "$MNT/Links/$name"
        rec "/Links/$name" '{"check":["attribute-list"],"link_group":1,"notes":["hardlink","long-name"]}'
    done

    # named streams (ntfs-3g maps user.* extended attributes to them)
    folder /Streams
    put /Streams/with-stream.txt text 500
    setfattr -h -n user.summary -v "A short summary kept in a named stream." "$MNT/Streams/with-stream.txt"
    rec /Streams/with-stream.txt '{"stream":"summary"}'
    put /Streams/big-stream.txt text 2000
    python3 -c 'import os,sys; os.setxattr(sys.argv[1], "user.thumbnail", sys.stdin.buffer.read())' \
        "$MNT/Streams/big-stream.txt" < <(gen random /Streams/big-stream.txt:thumbnail 20000)
    rec /Streams/big-stream.txt '{"stream":"thumbnail"}'

    folder /Names
    put "/Names/Отчёт за год.txt" text 800 '{"notes":["unicode"]}'
    put "/Names/Ελληνικά.txt" text 700
    put "/Names/日本語のファイル.txt" text 1200
    folder "/Names/中文目录"
    put "/Names/中文目录/数据表.txt" lines 900
    put "/Names/🎉 party 🎈.txt" text 600 '{"notes":["emoji"]}'
    put "/Names/Über Straße résumé.txt" text 650
    put "/Names/$(longname "Long file name " 200 ".txt")" text 1000
    put "/Names/Удалённый файл.txt" text 5000 '{"check":["intact"]}'
    put "/Names/Ünïcödé 🗑 deleted.txt" text 300 '{"check":["intact"]}'

    # same name, twice, in one folder: the first copy is deleted at the end
    # and the second (written now under a temporary name) renamed to it
    folder /Same
    put /Same/report.txt text 6000 '{"check":["intact"],"notes":["same-name"]}'
    gen lines /Same/report.txt-v2 5000 > "$MNT/Same/report.txt.new"
    put /Same/memo.txt text 300 '{"check":["resident","intact"],"notes":["same-name"]}'
    gen lines /Same/memo.txt-v2 200 > "$MNT/Same/memo.txt.new"

    folder /LargeDir '{"notes":["large-dir"]}'
    for i in $(seq -w 1 "$LARGE"); do
        put "/LargeDir/entry-$i.txt" lines $((60 + 10#$i)) '{"notes":["large-dir"]}'
    done
}

common_deletions() {
    del /Documents/Projects/2024/Q3/todo.txt
    del /Documents/Projects/old-draft.txt
    del "/Documents/Projects/Quarterly Summary.txt"
    del /Trash
    del /Compressed/deleted-text.txt
    del "/Names/Удалённый файл.txt"
    del "/Names/Ünïcödé 🗑 deleted.txt"
    local i
    for i in $(seq -w 5 10 "$LARGE"); do
        del "/LargeDir/entry-$i.txt"
    done
    del /Same/report.txt
    mv "$MNT/Same/report.txt.new" "$MNT/Same/report.txt"
    rec /Same/report.txt '{"notes":["same-name"]}'
    del /Same/memo.txt
    mv "$MNT/Same/memo.txt.new" "$MNT/Same/memo.txt"
    rec /Same/memo.txt '{"notes":["same-name"]}'
}

build_ntfs_4k() {
    new_volume ntfs-4k 4096 8 KORVALEN4K
    LARGE=120
    frag_setup /Fragmented 12
    common_tree 200000 150000
    frag_finish /Fragmented 12
    common_deletions
    del /Fragmented/ballast.bin
    close_volume ntfs-4k
}

build_ntfs_512() {
    new_volume ntfs-512 512 8 KORVALEN512
    LARGE=60
    # enough runs that the $DATA attribute no longer fits one record
    frag_setup /Fragmented 160
    common_tree 40000 30000
    frag_finish /Fragmented 160 ',"data-extents"'
    common_deletions
    del /Fragmented/ballast.bin
    close_volume ntfs-512
}

build_demo() {
    new_volume demo-ntfs 4096 8 DEMO
    LARGE=0
    folder /Documents
    folder /Documents/Work
    folder /Documents/Personal
    put /Documents/Work/meeting-notes.txt text 4200
    put /Documents/Work/budget-2024.csv lines 8000
    put /Documents/Work/project-plan.txt text 15500
    put /Documents/Work/old-contract.txt text 9000 '{"check":["intact"]}'
    put /Documents/Personal/letter-to-anna.txt text 2300
    put /Documents/Personal/recipes.txt text 640
    put /Documents/Personal/shopping-list.txt text 180
    put /Documents/Personal/diary-2023.txt text 26000 '{"check":["intact"]}'
    put /Documents/todo.txt text 350 '{"check":["intact"]}'
    folder /Photos
    folder /Photos/2023
    folder /Photos/2023/Holiday
    put /Photos/2023/Holiday/IMG_0001.jpg jpeg 16000
    put /Photos/2023/Holiday/IMG_0002.jpg jpeg 17333
    put /Photos/2023/Holiday/IMG_0003.jpg jpeg 13000 '{"check":["intact"]}'
    put /Photos/2023/Holiday/IMG_0004.jpg jpeg 20333
    folder /Photos/2024
    put /Photos/2024/birthday.jpg jpeg 14666
    put /Photos/2024/garden.jpg jpeg 12166
    put /Photos/2024/screenshot.jpg jpeg 7000 '{"check":["intact"]}'
    folder /Photos/Unsorted
    put /Photos/Unsorted/scan-01.jpg jpeg 10000 '{"check":["intact"]}'
    put /Photos/Unsorted/scan-02.jpg jpeg 9333 '{"check":["intact"]}'
    folder /Photos/Unsorted/Blurry
    put /Photos/Unsorted/Blurry/blurry-1.jpg jpeg 6000 '{"check":["intact"]}'
    folder /Music
    folder /Music/Album
    put /Music/Album/01-intro.mp3 mp3 30000
    put /Music/Album/02-river.mp3 mp3 40000
    put /Music/Album/03-mountain.mp3 mp3 35000
    put /Music/Album/track-list.txt lines 600
    put /Music/podcast.mp3 mp3 25000 '{"check":["intact"]}'
    put /Music/playlist.m3u lines 420
    put /desktop.ini lines 120
    put /notes.txt text 900
    del /Documents/Work/old-contract.txt
    del /Documents/Personal/diary-2023.txt
    del /Documents/todo.txt
    del /Photos/2023/Holiday/IMG_0003.jpg
    del /Photos/2024/screenshot.jpg
    del /Music/podcast.mp3
    del /Photos/Unsorted
    close_volume demo-ntfs
}

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(ntfs-4k ntfs-512 demo-ntfs)
for t in "${targets[@]}"; do
    case $t in
        ntfs-4k) build_ntfs_4k ;;
        ntfs-512) build_ntfs_512 ;;
        demo-ntfs) build_demo ;;
        *) echo "unknown image $t" >&2; exit 2 ;;
    esac
done
