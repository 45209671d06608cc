#!/usr/bin/env bash
# Makes the sample files that prove the signatures in data/formats.txt.
#
# Every sample is written by a real producer from a Debian 12 package; the
# only exceptions are sample.mid (a standard MIDI file written byte by byte by
# write_smf below and checked with timidity) and sample-2.rar (a stored RAR 5
# archive written by write_rar5 below and checked with bsdtar). sample.rar is
# the RAR 4 archive shipped in afl++-doc, because no RAR writer is packaged.
#
# Needed Debian packages (this script installs nothing; it only checks):
#   imagemagick ffmpeg sox lame flac vorbis-tools opus-tools p7zip-full
#   libarchive-tools gcc gcc-mingw-w64-x86-64 gcc-mingw-w64-i686 mkvtoolnix
#   libheif-examples libopenjp2-tools timidity sqlite3 ghostscript
#   djvulibre-bin gcab cabextract afl++-doc libreoffice-writer-nogui
#   libreoffice-calc-nogui libreoffice-impress-nogui pandoc
#   default-jdk-headless wabt fonttools python3-brotli fonts-dejavu-core
#   fonts-urw-base35 lzip zstd cpio xz-utils bzip2 gzip zip tar
#   dpkg mpack db5.3-util qemu-utils poppler-utils groff-base python3
#
# Usage: tests/data/formats/make-samples.sh   (writes next to itself)
set -euo pipefail

packages=(
    imagemagick ffmpeg sox lame flac vorbis-tools opus-tools p7zip-full
    libarchive-tools gcc gcc-mingw-w64-x86-64 gcc-mingw-w64-i686 mkvtoolnix
    libheif-examples libopenjp2-tools timidity sqlite3 ghostscript
    djvulibre-bin gcab cabextract afl++-doc libreoffice-writer-nogui
    libreoffice-calc-nogui libreoffice-impress-nogui pandoc
    default-jdk-headless wabt fonttools python3-brotli fonts-dejavu-core
    fonts-urw-base35 lzip zstd cpio xz-utils bzip2 gzip zip tar
    dpkg mpack db5.3-util qemu-utils poppler-utils groff-base python3
)

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done
if ((${#missing[@]})); then
    echo "make-samples.sh: missing Debian packages: ${missing[*]}" >&2
    echo "install them with: apt-get install --no-install-recommends ${missing[*]}" >&2
    exit 1
fi

OUT="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
W="$(mktemp -d)"
trap 'rm -rf "$W"' EXIT
cd "$W"

export LC_ALL=C.UTF-8 TZ=UTC
export SOURCE_DATE_EPOCH=1700000000
export HOME="$W/home"
mkdir -p "$HOME"

# ImageMagick 6 under its own name: /usr/local/bin/convert may be a wrapper.
IM=convert-im6.q16
FF=(ffmpeg -nostdin -hide_banner -loglevel error -y)
BITEXACT=(-fflags +bitexact -flags:v +bitexact -flags:a +bitexact -map_metadata -1)
SOFFICE=(soffice --headless "-env:UserInstallation=file://$W/lo-profile")

rm -f "$OUT"/sample.* "$OUT"/sample-*.* "$OUT/manifest.jsonl"
NOTES="$W/notes.tsv"
: >"$NOTES"

# note FILE EXT HOW: records one manifest line; FILE must already be in $OUT.
note() {
    [[ -s "$OUT/$1" ]] || { echo "make-samples.sh: $1 was not made" >&2; exit 1; }
    printf '%s\t%s\t%s\n' "$1" "$2" "$3" >>"$NOTES"
}
# put SRC NAME: copies a file made in $W into $OUT.
put() { cp "$1" "$OUT/$2"; }

# ---------------------------------------------------------------- sources
$IM -size 32x32 gradient:'#3060c0-#f0c040' -strip src.png
$IM -size 32x32 gradient:'#3060c0-#f0c040' -strip src.ppm
$IM -size 64x32 xc:white -fill black -draw 'rectangle 8,8 40,24' -strip -monochrome src.pbm
sox -R -n -r 8000 -c 1 -b 16 tone.wav synth 0.25 sine 440 fade 0 0.25 0.05
sox -R -n -r 44100 -c 1 -b 16 tone44.wav synth 0.1 sine 440
VSRC=(-f lavfi -i 'testsrc2=size=64x48:rate=4:duration=0.5')
ASRC=(-f lavfi -i 'sine=frequency=440:sample_rate=8000:duration=0.25')
ASRC48=(-f lavfi -i 'sine=frequency=440:sample_rate=48000:duration=0.1')
printf 'Korvalen sample document.\nA second line of text.\n' >doc.txt
printf '%% Korvalen sample\n\n# Heading\n\nA short paragraph of text.\n' >doc.md
printf 'name,count\napples,3\npears,5\n' >sheet.csv
cat >deck.fodp <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<office:document xmlns:office="urn:oasis:names:tc:opendocument:xmlns:office:1.0" xmlns:draw="urn:oasis:names:tc:opendocument:xmlns:drawing:1.0" xmlns:text="urn:oasis:names:tc:opendocument:xmlns:text:1.0" xmlns:svg="urn:oasis:names:tc:opendocument:xmlns:svg-compatible:1.0" office:version="1.3" office:mimetype="application/vnd.oasis.opendocument.presentation">
 <office:body>
  <office:presentation>
   <draw:page draw:name="page1">
    <draw:frame svg:x="2cm" svg:y="2cm" svg:width="10cm" svg:height="3cm">
     <draw:text-box><text:p>Korvalen sample slide</text:p></draw:text-box>
    </draw:frame>
   </draw:page>
  </office:presentation>
 </office:body>
</office:document>
EOF
cat >box.ps <<'EOF'
%!PS
newpath 10 10 moveto 60 10 lineto 60 40 lineto 10 40 lineto closepath
0.2 0.4 0.8 setrgbcolor fill
showpage
EOF
touch -d "@$SOURCE_DATE_EPOCH" doc.txt doc.md sheet.csv

# ---------------------------------------------------------------- images
$IM src.png -quality 80 -strip "$OUT/sample.jpg"
note sample.jpg .jpg "$IM -size 32x32 gradient:... -quality 80 -strip sample.jpg"
"${FF[@]}" "${VSRC[@]}" -frames:v 1 "${BITEXACT[@]}" -c:v mjpeg -pix_fmt yuvj420p "$OUT/sample-2.jpg"
note sample-2.jpg .jpg "ffmpeg -f lavfi -i testsrc2 -frames:v 1 -c:v mjpeg sample-2.jpg"

$IM src.png -define png:exclude-chunks=date,time "$OUT/sample.png"
note sample.png .png "$IM -size 32x32 gradient:... -strip sample.png"
"${FF[@]}" "${VSRC[@]}" -frames:v 1 "${BITEXACT[@]}" -c:v png "$OUT/sample-2.png"
note sample-2.png .png "ffmpeg -f lavfi -i testsrc2 -frames:v 1 -c:v png sample-2.png"

$IM src.png -colors 16 "$OUT/sample.gif"
note sample.gif .gif "$IM ... -colors 16 sample.gif (GIF89a)"
$IM src.png -colors 16 "GIF87:$OUT/sample-2.gif"
note sample-2.gif .gif "$IM ... -colors 16 GIF87:sample-2.gif (GIF87a)"

$IM src.png "BMP:$OUT/sample.bmp"
note sample.bmp .bmp "$IM ... BMP:sample.bmp (124-byte V5 header)"
$IM src.png -colors 16 -type Palette "BMP3:$OUT/sample-2.bmp"
note sample-2.bmp .bmp "$IM ... -type Palette BMP3:sample-2.bmp (40-byte header, palette)"
"${FF[@]}" "${VSRC[@]}" -frames:v 1 "${BITEXACT[@]}" -c:v bmp "$OUT/sample-3.bmp"
note sample-3.bmp .bmp "ffmpeg -f lavfi -i testsrc2 -frames:v 1 -c:v bmp sample-3.bmp"

$IM src.png -compress lzw "$OUT/sample.tif"
note sample.tif .tif "$IM ... -compress lzw sample.tif (little-endian II)"
$IM src.png -endian MSB -compress none "$OUT/sample-2.tif"
note sample-2.tif .tif "$IM ... -endian MSB sample-2.tif (big-endian MM)"

$IM src.png "$OUT/sample.psd"
note sample.psd .psd "$IM ... sample.psd"

$IM src.png -quality 70 "$OUT/sample.webp"
note sample.webp .webp "$IM ... -quality 70 sample.webp (lossy VP8)"
$IM src.png -define webp:lossless=true "$OUT/sample-2.webp"
note sample-2.webp .webp "$IM ... -define webp:lossless=true sample-2.webp (VP8L)"
$IM src.png -alpha set -channel A -evaluate set 50% +channel -quality 70 "$OUT/sample-3.webp"
note sample-3.webp .webp "$IM ... with alpha sample-3.webp (VP8X)"

$IM src.png -resize 16x16 "$OUT/sample.ico"
note sample.ico .ico "$IM ... -resize 16x16 sample.ico"
$IM src.png -define icon:auto-resize=32,16 "$OUT/sample-2.ico"
note sample-2.ico .ico "$IM ... -define icon:auto-resize=32,16 sample-2.ico (two images)"

$IM src.png -quality 90 src.jpg
heif-enc -q 50 -o "$OUT/sample.heic" src.jpg >/dev/null
note sample.heic .heic "heif-enc -q 50 -o sample.heic src.jpg"
$IM src.png -quality 50 "$OUT/sample-2.heic"
note sample-2.heic .heic "$IM ... -quality 50 sample-2.heic"

heif-enc -A -q 50 -o "$OUT/sample.avif" src.jpg >/dev/null
note sample.avif .avif "heif-enc -A -q 50 -o sample.avif src.jpg"
$IM src.png -quality 50 "$OUT/sample-2.avif"
note sample-2.avif .avif "$IM ... -quality 50 sample-2.avif"

opj_compress -i src.ppm -o "$OUT/sample.jp2" >/dev/null
note sample.jp2 .jp2 "opj_compress -i src.ppm -o sample.jp2"
$IM src.png "JP2:$OUT/sample-2.jp2"
note sample-2.jp2 .jp2 "$IM ... JP2:sample-2.jp2"

# ---------------------------------------------------------------- documents
"${SOFFICE[@]}" --convert-to pdf --outdir lo doc.txt >/dev/null 2>&1
put lo/doc.pdf sample.pdf
note sample.pdf .pdf "soffice --headless --convert-to pdf doc.txt"
gs -q -dSAFER -dNOPAUSE -dBATCH -sDEVICE=pdfwrite -o "$OUT/sample-2.pdf" box.ps
note sample-2.pdf .pdf "gs -sDEVICE=pdfwrite -o sample-2.pdf box.ps"

groff -Tps doc.txt >"$OUT/sample.ps"
note sample.ps .ps "groff -Tps doc.txt"
pdftops "$OUT/sample-2.pdf" "$OUT/sample-2.ps"
note sample-2.ps .ps "pdftops sample-2.pdf sample-2.ps"

pdftops -eps "$OUT/sample-2.pdf" "$OUT/sample.eps"
note sample.eps .eps "pdftops -eps sample-2.pdf sample.eps"
$IM src.png "EPS2:$OUT/sample-2.eps"
note sample-2.eps .eps "$IM ... EPS2:sample-2.eps"

"${SOFFICE[@]}" --convert-to rtf --outdir lo doc.txt >/dev/null 2>&1
put lo/doc.rtf sample.rtf
note sample.rtf .rtf "soffice --headless --convert-to rtf doc.txt"
pandoc -s doc.md -t rtf -o "$OUT/sample-2.rtf"
note sample-2.rtf .rtf "pandoc -s doc.md -t rtf -o sample-2.rtf"

"${SOFFICE[@]}" --convert-to doc --outdir lo doc.txt >/dev/null 2>&1
put lo/doc.doc sample.doc
note sample.doc .doc "soffice --headless --convert-to doc doc.txt (Word 97)"
"${SOFFICE[@]}" --convert-to xls --outdir lo sheet.csv >/dev/null 2>&1
put lo/sheet.xls sample-2.doc
note sample-2.doc .doc "soffice --headless --convert-to xls sheet.csv (an Excel 97 workbook: same OLE container)"

"${SOFFICE[@]}" --convert-to docx --outdir lo doc.txt >/dev/null 2>&1
put lo/doc.docx sample.docx
note sample.docx .docx "soffice --headless --convert-to docx doc.txt"
pandoc doc.md -o "$OUT/sample-2.docx"
note sample-2.docx .docx "pandoc doc.md -o sample-2.docx"

"${SOFFICE[@]}" --convert-to xlsx --outdir lo sheet.csv >/dev/null 2>&1
put lo/sheet.xlsx sample.xlsx
note sample.xlsx .xlsx "soffice --headless --convert-to xlsx sheet.csv"

"${SOFFICE[@]}" --convert-to pptx --outdir lo deck.fodp >/dev/null 2>&1
put lo/deck.pptx sample.pptx
note sample.pptx .pptx "soffice --headless --convert-to pptx deck.fodp"
pandoc doc.md -o "$OUT/sample-2.pptx"
note sample-2.pptx .pptx "pandoc doc.md -o sample-2.pptx"

"${SOFFICE[@]}" --convert-to odt --outdir lo doc.txt >/dev/null 2>&1
put lo/doc.odt sample.odt
note sample.odt .odt "soffice --headless --convert-to odt doc.txt"
pandoc doc.md -o "$OUT/sample-2.odt"
note sample-2.odt .odt "pandoc doc.md -o sample-2.odt"

"${SOFFICE[@]}" --convert-to ods --outdir lo sheet.csv >/dev/null 2>&1
put lo/sheet.ods sample.ods
note sample.ods .ods "soffice --headless --convert-to ods sheet.csv"

"${SOFFICE[@]}" --convert-to odp --outdir lo deck.fodp >/dev/null 2>&1
put lo/deck.odp sample.odp
note sample.odp .odp "soffice --headless --convert-to odp deck.fodp"

pandoc doc.md -o "$OUT/sample.epub"
note sample.epub .epub "pandoc doc.md -o sample.epub"
"${SOFFICE[@]}" --convert-to epub --outdir lo lo/doc.odt >/dev/null 2>&1
put lo/doc.epub sample-2.epub
note sample-2.epub .epub "soffice --headless --convert-to epub doc.odt"

"${SOFFICE[@]}" --convert-to html --outdir lo doc.txt >/dev/null 2>&1
put lo/doc.html sample.html
note sample.html .html "soffice --headless --convert-to html doc.txt"
pandoc -s doc.md -t html4 -o "$OUT/sample-2.html"
note sample-2.html .html "pandoc -s doc.md -t html4 -o sample-2.html"

"${SOFFICE[@]}" --convert-to fodt --outdir lo doc.txt >/dev/null 2>&1
put lo/doc.fodt sample.xml
note sample.xml .xml "soffice --headless --convert-to fodt doc.txt (flat ODF XML)"
pandoc -s doc.md -t docbook5 -o "$OUT/sample-2.xml"
note sample-2.xml .xml "pandoc -s doc.md -t docbook5 -o sample-2.xml"

c44 src.ppm "$OUT/sample.djvu"
note sample.djvu .djvu "c44 src.ppm sample.djvu"
cjb2 src.pbm "$OUT/sample-2.djvu"
note sample-2.djvu .djvu "cjb2 src.pbm sample-2.djvu (bitonal)"

mpack -s 'Korvalen sample' -o "$OUT/sample.eml" doc.txt
note sample.eml .eml "mpack -s 'Korvalen sample' -o sample.eml doc.txt"
python3 - "$OUT/sample-2.eml" <<'EOF'
import sys
from email.message import EmailMessage
from email.utils import formatdate
m = EmailMessage()
m["From"] = "Alice <alice@example.org>"
m["To"] = "Bob <bob@example.org>"
m["Subject"] = "Korvalen sample"
m["Date"] = formatdate(1700000000, usegmt=True)
m["Message-ID"] = "<sample-2@example.org>"
m.set_content("A short message body.\n")
with open(sys.argv[1], "wb") as f:
    f.write(bytes(m))
EOF
note sample-2.eml .eml "python3 email.message.EmailMessage -> bytes"

# ---------------------------------------------------------------- archives
mkdir -p tree/docs
cp doc.txt tree/docs/readme.txt
cp src.png tree/picture.png
touch -d "@$SOURCE_DATE_EPOCH" tree tree/docs tree/docs/readme.txt tree/picture.png

(cd tree && zip -X -q -r "$OUT/sample.zip" docs picture.png)
note sample.zip .zip "zip -X -r sample.zip docs picture.png"
(cd tree && 7z a -tzip -bd -bso0 "$OUT/sample-2.zip" picture.png docs >/dev/null)
note sample-2.zip .zip "7z a -tzip sample-2.zip picture.png docs"
(cd tree && bsdtar --format zip -cf "$OUT/sample-3.zip" picture.png docs)
note sample-3.zip .zip "bsdtar --format zip -cf sample-3.zip picture.png docs"

put /usr/share/doc/afl++-doc/afl/testcases/archives/common/rar/small_archive.rar sample.rar
note sample.rar .rar "copied from afl++-doc: testcases/archives/common/rar/small_archive.rar (RAR 4)"

# A stored (uncompressed) RAR 5 archive, one file, header CRCs computed.
python3 - "$OUT/sample-2.rar" tree/docs/readme.txt <<'EOF'
import sys, zlib

def vint(n):
    out = bytearray()
    while True:
        b = n & 0x7F
        n >>= 7
        if n:
            out.append(b | 0x80)
        else:
            out.append(b)
            return bytes(out)

def block(body):
    # body starts with the header type; prefix size and CRC32 of size+body
    sized = vint(len(body)) + body
    return zlib.crc32(sized).to_bytes(4, "little") + sized

out_path, src = sys.argv[1], sys.argv[2]
data = open(src, "rb").read()
name = b"readme.txt"
main = block(vint(1) + vint(0) + vint(0))        # main header, no flags
fhdr = (vint(2)                                 # file header
        + vint(0x0002)                          # header flags: data area present
        + vint(len(data))                       # data size
        + vint(0x0004 | 0x0002)                 # file flags: CRC32 and mtime present
        + vint(len(data))                       # unpacked size
        + vint(0o644)                           # attributes (Unix mode)
        + (1700000000).to_bytes(4, "little")    # mtime
        + zlib.crc32(data).to_bytes(4, "little")
        + vint(0)                               # compression: v0, stored
        + vint(1)                               # host OS: Unix
        + vint(len(name)) + name)
end = block(vint(5) + vint(0) + vint(0))         # end of archive
with open(out_path, "wb") as f:
    f.write(b"Rar!\x1a\x07\x01\x00" + main + block(fhdr) + data + end)
EOF
bsdtar -xOf "$OUT/sample-2.rar" readme.txt | cmp - tree/docs/readme.txt
note sample-2.rar .rar "write_rar5 in make-samples.sh (stored RAR 5, checked with bsdtar -x)"

(cd tree && 7z a -t7z -bd -bso0 "$OUT/sample.7z" picture.png docs >/dev/null)
note sample.7z .7z "7z a -t7z sample.7z picture.png docs"

gzip -9 -n -c doc.txt >"$OUT/sample.gz"
note sample.gz .gz "gzip -9 -n -c doc.txt"
7z a -tgzip -bd -bso0 -so dummy doc.txt >"$OUT/sample-2.gz" 2>/dev/null
note sample-2.gz .gz "7z a -tgzip -so doc.txt"

bzip2 -9 -c doc.txt >"$OUT/sample.bz2"
note sample.bz2 .bz2 "bzip2 -9 -c doc.txt"
bzip2 -c </dev/null >"$OUT/sample-2.bz2"
note sample-2.bz2 .bz2 "bzip2 -c </dev/null (empty stream: no block header)"

xz -c doc.txt >"$OUT/sample.xz"
note sample.xz .xz "xz -c doc.txt"
7z a -txz -bd -bso0 -so dummy doc.txt >"$OUT/sample-2.xz" 2>/dev/null
note sample-2.xz .xz "7z a -txz -so doc.txt"

TAROPTS=(--sort=name --mtime="@$SOURCE_DATE_EPOCH" --owner=0 --group=0 --numeric-owner)
tar -C tree --format=gnu "${TAROPTS[@]}" -cf "$OUT/sample.tar" docs picture.png
note sample.tar .tar "tar --format=gnu -cf sample.tar docs picture.png"
tar -C tree --format=posix --pax-option=exthdr.name=%d/PaxHeaders/%f,delete=atime,delete=ctime "${TAROPTS[@]}" -cf "$OUT/sample-2.tar" docs picture.png
note sample-2.tar .tar "tar --format=posix -cf sample-2.tar docs picture.png"
(cd tree && bsdtar --format ustar -cf "$OUT/sample-3.tar" docs picture.png)
note sample-3.tar .tar "bsdtar --format ustar -cf sample-3.tar docs picture.png"

(cd tree && SOURCE_DATE_EPOCH=$SOURCE_DATE_EPOCH gcab -c "$OUT/sample.cab" docs/readme.txt picture.png)
note sample.cab .cab "gcab -c sample.cab docs/readme.txt picture.png"
(cd tree && gcab -c -z "$OUT/sample-2.cab" docs/readme.txt)
note sample-2.cab .cab "gcab -c -z sample-2.cab docs/readme.txt (MSZIP)"
cabextract -q -t "$OUT/sample.cab" >/dev/null

lzip -c doc.txt >"$OUT/sample.lz"
note sample.lz .lz "lzip -c doc.txt"

zstd -q -c doc.txt >"$OUT/sample.zst"
note sample.zst .zst "zstd -c doc.txt"

(cd tree && printf 'docs\ndocs/readme.txt\npicture.png\n' | cpio --quiet -o -H newc --reproducible >"$OUT/sample.cpio")
note sample.cpio .cpio "cpio -o -H newc (070701)"
(cd tree && printf 'docs\ndocs/readme.txt\npicture.png\n' | cpio --quiet -o -H odc --reproducible >"$OUT/sample-2.cpio")
note sample-2.cpio .cpio "cpio -o -H odc (070707)"
(cd tree && printf 'docs/readme.txt\n' | cpio --quiet -o -H crc --reproducible >"$OUT/sample-3.cpio")
note sample-3.cpio .cpio "cpio -o -H crc (070702)"

mkdir -p deb/DEBIAN deb/usr/share/doc/korvalen-sample
cat >deb/DEBIAN/control <<'EOF'
Package: korvalen-sample
Version: 1.0
Architecture: all
Maintainer: Korvalen developers <dev@example.org>
Description: sample package for the format tests
EOF
cp doc.txt deb/usr/share/doc/korvalen-sample/readme.txt
dpkg-deb --root-owner-group -Zxz --build deb "$OUT/sample.deb" >/dev/null
note sample.deb .deb "dpkg-deb --root-owner-group --build deb sample.deb"

# ---------------------------------------------------------------- audio
sox tone.wav "$OUT/sample.wav"
note sample.wav .wav "sox -R -n -r 8000 -c 1 -b 16 sample.wav synth 0.25 sine 440"
"${FF[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:a pcm_u8 "$OUT/sample-2.wav"
note sample-2.wav .wav "ffmpeg -f lavfi -i sine -c:a pcm_u8 sample-2.wav"

python3 - "$OUT/sample.mid" <<'EOF'
import sys
# write_smf: a format-0 standard MIDI file, 96 ticks per quarter, four notes.
def vlq(n):
    out = [n & 0x7F]
    n >>= 7
    while n:
        out.insert(0, (n & 0x7F) | 0x80)
        n >>= 7
    return bytes(out)
ev = bytearray()
ev += vlq(0) + b"\xff\x51\x03\x07\xa1\x20"          # tempo 500000 us per quarter
ev += vlq(0) + b"\xc0\x00"                          # program change: piano
for note in (60, 64, 67, 72):
    ev += vlq(0) + bytes([0x90, note, 0x60])
    ev += vlq(96) + bytes([0x80, note, 0x40])
ev += vlq(0) + b"\xff\x2f\x00"                      # end of track
smf = b"MThd" + (6).to_bytes(4, "big") + (0).to_bytes(2, "big") + (1).to_bytes(2, "big") + (96).to_bytes(2, "big")
smf += b"MTrk" + len(ev).to_bytes(4, "big") + bytes(ev)
open(sys.argv[1], "wb").write(smf)
EOF
: >nopatches.cfg   # no instruments needed: timidity only has to parse the file
timidity -c nopatches.cfg -Ow -o mid.wav "$OUT/sample.mid" >timidity.log 2>&1
grep -q 'Format: 0  Tracks: 1  Divisions: 96' timidity.log
! grep -Eqi 'not a midi|error|corrupt|unexpected' timidity.log
[[ -s mid.wav ]]
note sample.mid .mid "write_smf in make-samples.sh (format 0; parsed and rendered by timidity -Ow as a check)"

oggenc -Q -q 0 --serial 1 -o "$OUT/sample.ogg" tone.wav
note sample.ogg .ogg "oggenc -q 0 -o sample.ogg tone.wav"
"${FF[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:a libvorbis -q:a 0 "$OUT/sample-2.ogg"
note sample-2.ogg .ogg "ffmpeg -f lavfi -i sine -c:a libvorbis sample-2.ogg"

opusenc --quiet --serial 1 --bitrate 16 tone.wav "$OUT/sample.opus"
note sample.opus .opus "opusenc --bitrate 16 tone.wav sample.opus"
"${FF[@]}" "${ASRC48[@]}" "${BITEXACT[@]}" -c:a libopus -b:a 16k "$OUT/sample-2.opus"
note sample-2.opus .opus "ffmpeg -f lavfi -i sine -c:a libopus sample-2.opus"

"${FF[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:a libspeex "$OUT/sample.spx"
note sample.spx .spx "ffmpeg -f lavfi -i sine -c:a libspeex sample.spx"

flac -s -f -o "$OUT/sample.flac" tone.wav
note sample.flac .flac "flac -o sample.flac tone.wav"
"${FF[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:a flac "$OUT/sample-2.flac"
note sample-2.flac .flac "ffmpeg -f lavfi -i sine -c:a flac sample-2.flac"

lame --quiet -b 32 --add-id3v2 --tt 'Korvalen sample' --ta Korvalen tone.wav "$OUT/sample.mp3"
note sample.mp3 .mp3 "lame -b 32 --add-id3v2 --tt ... tone.wav sample.mp3 (ID3v2.3 tag)"
"${FF[@]}" "${ASRC[@]}" -c:a libmp3lame -b:a 32k -metadata title='Korvalen sample' "$OUT/sample-2.mp3"
note sample-2.mp3 .mp3 "ffmpeg -f lavfi -i sine -c:a libmp3lame -metadata title=... sample-2.mp3 (ID3v2.4 tag)"
lame --quiet -b 32 tone.wav "$OUT/sample-3.mp3"
note sample-3.mp3 .mp3 "lame -b 32 tone.wav sample-3.mp3 (no tag; Info frame first)"
lame --quiet -V 6 tone44.wav "$OUT/sample-4.mp3"
note sample-4.mp3 .mp3 "lame -V 6 tone44.wav sample-4.mp3 (no tag, VBR; Xing frame first)"
"${FF[@]}" "${ASRC48[@]}" "${BITEXACT[@]}" -ac 2 -c:a libmp3lame -b:a 64k -id3v2_version 0 "$OUT/sample-5.mp3"
note sample-5.mp3 .mp3 "ffmpeg -f lavfi -i sine -ac 2 -c:a libmp3lame -id3v2_version 0 sample-5.mp3 (stereo, Info frame first)"

"${FF[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:a aac -b:a 16k -f ipod "$OUT/sample.m4a"
note sample.m4a .m4a "ffmpeg -f lavfi -i sine -c:a aac -f ipod sample.m4a"

sox tone.wav "$OUT/sample.aiff"
note sample.aiff .aiff "sox tone.wav sample.aiff"
"${FF[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:a pcm_s16be "$OUT/sample-2.aiff"
note sample-2.aiff .aiff "ffmpeg -f lavfi -i sine sample-2.aiff"

sox tone.wav "$OUT/sample.au"
note sample.au .au "sox tone.wav sample.au"
"${FF[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:a pcm_mulaw "$OUT/sample-2.au"
note sample-2.au .au "ffmpeg -f lavfi -i sine -c:a pcm_mulaw sample-2.au"

"${FF[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:a wavpack -f wv "$OUT/sample.wv"
note sample.wv .wv "ffmpeg -f lavfi -i sine -c:a wavpack sample.wv"

"${FF[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:a pcm_s16le -f caf "$OUT/sample.caf"
note sample.caf .caf "ffmpeg -f lavfi -i sine -f caf sample.caf"

sox tone.wav "$OUT/sample.voc"
note sample.voc .voc "sox tone.wav sample.voc"
"${FF[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:a pcm_u8 -f voc "$OUT/sample-2.voc"
note sample-2.voc .voc "ffmpeg -f lavfi -i sine -f voc sample-2.voc"

# ---------------------------------------------------------------- video
"${FF[@]}" "${VSRC[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:v mjpeg -q:v 10 -c:a pcm_u8 -shortest "$OUT/sample.avi"
note sample.avi .avi "ffmpeg -f lavfi -i testsrc2 -f lavfi -i sine -c:v mjpeg -c:a pcm_u8 sample.avi"

X264=(-c:v libx264 -preset ultrafast -crf 40 -pix_fmt yuv420p -x264-params threads=1)
"${FF[@]}" "${VSRC[@]}" "${BITEXACT[@]}" "${X264[@]}" "$OUT/sample.mp4"
note sample.mp4 .mp4 "ffmpeg -f lavfi -i testsrc2 -c:v libx264 sample.mp4 (brand isom)"
"${FF[@]}" "${VSRC[@]}" "${BITEXACT[@]}" -c:v mpeg4 -q:v 20 -brand mp42 "$OUT/sample-2.mp4"
note sample-2.mp4 .mp4 "ffmpeg -f lavfi -i testsrc2 -c:v mpeg4 -brand mp42 sample-2.mp4"

"${FF[@]}" "${VSRC[@]}" "${BITEXACT[@]}" -c:v mjpeg -q:v 10 -f mov "$OUT/sample.mov"
note sample.mov .mov "ffmpeg -f lavfi -i testsrc2 -c:v mjpeg -f mov sample.mov (brand qt)"

"${FF[@]}" "${VSRC[@]}" "${BITEXACT[@]}" "${X264[@]}" -f 3gp "$OUT/sample.3gp"
note sample.3gp .3gp "ffmpeg -f lavfi -i testsrc2 -c:v libx264 -f 3gp sample.3gp"

"${FF[@]}" "${VSRC[@]}" "${BITEXACT[@]}" -c:v mjpeg -q:v 10 "$W/v.avi"
mkvmerge -q --deterministic 1 --no-date --disable-track-statistics-tags -o "$OUT/sample.mkv" "$W/v.avi"
note sample.mkv .mkv "mkvmerge -o sample.mkv v.avi (mjpeg from ffmpeg)"
"${FF[@]}" "${VSRC[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:v mpeg4 -q:v 20 -c:a flac -shortest "$OUT/sample-2.mkv"
note sample-2.mkv .mkv "ffmpeg -f lavfi -i testsrc2 -f lavfi -i sine -c:v mpeg4 -c:a flac sample-2.mkv"

"${FF[@]}" "${VSRC[@]}" "${BITEXACT[@]}" -c:v libvpx -b:v 50k -threads 1 "$OUT/sample.webm"
note sample.webm .webm "ffmpeg -f lavfi -i testsrc2 -c:v libvpx sample.webm"

"${FF[@]}" "${VSRC[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:v flv1 -q:v 20 -c:a libmp3lame -ar 22050 -b:a 32k -shortest "$OUT/sample.flv"
note sample.flv .flv "ffmpeg -f lavfi -i testsrc2 -f lavfi -i sine -c:v flv1 -c:a libmp3lame sample.flv"
"${FF[@]}" "${VSRC[@]}" "${BITEXACT[@]}" -c:v flv1 -q:v 20 "$OUT/sample-2.flv"
note sample-2.flv .flv "ffmpeg -f lavfi -i testsrc2 -c:v flv1 sample-2.flv (video only)"

"${FF[@]}" "${VSRC[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:v wmv2 -q:v 20 -c:a wmav2 -b:a 32k -shortest -f asf "$OUT/sample.wmv"
note sample.wmv .wmv "ffmpeg -f lavfi -i testsrc2 -f lavfi -i sine -c:v wmv2 -c:a wmav2 -f asf sample.wmv"
"${FF[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:a wmav2 -b:a 32k -f asf "$OUT/sample-2.wmv"
note sample-2.wmv .wmv "ffmpeg -f lavfi -i sine -c:a wmav2 -f asf sample-2.wmv (audio only, what a .wma holds)"

"${FF[@]}" "${VSRC[@]}" "${BITEXACT[@]}" -r 25 -frames:v 3 -c:v mpeg1video -q:v 20 -f mpeg "$OUT/sample.mpg"
note sample.mpg .mpg "ffmpeg -f lavfi -i testsrc2 -c:v mpeg1video -f mpeg sample.mpg (MPEG-1 pack header)"
"${FF[@]}" "${VSRC[@]}" "${BITEXACT[@]}" -r 25 -frames:v 3 -c:v mpeg2video -q:v 20 -f vob "$OUT/sample-2.mpg"
note sample-2.mpg .mpg "ffmpeg -f lavfi -i testsrc2 -c:v mpeg2video -f vob sample-2.mpg (MPEG-2 pack header)"

"${FF[@]}" "${VSRC[@]}" "${BITEXACT[@]}" -r 25 -frames:v 3 -c:v mpeg2video -q:v 20 -f mpegts "$OUT/sample.ts"
note sample.ts .ts "ffmpeg -f lavfi -i testsrc2 -c:v mpeg2video -f mpegts sample.ts"

"${FF[@]}" "${VSRC[@]}" "${BITEXACT[@]}" -c:v libtheora -q:v 1 -f ogg "$OUT/sample.ogv"
note sample.ogv .ogv "ffmpeg -f lavfi -i testsrc2 -c:v libtheora -f ogg sample.ogv"

"${FF[@]}" "${VSRC[@]}" "${BITEXACT[@]}" -c:v flv1 -q:v 20 -f swf "$OUT/sample.swf"
note sample.swf .swf "ffmpeg -f lavfi -i testsrc2 -c:v flv1 -f swf sample.swf"

"${FF[@]}" "${VSRC[@]}" "${ASRC[@]}" "${BITEXACT[@]}" -c:v rv10 -q:v 20 -c:a ac3 -ar 48000 -b:a 64k -shortest -f rm "$OUT/sample.rm"
note sample.rm .rm "ffmpeg -f lavfi -i testsrc2 -f lavfi -i sine -c:v rv10 -c:a ac3 -f rm sample.rm"

# ---------------------------------------------------------------- databases
sqlite3 "$OUT/sample.sqlite" 'CREATE TABLE t(id INTEGER PRIMARY KEY, name TEXT); INSERT INTO t(name) VALUES ("apples"),("pears");'
note sample.sqlite .sqlite "sqlite3 sample.sqlite 'CREATE TABLE t(...); INSERT ...'"
python3 - "$OUT/sample-2.sqlite" <<'EOF'
import sqlite3, sys
c = sqlite3.connect(sys.argv[1])
c.execute("PRAGMA page_size=1024")
c.execute("CREATE TABLE kv(k TEXT PRIMARY KEY, v BLOB)")
c.executemany("INSERT INTO kv VALUES (?, ?)", [("a", b"\x00\x01"), ("b", b"text")])
c.commit()
c.close()
EOF
note sample-2.sqlite .sqlite "python3 sqlite3 module, page_size 1024"

printf 'key1\nvalue1\nkey2\nvalue2\n' | db5.3_load -T -t btree "$OUT/sample.db"
note sample.db .db "db5.3_load -T -t btree sample.db"
printf 'key1\nvalue1\nkey2\nvalue2\n' | db5.3_load -T -t hash "$OUT/sample-2.db"
note sample-2.db .db "db5.3_load -T -t hash sample-2.db"

# ---------------------------------------------------------------- executables
cat >hello.c <<'EOF'
#include <stdio.h>
int main(void) { puts("hello from korvalen"); return 0; }
EOF
gcc -Os -s -o "$OUT/sample.elf" hello.c
note sample.elf .elf "gcc -Os -s -o sample.elf hello.c (x86-64 executable)"
gcc -Os -c -o "$OUT/sample-2.elf" hello.c
note sample-2.elf .elf "gcc -Os -c -o sample-2.elf hello.c (relocatable object)"

x86_64-w64-mingw32-gcc -Os -s -o "$OUT/sample.exe" hello.c
note sample.exe .exe "x86_64-w64-mingw32-gcc -Os -s -o sample.exe hello.c (PE32+, x86-64)"
i686-w64-mingw32-gcc -Os -s -o "$OUT/sample-2.exe" hello.c
note sample-2.exe .exe "i686-w64-mingw32-gcc -Os -s -o sample-2.exe hello.c (PE32, i386)"

mkdir -p java/classes
cat >java/Hello.java <<'EOF'
public class Hello {
    public static void main(String[] args) { System.out.println("hello from korvalen"); }
}
EOF
javac --release 11 -d java/classes java/Hello.java
put java/classes/Hello.class sample.class
note sample.class .class "javac --release 11 Hello.java"
touch -d "@$SOURCE_DATE_EPOCH" java/classes/Hello.class
jar --create --date="2023-11-14T22:13:20Z" --file "$OUT/sample.jar" --main-class Hello -C java/classes .
note sample.jar .jar "jar --create --file sample.jar --main-class Hello -C classes ."

cat >add.wat <<'EOF'
(module
  (func (export "add") (param i32 i32) (result i32)
    local.get 0
    local.get 1
    i32.add))
EOF
wat2wasm add.wat -o "$OUT/sample.wasm"
note sample.wasm .wasm "wat2wasm add.wat -o sample.wasm"

# ---------------------------------------------------------------- other
GLYPHS='Korvalen'
pyftsubset /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf --text="$GLYPHS" --output-file="$OUT/sample.ttf" 2>/dev/null
note sample.ttf .ttf "pyftsubset DejaVuSans.ttf --text=Korvalen --output-file=sample.ttf"
pyftsubset /usr/share/fonts/opentype/urw-base35/NimbusSans-Regular.otf --text="$GLYPHS" --output-file="$OUT/sample.otf" 2>/dev/null
note sample.otf .otf "pyftsubset NimbusSans-Regular.otf --text=Korvalen --output-file=sample.otf (CFF outlines)"
pyftsubset /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf --text="$GLYPHS" --flavor=woff --output-file="$OUT/sample.woff" 2>/dev/null
note sample.woff .woff "pyftsubset DejaVuSans.ttf --text=Korvalen --flavor=woff"
pyftsubset /usr/share/fonts/truetype/dejavu/DejaVuSans.ttf --text="$GLYPHS" --flavor=woff2 --output-file="$OUT/sample.woff2" 2>/dev/null
note sample.woff2 .woff2 "pyftsubset DejaVuSans.ttf --text=Korvalen --flavor=woff2"

qemu-img create -q -f qcow2 -o cluster_size=512 "$OUT/sample.qcow2" 1M
note sample.qcow2 .qcow2 "qemu-img create -f qcow2 -o cluster_size=512 sample.qcow2 1M"
qemu-img create -q -f vdi "$OUT/sample.vdi" 1M
note sample.vdi .vdi "qemu-img create -f vdi sample.vdi 1M"
qemu-img create -q -f vmdk "$OUT/sample.vmdk" 1M
note sample.vmdk .vmdk "qemu-img create -f vmdk sample.vmdk 1M (monolithic sparse)"
qemu-img create -q -f vpc -o subformat=dynamic "$OUT/sample.vhd" 1M
note sample.vhd .vhd "qemu-img create -f vpc -o subformat=dynamic sample.vhd 1M"

# ---------------------------------------------------------------- manifest
python3 - "$NOTES" "$OUT/manifest.jsonl" <<'EOF'
import json, sys
rows = [line.rstrip("\n").split("\t") for line in open(sys.argv[1], encoding="utf-8")]
with open(sys.argv[2], "w", encoding="utf-8", newline="\n") as f:
    for name, ext, how in rows:
        f.write(json.dumps({"file": name, "ext": ext, "made_by": how}) + "\n")
EOF

echo "made $(wc -l <"$OUT/manifest.jsonl") samples in $OUT ($(du -sh --exclude='*.sh' --exclude='*.py' "$OUT" | cut -f1))"
