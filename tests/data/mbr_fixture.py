#!/usr/bin/env python3
"""MBR/EBR reader used to check the partition-table fixture images.

    mbr_fixture.py ebrs IMAGE
        print the LBA of every EBR in chain order (stops at a loop)
    mbr_fixture.py expect IMAGE SCRIPT OUT.json [--sfdisk-json FILE] [--note TEXT]...
        parse IMAGE, compare with what `sfdisk -J` reported (if given) and
        write the expected table with the sfdisk script text

Slots: primaries 1-4 by their place in the MBR, logicals from 5 in EBR chain
order (the way Linux numbers them).  The chain is followed until an EBR link
is empty, points outside the extended partition, or points at an EBR already
visited (a loop); each logical is listed once.
"""
import json
import struct
import sys

EXTENDED = (0x05, 0x0F, 0x85)


def entries(sector):
    out = []
    for i in range(4):
        raw = sector[446 + 16 * i:446 + 16 * (i + 1)]
        ptype = raw[4]
        start, count = struct.unpack_from("<II", raw, 8)
        out.append((ptype, start, count))
    return out


def parse(path):
    data = open(path, "rb").read()
    mbr = data[:512]
    result = {"signature": mbr[510:512] == b"\x55\xaa", "partitions": [], "ebrs": [],
              "loop": False}
    if not result["signature"]:
        result["raw_entries"] = [
            {"slot": i + 1, "type": "0x%02x" % t, "first_sector": s, "sectors": n}
            for i, (t, s, n) in enumerate(entries(mbr)) if t]
        return result
    ext = None
    for i, (t, s, n) in enumerate(entries(mbr)):
        if t == 0:
            continue
        result["partitions"].append({"slot": i + 1, "type": "0x%02x" % t,
                                     "first_sector": s, "sectors": n})
        if t in EXTENDED and ext is None:
            ext = (s, n)
    if ext:
        slot = 5
        ebr = ext[0]
        seen = set()
        while True:
            if ebr in seen:
                result["loop"] = True
                break
            seen.add(ebr)
            result["ebrs"].append(ebr)
            sec = data[ebr * 512:ebr * 512 + 512]
            if sec[510:512] != b"\x55\xaa":
                result["broken_ebr"] = ebr
                break
            e = entries(sec)
            t, s, n = e[0]
            if t:
                result["partitions"].append({"slot": slot, "type": "0x%02x" % t,
                                             "first_sector": ebr + s, "sectors": n})
                slot += 1
            lt, ls, ln = e[1]
            if lt not in EXTENDED:
                break
            nxt = ext[0] + ls
            if not ext[0] <= nxt < ext[0] + ext[1]:
                result["link_outside"] = nxt
                break
            ebr = nxt
    return result


def main():
    a = sys.argv
    if len(a) == 3 and a[1] == "ebrs":
        print(" ".join(str(x) for x in parse(a[2])["ebrs"]))
        return
    if len(a) >= 5 and a[1] == "expect":
        image, script, out = a[2], a[3], a[4]
        rest = a[5:]
        sfj = None
        notes = []
        while rest:
            if rest[0] == "--sfdisk-json":
                sfj = rest[1]
            elif rest[0] == "--note":
                notes.append(rest[1])
            rest = rest[2:]
        res = parse(image)
        if sfj:
            table = json.load(open(sfj))["partitiontable"]
            got = []
            for p in table.get("partitions", []):
                slot = int(p["node"].rsplit("img", 1)[1])
                got.append({"slot": slot, "type": "0x%02x" % int(p["type"], 16),
                            "first_sector": p["start"], "sectors": p["size"]})
            mine = sorted(res["partitions"], key=lambda p: p["slot"])
            if sorted(got, key=lambda p: p["slot"]) != mine:
                print("sfdisk says %s\nparsed %s" % (got, mine), file=sys.stderr)
                raise SystemExit(1)
        size = len(open(image, "rb").read())
        doc = {"sector_size": 512, "disk_sectors": size // 512,
               "signature": res["signature"], "partitions": res["partitions"],
               "ebr_sectors": res["ebrs"], "ebr_loop": res["loop"],
               "notes": notes, "sfdisk_script": open(script).read()}
        if "raw_entries" in res:
            doc["raw_entries"] = res["raw_entries"]
        with open(out, "w") as f:
            json.dump(doc, f, indent=2)
            f.write("\n")
        return
    print(__doc__)
    raise SystemExit(2)


if __name__ == "__main__":
    main()
