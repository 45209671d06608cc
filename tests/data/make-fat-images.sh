#!/usr/bin/env bash
# Builds the FAT test images (fat12, fat16, fat32) with mkfs.fat and mtools
# (no root, nothing mounted) and writes NAME.img.xz and NAME.manifest.jsonl
# next to this script.  Run by hand:
#
#     tests/data/make-fat-images.sh           # all images
#     tests/data/make-fat-images.sh fat16     # one image
#
# The output is the same on every run: mkfs.fat --invariant and -i fix the
# volume id and boot sector, SOURCE_DATE_EPOCH fixes every timestamp mtools
# writes, and file contents come from gen-content.py seeded by the path.
#
# fat_fixture.py reads the image directly after each step (cross-checked
# with mshowfat and mcopy) to log first clusters and chains, and at the end
# checks every claim against the final image before writing the manifest.
set -euo pipefail

HERE=$(cd "$(dirname "$0")" && pwd)
WORK=$(mktemp -d /tmp/korvalen-fat.XXXXXX)
cleanup() {
    if [ -n "${KEEP_WORK:-}" ]; then echo "work files kept in $WORK" >&2; else rm -rf "$WORK"; fi
}
trap cleanup EXIT

export LC_ALL=C.UTF-8
export SOURCE_DATE_EPOCH=1700000000     # 2023-11-14 22:13:20 UTC
export MTOOLS_SKIP_CHECK=1
export TZ=UTC
# no user or system mtools configuration may change how names are made
export MTOOLSRC=/dev/null

FIX="python3 $HERE/fat_fixture.py"
IMG=
LOG=

gen()  { python3 "$HERE/gen-content.py" "$@"; }
rec()  { $FIX record "$IMG" "$1" "$LOG" "${2:-}"; }
# folder PATH [JSON]
folder() { mmd -i "$IMG" "::$1"; rec "$1" "${2:-}"; }
# put PATH KIND SIZE [JSON]: copy a generated file in with mcopy, log it
put() {
    gen "$2" "$1" "$3" > "$WORK/content"
    mcopy -i "$IMG" "$WORK/content" "::$1"
    rec "$1" "${4:-}"
}
# del PATH: log the chain it has now, then mdel it
del()  { $FIX forget "$IMG" "$1" "$LOG"; mdel -i "$IMG" "::$1"; }
# deltree PATH: the same for a folder and all below it, with mdeltree
deltree() { $FIX forget "$IMG" "$1" "$LOG"; mdeltree -i "$IMG" "::$1"; }

new_fat() { # new_fat NAME KiB LABEL VOLID mkfs-options...
    local name=$1 kib=$2 label=$3 volid=$4
    shift 4
    IMG=$WORK/$name.img
    LOG=$WORK/$name.log
    : > "$LOG"
    rm -f "$IMG"
    mkfs.fat -C --invariant -i "$volid" -n "$label" "$@" "$IMG" "$kib" >/dev/null
}

close_fat() { # close_fat NAME
    local name=$1
    fsck.fat -n "$IMG" >/dev/null    # consistent, apart from what was deleted
    $FIX finish "$IMG" "$LOG" "$HERE/$name.manifest.jsonl" --summary "$WORK/$name.facts"
    echo "== $name"
    cat "$WORK/$name.facts"
    cp "$WORK/$name.facts" "$HERE/$name.facts.txt"
    xz -9 -T1 -c "$IMG" > "$HERE/$name.img.xz"
}

# Content shared by the three volumes.  CS is the cluster size in bytes,
# BIG the number of files in the large folder.
fat_tree() {
    local cs=$1 big=$2 i

    # a live file fragmented around a freed gap: A B C in a row, B deleted,
    # then D (larger than B) fills B's clusters and continues after C.  D is
    # put in another folder so B's deleted entry is not reused for it.
    folder /FRAG '{"check":["short-name"]}'
    folder /FRAG2 '{"check":["short-name"]}'
    put /FRAG/A.BIN lines $((3 * cs)) '{"check":["short-name"]}'
    put /FRAG/B.BIN lines $((2 * cs + 100)) '{"check":["short-name","not-intact"]}'
    put /FRAG/C.BIN lines $((2 * cs)) '{"check":["short-name"]}'
    if [ "$FATBITS" = 32 ]; then
        # on FAT32 mtools goes on from the FSInfo next-free hint instead of
        # searching from the start, so it only comes back to B's gap when
        # the volume is full: E after C, a ballast over the rest, then B and
        # E deleted, and D takes B's gap and then E's
        put /FRAG/E.BIN lines $((4 * cs)) '{"check":["short-name","not-intact"]}'
        head -c "$($FIX free-bytes "$IMG")" /dev/zero > "$WORK/ballast"
        mcopy -i "$IMG" "$WORK/ballast" ::/FRAG/BALLAST.BIN
        rec /FRAG/BALLAST.BIN '{"notes":["zeros"]}'
        rm -f "$WORK/ballast"
        del /FRAG/E.BIN
    fi
    del /FRAG/B.BIN
    put /FRAG2/D.BIN lines $((6 * cs + 17)) '{"check":["short-name","fragmented"]}'
    if [ "$FATBITS" = 32 ]; then
        del /FRAG/BALLAST.BIN
    fi

    put /README.TXT text 1500 '{"check":["short-name"]}'
    put /notes.txt text 700 '{"notes":["lower-case"]}'
    folder /DOCS '{"check":["short-name"]}'
    put /DOCS/NOTES.TXT text 2200 '{"check":["short-name"]}'
    put /DOCS/MEMO.TXT text 400 '{"check":["short-name"]}'
    put /DOCS/OLD.TXT text 3100 '{"check":["short-name","intact"]}'
    put /DOCS/LETTER.DOC text $((cs * 3 + 5)) '{"check":["short-name","intact"]}'
    put "/Über Straße résumé.txt" text 2000 '{"check":["long-name"]}'
    put "/Отчёт за год.txt" text 900 '{"check":["long-name"]}'
    put "/日本語のメモ.txt" text 600 '{"check":["long-name"]}'

    folder /Projects
    folder /Projects/2024
    folder /Projects/2024/Q3
    folder "/Projects/2024/Q3/Final Versions"
    put "/Projects/2024/Q3/Final Versions/report final.txt" text 5000
    put "/Projects/2024/Q3/budget sheet.csv" lines 1800
    put "/Projects/2024/plan.txt" text 1200
    put "/Projects/old draft with a long name.txt" text 4000 '{"check":["long-name","intact"]}'
    put "/Projects/Ärger mit Ölöfen.txt" text 1000 '{"check":["long-name","intact"]}'

    folder /Sizes
    put /Sizes/EMPTY.TXT text 0
    put /Sizes/ONEBYTE.TXT text 1
    put /Sizes/ONECLUS.BIN random "$cs"
    put /Sizes/CLUSPLUS.BIN random $((cs + 1))
    put /Sizes/RANDOM.BIN random $((cs * 5 + 123)) '{"notes":["incompressible"]}'

    # a folder tree removed with mdeltree
    folder /Trash
    put "/Trash/thrown away.txt" text 2600 '{"check":["intact"]}'
    put /Trash/KEEP.TXT text 300 '{"check":["intact"]}'
    folder /Trash/Inner
    put "/Trash/Inner/deep file.txt" text 1700 '{"check":["intact"]}'
    put /Trash/Inner/DEEP2.TXT lines 200 '{"check":["intact"]}'

    folder "/Big Folder" '{"check":["large-dir"]}'
    for i in $(seq -w 1 "$big"); do
        put "/Big Folder/Entry number $i with a long name.txt" lines $((40 + 10#$i * 7))
    done

    # deletions last, so nothing is written over the deleted data
    del /DOCS/OLD.TXT
    del /DOCS/LETTER.DOC
    del "/Projects/old draft with a long name.txt"
    del "/Projects/Ärger mit Ölöfen.txt"
    deltree /Trash
    for i in $(seq -w 3 7 "$big"); do
        del "/Big Folder/Entry number $i with a long name.txt"
    done
}

build_fat12() {
    new_fat fat12 1440 FLOPPY12 12121212 -F 12
    FATBITS=12
    fat_tree 512 20
    close_fat fat12
}

build_fat16() {
    new_fat fat16 16384 KORVALEN16 16161616 -F 16 -s 4
    FATBITS=16
    fat_tree 2048 40
    close_fat fat16
}

build_fat32() {
    # 33 MiB with one 512-byte sector per cluster: just over the 65525
    # clusters FAT32 needs
    new_fat fat32 33792 KORVALEN32 32323232 -F 32 -s 1
    FATBITS=32
    fat_tree 512 30
    close_fat fat32
}

targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(fat12 fat16 fat32)
for t in "${targets[@]}"; do
    case $t in
        fat12) build_fat12 ;;
        fat16) build_fat16 ;;
        fat32) build_fat32 ;;
        *) echo "unknown image $t" >&2; exit 2 ;;
    esac
done
