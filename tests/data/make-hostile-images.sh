#!/usr/bin/env bash
# Builds the hostile images: small real volumes made by mkntfs + ntfs-3g, mkfs.fat + mtools and
# sfdisk, then copies of them with bytes patched to damage one structure each
# (hostile_images.py). Writes hostile.tar.xz (every image) and hostile.cases.json (what each
# case is and what must still list) next to this script. Run as root (ntfs-3g uses FUSE).
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
mnt=$work/mnt
out=$work/hostile
mkdir -p "$mnt" "$out"
trap 'mountpoint -q "$mnt" && umount "$mnt"; rm -rf "$work"' EXIT

text() { python3 -c "import sys; sys.stdout.write(('line of text $1\\n' * ($2 // 13 + 1))[:$2])"; }
noise() { python3 -c "import random,sys; r=random.Random($1); sys.stdout.buffer.write(bytes(r.getrandbits(8) for _ in range($2)))"; }
unmount() {
    for _ in 1 2 3 4 5 6 7 8 9 10; do umount "$mnt" 2>/dev/null && return; sleep 0.5; done
    umount "$mnt"
}

# NTFS, 512-byte clusters: folders, a compressed and a sparse file, two files with enough hard
# links to need an $ATTRIBUTE_LIST, names to be patched into hostile ones, and files to keep.
ntfs=$out/base-ntfs.img
truncate -s 2M "$ntfs"
mkntfs -F -q -s 512 -c 512 -L hostile -T "$ntfs" >/dev/null 2>&1
ntfs-3g -o compression "$ntfs" "$mnt"
mkdir -p "$mnt/dir/sub" "$mnt/packed" "$mnt/keep" "$mnt/links" "$mnt/names"
setfattr -h -n system.ntfs_attrib_be -v 0x00000810 "$mnt/packed"
text a 100 >"$mnt/dir/a.txt"
noise 1 20000 >"$mnt/dir/sub/b.bin"
text c 30000 >"$mnt/packed/c.txt"
truncate -s 200000 "$mnt/sparse.bin"
for k in 1 2 3; do text "keep $k" $((1000 * k)) >"$mnt/keep/k$k.txt"; done
for l in 1 2; do
    text "linked $l" 3000 >"$mnt/links/linked$l.txt"
    for n in $(seq 1 24); do ln "$mnt/links/linked$l.txt" "$mnt/links/a hard link with a long name number $n of file $l"; done
done
for placeholder in d1 d2xx d3xx d4x d5xx; do text "$placeholder" 50 >"$mnt/names/$placeholder"; done
text long 60 >"$mnt/names/$(printf 'L%.0s' $(seq 1 255))"
unmount

# FAT12, one sector per cluster: nested folders, a fragmented file, a folder to turn into its own
# parent, long names to be patched into hostile ones, and files to keep.
fat=$out/base-fat.img
mkfs.fat -C --invariant -i 1234abcd -F 12 -s 1 -n HOSTILE "$fat" 400 >/dev/null
mmd -i "$fat" ::/Folder ::/Folder/Deeper ::/Folder/Self ::/keep ::/names
text a 700 >"$work/a"; noise 2 3000 >"$work/b"; text c 2500 >"$work/c"
mcopy -i "$fat" "$work/a" "::/A long file name.txt"
mcopy -i "$fat" "$work/c" ::/Folder/Deeper/c.txt
mcopy -i "$fat" "$work/b" ::/Folder/b.bin
for k in 1 2 3; do text "keep $k" $((700 * k)) >"$work/k$k"; mcopy -i "$fat" "$work/k$k" "::/keep/k$k.txt"; done
for n in 1 2 3 4 5; do text "name $n" 40 >"$work/n"; mcopy -i "$fat" "$work/n" "::/names/name $n.txt"; done

# FAT16 of 6 MB: the base of a folder tree 10 000 levels deep.
mkfs.fat -C --invariant -i 1234abce -F 16 -s 1 -n DEEP "$out/base-fat16.img" 6144 >/dev/null

# A disk: one FAT12 primary partition and an extended one with a logical FAT12 in it.
disk=$out/base-disk.img
truncate -s 2M "$disk"
printf 'label: dos\nstart=8, size=800, type=1\nstart=1024, type=5\nstart=1032, size=800, type=1\n' | sfdisk -q "$disk" >/dev/null
dd if="$fat" of="$disk" bs=512 seek=8 conv=notrunc status=none
dd if="$fat" of="$disk" bs=512 seek=1032 conv=notrunc status=none

python3 "$here/hostile_images.py" "$out" "$here/hostile.cases.json"
tar -C "$out" --sort=name --mtime=@0 --owner=0 --group=0 -cf - . | xz -9e >"$here/hostile.tar.xz"
echo "hostile.tar.xz: $(find "$out" -name '*.img' | wc -l) images, $(stat -c %s "$here/hostile.tar.xz") bytes"
