#!/usr/bin/env bash
# Desktop integration: the launcher and the AppStream file validate, name each
# other, the installed program and the icon, the metainfo lists the current
# version, and `cmake --install` puts every file in place under a DESTDIR.
set -uo pipefail
. "$(dirname "$0")/lib/common.sh"
require_tools cmake desktop-file-validate appstreamcli python3

id=io.github.spacemole.Spacemole
desktop=$src/data/$id.desktop
metainfo=$src/data/$id.metainfo.xml

check "desktop file validates" desktop-file-validate "$desktop"
check "metainfo validates" appstreamcli validate --no-net --no-color "$metainfo"

DESTDIR="$work/dest" cmake --install "$build" --prefix /usr >"$work/install.log" 2>&1
check "cmake --install succeeds" test $? -eq 0
root=$work/dest/usr
check "desktop file installed" cmp -s "$desktop" "$root/share/applications/$id.desktop"
check "metainfo installed" cmp -s "$metainfo" "$root/share/metainfo/$id.metainfo.xml"
if [ -f "$src/src/main.cpp" ]; then
    check "program installed" test -x "$root/bin/spacemole"
fi

python3 - "$src" "$root" "$desktop" "$metainfo" <<'PY'
import os, re, struct, sys
import xml.etree.ElementTree as ET
src, root, desktop, metainfo = sys.argv[1:]
problems = []

entry = {}
for line in open(desktop, encoding="utf-8"):
    if "=" in line and not line.startswith("#"):
        k, v = line.rstrip("\n").split("=", 1)
        entry[k] = v
exe = entry["Exec"].split()[0]
if exe != "spacemole":
    problems.append(f"Exec starts {exe!r}, not the program")
# The program's "Open in file manager" falls back to opening the folder: were
# the launcher a folder handler, that could start Spacemole again.
if "inode/directory" in entry.get("MimeType", ""):
    problems.append("the launcher claims folders")
icon = entry["Icon"]
for size in (16, 32, 48, 64, 128, 256):
    path = f"{root}/share/icons/hicolor/{size}x{size}/apps/{icon}.png"
    try:
        head = open(path, "rb").read(26)
    except OSError:
        problems.append(f"no icon {path}")
        continue
    w, h, depth, colour = struct.unpack(">IIBB", head[16:26])
    if head[:8] != b"\x89PNG\r\n\x1a\n" or (w, h) != (size, size) or (depth, colour) != (8, 6):
        problems.append(f"{path}: {w}x{h} depth {depth} colour type {colour}")

comp = ET.parse(metainfo).getroot()
cid = comp.findtext("id")
if os.path.basename(desktop) != cid + ".desktop":
    problems.append(f"desktop file is not named after the component id {cid}")
if comp.findtext("launchable") != os.path.basename(desktop):
    problems.append("launchable does not name the desktop file")
if comp.findtext("icon") != icon:
    problems.append("metainfo icon differs from the desktop file's")
cmake = open(f"{src}/CMakeLists.txt", encoding="utf-8").read()
version = re.search(r"project\(\s*spacemole\s+VERSION\s+([0-9.]+)", cmake).group(1)
releases = [r.get("version") for r in comp.iter("release")]
if not releases or releases[0] != version:
    problems.append(f"newest release {releases[:1]} is not the project version {version}")
for p in problems:
    print("  " + p)
sys.exit(1 if problems else 0)
PY
check "desktop file, metainfo, icons and version agree" test $? -eq 0

finish
