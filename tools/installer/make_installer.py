#!/usr/bin/env python3
"""Builds a branded setup.exe from a product configuration and a product
folder: checks the configuration, stores it as the GBK text the installer
reads, packs the folder into a solid 7z archive and puts both into a copy
of the installer as resources INI 138 and DATA 148.

usage: make_installer.py --config PRODUCT.ini --payload DIR --out NAME.exe
                         --template SETUP.exe --setres SETRES.exe --wine-run WINE_RUN
                         --comments INCFG.ini [--level 0-9] [--work DIR]

Exit codes: 0 built, 1 refused or failed (with a message naming the key and
the problem), 2 wrong usage.
"""
import argparse
import configparser
import math
import os
import shutil
import subprocess
import sys
import tempfile

# The keys of section IN_INFO in the order the installer's text carries them.
SHIPPED_KEYS = [
    "OBJ_IN_CAPTION", "OBJ_IN_PUBLISHER", "OBJ_IN_DISPLAY_NAME", "OBJ_IN_FOLDER",
    "OBJ_IN_DISPLAY_VERSION", "OBJ_IN_SIZE", "OBJ_IN_EXE", "OBJ_IN_EXE_LINK",
    "OBJ_IN_UNINSTALL_EXE", "OBJ_IN_REPAIR_EXE_CMD", "OBJ_IN_REPAIR_EXE",
    "OBJ_IN_REPAIR_EXE_LINK", "OBJ_IN_USERDATA_FILE",
]
OPTIONAL_KEYS = ["OBJ_IN_SETUP_DIR", "OBJ_IN_COMPLETE_URL"]
MAX_VALUE = 259  # the installer reads values into 260 characters
SECTION = "IN_INFO"
# Values that become a single file or folder name on the user's disk.
NAME_KEYS = ["OBJ_IN_DISPLAY_NAME", "OBJ_IN_FOLDER", "OBJ_IN_EXE_LINK", "OBJ_IN_REPAIR_EXE_LINK"]
# Values that name a file inside the product folder.
PROGRAM_KEYS = ["OBJ_IN_EXE", "OBJ_IN_REPAIR_EXE", "OBJ_IN_UNINSTALL_EXE"]
BAD_NAME_CHARS = set('\\/:*?"<>|')


class Refusal(Exception):
    pass


def read_config(path):
    parser = configparser.ConfigParser(interpolation=None, strict=True, delimiters=("=",),
                                       comment_prefixes=(";", "#", "//"), empty_lines_in_values=False)
    parser.optionxform = str  # keys keep their case
    try:
        with open(path, encoding="utf-8-sig") as f:
            parser.read_file(f)
    except UnicodeDecodeError as e:
        raise Refusal(f"{path}: not UTF-8 text ({e.reason} at byte {e.start})")
    except configparser.Error as e:
        raise Refusal(f"{path}: {e.message if hasattr(e, 'message') else e}")
    if not parser.has_section(SECTION):
        raise Refusal(f"{path}: no [{SECTION}] section")
    for other in parser.sections():
        if other != SECTION:
            raise Refusal(f"{path}: section [{other}] is not read by the installer; put every key in [{SECTION}]")
    return dict(parser.items(SECTION))


def relative_inside(value):
    """True when value is a relative path that stays inside its folder."""
    parts = value.replace("/", "\\").split("\\")
    return (value and not value.startswith(("\\", "/")) and ":" not in value
            and all(p not in ("", ".", "..") and p.strip(". ") for p in parts))


def folder_size_mib(folder):
    total = 0
    for root, _, files in os.walk(folder):
        for name in files:
            total += os.path.getsize(os.path.join(root, name))
    return max(1, math.ceil(total / (1024 * 1024)))


def validate(values, payload):
    unknown = [k for k in values if k not in SHIPPED_KEYS + OPTIONAL_KEYS]
    if unknown:
        raise Refusal(f"{unknown[0]}: not a key of the installer's configuration")
    for key in SHIPPED_KEYS:
        if key not in values and key != "OBJ_IN_SIZE":
            raise Refusal(f"{key}: missing")
    for key, value in values.items():
        if len(value) > MAX_VALUE:
            raise Refusal(f"{key}: {len(value)} characters; the installer reads at most {MAX_VALUE}")
        try:
            value.encode("gbk")
        except UnicodeEncodeError as e:
            raise Refusal(f"{key}: the character {value[e.start]!r} cannot be written in GBK")
    if not values["OBJ_IN_DISPLAY_NAME"].strip():
        raise Refusal("OBJ_IN_DISPLAY_NAME: empty; it names the program group and the uninstall entry")
    for key in NAME_KEYS:
        value = values[key]
        if key != "OBJ_IN_FOLDER" or value:
            bad = sorted(set(value) & BAD_NAME_CHARS)
            if bad or value.strip(". ") == "":
                raise Refusal(f"{key}: {value!r} is not usable as a file or folder name")
    for key in PROGRAM_KEYS:
        value = values[key]
        if not relative_inside(value):
            raise Refusal(f"{key}: {value!r} must be a file name relative to the product folder")
        if not os.path.isfile(os.path.join(payload, *value.replace("\\", "/").split("/"))):
            raise Refusal(f"{key}: {value} is not in the product folder {payload}")
    if not relative_inside(values["OBJ_IN_USERDATA_FILE"]):
        raise Refusal(f"OBJ_IN_USERDATA_FILE: {values['OBJ_IN_USERDATA_FILE']!r} must be a relative name "
                      f"without '..'")
    if "OBJ_IN_SIZE" in values:
        size = values["OBJ_IN_SIZE"].strip()
        if not size.isdigit():
            raise Refusal(f"OBJ_IN_SIZE: {values['OBJ_IN_SIZE']!r} is not a whole number of MB")


def config_text(values, comments_file):
    """The comment block of the shipped text, then the keys in their order:
    GBK, CR LF, no line end after the last line."""
    with open(comments_file, encoding="utf-8") as f:
        shipped = f.read().replace("\r\n", "\n")
    head = shipped.split("[" + SECTION + "]")[0].rstrip("\n").split("\n")
    lines = head + ["[" + SECTION + "]"]
    lines += [f"{key}={values[key]}" for key in SHIPPED_KEYS + OPTIONAL_KEYS if key in values]
    return "\r\n".join(lines).encode("gbk")


# Solid blocks of at most this many bytes unpacked (a larger file is a block
# of its own). The installer decodes the next blocks while it writes the
# files of one, holding a few blocks in memory, so its memory follows this
# size and not the product's. On a 200 MB game-like product, 16 MiB blocks
# cost 0.05% of size against one block (8 MiB: 0.10%).
SOLID_BLOCK = "16m"


def pack(payload, archive, level):
    """Solid blocks of SOLID_BLOCK, LZMA2 behind BCJ2, names and contents
    only, a fixed thread count (LZMA2 splits its stream by it) and a sorted
    list of files: the same folder gives the same bytes on any machine."""
    entries = []
    for root, dirs, files in os.walk(payload):
        dirs.sort()
        rel = os.path.relpath(root, payload)
        for name in sorted(dirs) + sorted(files):
            entries.append(os.path.normpath(os.path.join(rel, name)))
    listing = archive + ".list"
    with open(listing, "w", encoding="utf-8") as f:
        f.write("\n".join(entries) + "\n")
    if os.path.exists(archive):
        os.remove(archive)
    subprocess.run(["7zz", "a", "-t7z", "-bso0", "-bsp0", "-m0=LZMA2", "-mf=BCJ2", f"-mx={level}", f"-ms={SOLID_BLOCK}",
                    "-mmt=2", "-mtm=off", "-mtc=off", "-mta=off", "-mtr=off", "-scsUTF-8", archive, "@" + listing],
                   cwd=payload, check=True)
    os.remove(listing)


def keep_link_time(template, exe):
    """strip stamps the image with the current time; give it back the
    template's, so that the same inputs give the same bytes."""
    with open(template, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    stamp = head[pe + 8:pe + 12]
    with open(exe, "r+b") as f:
        f.seek(pe + 8)
        f.write(stamp)


def write_checksum(exe):
    """The image's checksum over its final bytes (the one stored before the
    resources changed no longer fits them)."""
    with open(exe, "rb") as f:
        data = bytearray(f.read())
    pe = int.from_bytes(data[0x3C:0x40], "little")
    field = pe + 24 + 64
    data[field:field + 4] = b"\0\0\0\0"
    if len(data) % 2:
        data.append(0)
    total = 0
    view = memoryview(data).cast("H")
    for start in range(0, len(view), 1 << 20):
        total += sum(view[start:start + (1 << 20)])
        total = (total & 0xFFFF) + (total >> 16)
    while total >> 16:
        total = (total & 0xFFFF) + (total >> 16)
    checksum = (total + os.path.getsize(exe)) & 0xFFFFFFFF
    with open(exe, "r+b") as f:
        f.seek(field)
        f.write(checksum.to_bytes(4, "little"))


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--config", required=True)
    parser.add_argument("--payload", required=True)
    parser.add_argument("--out", required=True)
    parser.add_argument("--template", required=True)
    parser.add_argument("--setres", required=True)
    parser.add_argument("--wine-run", required=True)
    parser.add_argument("--comments", required=True)
    parser.add_argument("--level", type=int, default=7, choices=range(10), metavar="0-9")
    parser.add_argument("--work")
    args = parser.parse_args()

    try:
        if not os.path.isdir(args.payload):
            raise Refusal(f"{args.payload}: not a folder")
        values = read_config(args.config)
        validate(values, args.payload)
        if "OBJ_IN_SIZE" not in values:
            values["OBJ_IN_SIZE"] = str(folder_size_mib(args.payload))
        text = config_text(values, args.comments)
    except Refusal as e:
        print(f"make-installer: {e}", file=sys.stderr)
        return 1

    work = args.work or tempfile.mkdtemp(prefix="make-installer.")
    os.makedirs(work, exist_ok=True)
    try:
        ini = os.path.join(work, "incfg.ini")
        with open(ini, "wb") as f:
            f.write(text)
        archive = os.path.join(work, "payload.7z")
        pack(args.payload, archive, args.level)
        exe = os.path.join(work, "setup.exe")
        # No symbols: resource updates rewrite the image, and a symbol table
        # behind it would be left pointing at the wrong place.
        subprocess.run(["x86_64-w64-mingw32-strip", "-o", exe, args.template], check=True)
        keep_link_time(args.template, exe)
        subprocess.run([args.wine_run, windows_path(args.setres), windows_path(exe),
                        "INI", "138", windows_path(ini), "DATA", "148", windows_path(archive)], check=True)
        write_checksum(exe)
        os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
        shutil.move(exe, args.out)
    except subprocess.CalledProcessError as e:
        print(f"make-installer: {e.cmd[0]} failed with exit code {e.returncode}", file=sys.stderr)
        return 1
    finally:
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
    print(f"make-installer: wrote {args.out} ({os.path.getsize(args.out)} bytes; "
          f"{values['OBJ_IN_DISPLAY_NAME']} {values['OBJ_IN_DISPLAY_VERSION']}, {values['OBJ_IN_SIZE']} MB)")
    return 0


if __name__ == "__main__":
    sys.exit(main())
