#!/usr/bin/env python3
"""Builds a branded setup.exe from a product configuration and a product
folder: checks the configuration, stores it as the GBK text the installer
reads, packs the folder into a solid 7z archive of bounded blocks and puts
both into a copy of the installer as resources INI 138 and DATA 148, with
the table of every entry's SHA-256 (DIGEST 141) and the digest of all three
(DIGEST 140), the file's version information from the
configuration, the team's icon and pictures when given, and an Authenticode
signature when asked for. A packed archive larger than --image-limit is
split: its packed streams go into data files beside the installer
(NAME-1.bin, NAME-2.bin, ...), described by the signed table DIGEST 142,
and the image keeps the archive's start header and database.

usage: make_installer.py --config PRODUCT.ini --payload DIR --out NAME.exe [--level 0-9]
                         [--image-limit MIB] [--data-file-size MIB]
                         [--icon FILE.ico] [--side-picture FILE] [--header-picture FILE]
                         [--folder-picture FILE]
                         [--sign CERT.pfx [--sign-password-file FILE] [--timestamp URL]]
and what the wrapper tools/make-installer adds: --template SETUP.exe --setres SETRES.exe
--wine-run WINE_RUN --comments INCFG.ini [--uninstaller UNINST.exe] [--work DIR].

Exit codes: 0 built, 1 refused (every problem on a line of its own, as
"file:line: key: what is wrong" for the configuration) or failed, 2 wrong
usage.
"""
import argparse
import hashlib
import math
import os
import re
import shutil
import struct
import subprocess
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import make_art  # noqa: E402  (the wizard's picture formats)
sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from payload_digest import entry_digests, payload_digest  # noqa: E402

# The keys of section IN_INFO in the order the installer's text carries them.
SHIPPED_KEYS = [
    "OBJ_IN_CAPTION", "OBJ_IN_PUBLISHER", "OBJ_IN_DISPLAY_NAME", "OBJ_IN_FOLDER",
    "OBJ_IN_DISPLAY_VERSION", "OBJ_IN_SIZE", "OBJ_IN_EXE", "OBJ_IN_EXE_LINK",
    "OBJ_IN_UNINSTALL_EXE", "OBJ_IN_REPAIR_EXE_CMD", "OBJ_IN_REPAIR_EXE",
    "OBJ_IN_REPAIR_EXE_LINK", "OBJ_IN_USERDATA_FILE",
]
OPTIONAL_KEYS = ["OBJ_IN_SETUP_DIR", "OBJ_IN_COMPLETE_URL", "OBJ_IN_COPYRIGHT", "OBJ_IN_WRITABLE_DIRS"]
MAX_VALUE = 259  # the installer reads values into 260 characters
SECTION = "IN_INFO"
# Values that become a single file or folder name on the user's disk.
NAME_KEYS = ["OBJ_IN_DISPLAY_NAME", "OBJ_IN_FOLDER", "OBJ_IN_EXE_LINK", "OBJ_IN_REPAIR_EXE_LINK"]
# Values that name a file inside the product folder.
PROGRAM_KEYS = ["OBJ_IN_EXE", "OBJ_IN_REPAIR_EXE", "OBJ_IN_UNINSTALL_EXE"]
BAD_NAME_CHARS = set('\\/:*?"<>|')
# Names Windows keeps for devices, with any extension.
DEVICE_NAMES = ({"CON", "PRN", "AUX", "NUL", "CONIN$", "CONOUT$"}
                | {f"{device}{n}" for device in ("COM", "LPT") for n in range(10)})


class Refusal(Exception):
    pass


class Problems(list):
    """Every problem of one run, each a line of its own: "file:line: key: what
    is wrong" for the configuration, "file: what is wrong" for other inputs,
    so that a studio mends them all before running again."""

    def at(self, path, line, what):
        self.append((path, line, what))

    def file(self, path, what):
        self.append((path, None, what))

    def refusal(self, refusal):
        self.append((None, None, str(refusal)))

    def report(self):
        """The lines, the configuration's in the order of its lines first."""
        located = sorted((p for p in self if p[1] is not None), key=lambda p: p[1])
        return ([f"{path}:{line}: {what}" for path, line, what in located]
                + [f"{path}: {what}" if path else what for path, line, what in self if line is None])


class Config:
    """The keys of the configuration's [IN_INFO] section and the line each
    is on; a key that is missing is told at the section's line."""

    def __init__(self, path):
        self.path = path
        self.values = {}
        self.lines = {}
        self.section_line = None

    def problem(self, problems, key, what):
        problems.at(self.path, self.lines.get(key, self.section_line or 1), f"{key}: {what}")


def read_config(path, problems):
    """The installer's INI text as a studio writes it: UTF-8, one KEY=value a
    line, comments starting with ; # or //, every key in [IN_INFO]."""
    config = Config(path)
    try:
        with open(path, encoding="utf-8-sig") as f:
            text = f.read()
    except FileNotFoundError:
        problems.file(path, "no such file")
        return config
    except UnicodeDecodeError as e:
        problems.file(path, f"not UTF-8 text ({e.reason} at byte {e.start})")
        return config
    section = None
    for number, raw in enumerate(text.splitlines(), 1):
        line = raw.strip()
        if not line or line.startswith((";", "#", "//")):
            continue
        if line.startswith("["):
            section = line[1:-1].strip() if line.endswith("]") else line
            if section != SECTION:
                problems.at(path, number, f"section {line} is not read by the installer; put every key in [{SECTION}]")
            elif config.section_line is not None:
                problems.at(path, number, f"[{SECTION}] again (first on line {config.section_line})")
            else:
                config.section_line = number
            continue
        if section != SECTION:
            if section is None:
                problems.at(path, number, f"{line!r} comes before the [{SECTION}] section")
            continue
        key, equals, value = line.partition("=")
        key = key.strip()
        if not equals or not key:
            problems.at(path, number, f"{line!r} is not KEY=value")
        elif key in config.lines:
            problems.at(path, number, f"{key}: given again (first on line {config.lines[key]})")
        else:
            config.values[key] = value.strip()
            config.lines[key] = number
    if config.section_line is None:
        problems.file(path, f"no [{SECTION}] section")
    return config


def relative_inside(value):
    """True when value is a relative path that stays inside its folder."""
    parts = value.replace("/", "\\").split("\\")
    return (value and not value.startswith(("\\", "/")) and ":" not in value
            and all(p not in ("", ".", "..") and p.strip(". ") for p in parts))


def writable_dirs(value):
    """The folders of OBJ_IN_WRITABLE_DIRS, ";" between them."""
    return [folder.strip() for folder in value.split(";") if folder.strip()]


def installable_name(name):
    """True when the installer can make a file or folder of this name: the
    installer refuses a whole package holding any other."""
    return (name.strip(". ") != "" and not any(c in BAD_NAME_CHARS or ord(c) < 0x20 for c in name)
            and name.split(".")[0].rstrip(" ").upper() not in DEVICE_NAMES)


def folder_size_mib(folder):
    total = 0
    for root, _, files in os.walk(folder):
        for name in files:
            total += os.path.getsize(os.path.join(root, name))
    return max(1, math.ceil(total / (1024 * 1024)))


def product_path(payload, value):
    return os.path.join(payload, *value.replace("\\", "/").split("/"))


def validate(config, payload, problems, uninstaller=None):
    """Adds every problem of the configuration and the product folder to
    problems; a key that is wrong in itself is not checked further."""
    if config.section_line is None:
        return
    values = config.values

    def bad(key, what):
        config.problem(problems, key, what)

    for key in values:
        if key not in SHIPPED_KEYS + OPTIONAL_KEYS:
            bad(key, "not a key of the installer's configuration")
    for key in SHIPPED_KEYS:
        if key not in values and key != "OBJ_IN_SIZE":
            bad(key, "missing")
    usable = {}
    for key, value in values.items():
        if key not in SHIPPED_KEYS + OPTIONAL_KEYS:
            continue
        if len(value) > MAX_VALUE:
            bad(key, f"{len(value)} characters; the installer reads at most {MAX_VALUE}")
            continue
        try:
            value.encode("gbk")
        except UnicodeEncodeError as e:
            bad(key, f"the character {value[e.start]!r} cannot be written in GBK")
            continue
        usable[key] = value
    if "OBJ_IN_DISPLAY_NAME" in usable and not usable["OBJ_IN_DISPLAY_NAME"].strip():
        bad("OBJ_IN_DISPLAY_NAME", "empty; it names the program group and the uninstall entry")
    for key in NAME_KEYS:
        value = usable.get(key)
        # An empty folder name means the display name; an empty display name
        # is told above.
        if value is None or (key == "OBJ_IN_FOLDER" and not value) or (key == "OBJ_IN_DISPLAY_NAME"
                                                                       and not value.strip()):
            continue
        if not installable_name(value):
            bad(key, f"{value!r} is not usable as a file or folder name")
    payload_ok = os.path.isdir(payload)
    if not payload_ok:
        problems.file(payload, "not a folder")
    for key in PROGRAM_KEYS:
        value = usable.get(key)
        if value is None:
            continue
        if not relative_inside(value):
            bad(key, f"{value!r} must be a file name relative to the product folder")
            continue
        path = product_path(payload, value)
        # The installer's own uninstaller takes the place of a missing one.
        if key == "OBJ_IN_UNINSTALL_EXE" and uninstaller and not os.path.lexists(path):
            continue
        if payload_ok and not os.path.isfile(path):
            bad(key, f"{value} is not in the product folder {payload}")
    if "OBJ_IN_USERDATA_FILE" in usable and not relative_inside(usable["OBJ_IN_USERDATA_FILE"]):
        bad("OBJ_IN_USERDATA_FILE", f"{usable['OBJ_IN_USERDATA_FILE']!r} must be a relative name without '..'")
    if "OBJ_IN_WRITABLE_DIRS" in usable:
        for folder in writable_dirs(usable["OBJ_IN_WRITABLE_DIRS"]):
            parts = folder.replace("/", "\\").split("\\")
            if not relative_inside(folder) or not all(installable_name(p) for p in parts):
                bad("OBJ_IN_WRITABLE_DIRS", f"{folder!r} must be a folder name relative to the product folder, "
                                            "without '..', a drive, a stream or a device name")
                continue
            inside = [key for key in PROGRAM_KEYS if key in usable and
                      usable[key].replace("/", "\\").upper().startswith(folder.replace("/", "\\").upper() + "\\")]
            if inside:
                bad("OBJ_IN_WRITABLE_DIRS", f"{folder!r} holds {usable[inside[0]]} ({inside[0]}); players may "
                                            "write there, so no program of the product may lie in it")
            elif payload_ok and os.path.isfile(product_path(payload, folder)):
                bad("OBJ_IN_WRITABLE_DIRS", f"{folder!r} is a file in the product folder {payload}")
    if "OBJ_IN_SIZE" in usable and not usable["OBJ_IN_SIZE"].strip().isdigit():
        bad("OBJ_IN_SIZE", f"{usable['OBJ_IN_SIZE']!r} is not a whole number of MB")
    if "OBJ_IN_DISPLAY_VERSION" in usable:
        try:
            version_fields(usable["OBJ_IN_DISPLAY_VERSION"])
        except Refusal as e:
            bad("OBJ_IN_DISPLAY_VERSION", str(e))
    if payload_ok:
        for root, dirs, files in os.walk(payload):
            for name in sorted(dirs) + sorted(files):
                if not installable_name(name):
                    problems.file(os.path.join(root, name), "the installer cannot make a file or folder of this "
                                                          "name on Windows; rename it in the product folder")


def version_fields(text):
    """The leading numbers of a display version as the four 16-bit fields
    of the file's binary version: "3.2.0-beta" gives 3, 2, 0, 0; a text
    without a leading number gives zeros."""
    match = re.match(r"\s*(\d+(?:\.\d+){0,3})", text)
    fields = [int(n) for n in match.group(1).split(".")] if match else []
    for field in fields:
        if field > 0xFFFF:
            raise Refusal(f"{field} does not fit a version field (at most 65535)")
    return (fields + [0, 0, 0, 0])[:4]


# ------------------------------------------------- version info and icon --

WINDRES = "x86_64-w64-mingw32-windres"


def rc_string(text):
    """text as a wide string of a resource script. windres reads a script's
    bytes one by one whatever code page it is told, so every UTF-16 unit
    beyond printable ASCII, and the quote and the backslash, is written as
    \\x and its four hex digits."""
    units = memoryview(text.encode("utf-16-le")).cast("H")
    return 'L"' + "".join(chr(u) if 0x20 <= u < 0x7F and chr(u) not in '"\\' else f"\\x{u:04x}"
                          for u in units) + '"'


def version_script(values, file_name):
    """The file properties the shell and virus scanners show, as a resource
    script: product and company from the configuration, in Simplified
    Chinese, Unicode."""
    numbers = ",".join(str(n) for n in version_fields(values["OBJ_IN_DISPLAY_VERSION"]))
    strings = [
        ("CompanyName", values["OBJ_IN_PUBLISHER"]),
        ("FileDescription", values["OBJ_IN_CAPTION"]),
        ("FileVersion", values["OBJ_IN_DISPLAY_VERSION"]),
        ("InternalName", "setup"),
        ("LegalCopyright", values.get("OBJ_IN_COPYRIGHT", "")),
        ("OriginalFilename", file_name),
        ("ProductName", values["OBJ_IN_DISPLAY_NAME"]),
        ("ProductVersion", values["OBJ_IN_DISPLAY_VERSION"]),
    ]
    # FILEOS VOS_NT_WINDOWS32, FILETYPE VFT_APP.
    return "\n".join(
        ["1 VERSIONINFO", f"FILEVERSION {numbers}", f"PRODUCTVERSION {numbers}", "FILEFLAGSMASK 0x3F",
         "FILEFLAGS 0", "FILEOS 0x40004", "FILETYPE 1", "FILESUBTYPE 0",
         "BEGIN", '  BLOCK "StringFileInfo"', "  BEGIN", '    BLOCK "080404b0"', "    BEGIN"]
        + [f'      VALUE "{name}", {rc_string(text)}' for name, text in strings if text]
        + ["    END", "  END", '  BLOCK "VarFileInfo"', "  BEGIN", '    VALUE "Translation", 0x804, 1200', "  END",
           "END", ""])


def icon_script(icon_file):
    """The team's icon as the installer's icon 128: windres stores each
    image of the file as an icon image under ids 1, 2, ... and the group
    that lists them."""
    return f'128 ICON "{icon_file}"\n'


def compiled_resources(script, work):
    """The resources windres makes of a resource script, compiled in work
    (where the files it names are), as [(type as setres names it, id,
    bytes)]."""
    with open(os.path.join(work, "resources.rc"), "w", encoding="ascii") as f:
        f.write(script)
    subprocess.run([WINDRES, "-O", "res", "-i", "resources.rc", "-o", "resources.res"], cwd=work, check=True)
    with open(os.path.join(work, "resources.res"), "rb") as f:
        data = f.read()

    resources = []
    at = 0
    # Each entry: data size, header size, type and name (0xFFFF and a
    # number: the script numbers them all), then the data on a 32-bit
    # boundary; the file opens with an empty entry.
    while at + 8 <= len(data):
        size, header, _, kind, _, name = struct.unpack_from("<IIHHHH", data, at)
        if size:
            resources.append((f"#{kind}", name, data[at + header:at + header + size]))
        at += header + size + (-(header + size) % 4)
    return resources


# ---------------------------------------------------------------- branding --

PICTURE_OPTIONS = {"side_picture": 129, "header_picture": 131, "folder_picture": 132}
# A picture drawn for 150% or 200% display scale goes under the 100% one's
# id plus these (src/pages/resource.h); the wizard draws from the nearest at
# or above its scale.
SCALED_PICTURE_IDS = {100: 0, 150: 1000, 200: 2000}
PICTURE_HELP = {"side_picture": "the welcome and finish pages' picture",
                "header_picture": "the other pages' corner picture",
                "folder_picture": "the picture beside the destination folder"}


def open_image(path, formats):
    from PIL import Image, UnidentifiedImageError
    try:
        image = Image.open(path)
        image.load()
    except FileNotFoundError:
        raise Refusal(f"{path}: no such file")
    except (UnidentifiedImageError, OSError, ValueError) as e:
        raise Refusal(f"{path}: not a {' or '.join(formats)} image ({e})")
    if image.format not in formats:
        raise Refusal(f"{path}: a {image.format} image; it must be {' or '.join(formats)}")
    return image


def team_pictures(paths, resource_id, problems):
    """The bitmap resources [(id, bytes)] of a team's PNG or BMP files for
    picture resource_id, each file's size telling the display scale it is
    drawn for; the 100% one is needed. Adds what is wrong to problems."""
    what = make_art.TEAM_PICTURES[resource_id][0]
    sizes = {percent: make_art.team_picture_size(resource_id, percent) for percent in SCALED_PICTURE_IDS}
    wanted = (f"{sizes[100][0]} x {sizes[100][1]} pixels (and for 150% and 200% display scale "
              f"{sizes[150][0]} x {sizes[150][1]} and {sizes[200][0]} x {sizes[200][1]})")
    pictures = {}
    for path in paths:
        try:
            image = open_image(path, ("PNG", "BMP"))
        except Refusal as e:
            problems.refusal(e)
            continue
        percent = next((percent for percent, size in sizes.items() if image.size == size), None)
        if percent is None:
            problems.file(path, f"{image.size[0]} x {image.size[1]} pixels; the {what} must be {wanted}")
        elif percent in pictures:
            problems.file(path, f"a second {what} of {image.size[0]} x {image.size[1]} pixels")
        else:
            # A bitmap resource has no file header.
            pictures[percent] = make_art.team_picture_bmp(image, resource_id)[14:]
    if pictures and 100 not in pictures:
        problems.file(paths[0], f"the {what} is needed at {wanted.split(' (')[0]} too")
    return [(resource_id + SCALED_PICTURE_IDS[percent], data) for percent, data in sorted(pictures.items())]


def check_icon(path):
    """Refuses a file that is not an icon with at least one image, each
    inside the file."""
    open_image(path, ("ICO",))
    with open(path, "rb") as f:
        data = f.read()
    reserved, kind, count = struct.unpack_from("<HHH", data, 0)
    if reserved != 0 or kind != 1 or count == 0 or len(data) < 6 + 16 * count:
        raise Refusal(f"{path}: not an icon file with at least one image")
    for i in range(count):
        size, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
        if offset + size > len(data) or size == 0:
            raise Refusal(f"{path}: image {i + 1} lies outside the file")


def existing_resources(exe, kind):
    """The ids of the resources of a numbered type the image holds now."""
    import pefile
    pe = pefile.PE(exe, fast_load=True)
    pe.parse_data_directories([pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]])
    ids = []
    root = getattr(pe, "DIRECTORY_ENTRY_RESOURCE", None)
    for entry in root.entries if root else []:
        if entry.id == kind:
            ids = [e.id for e in entry.directory.entries]
    pe.close()
    return ids


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
SOLID_BLOCK = 16 << 20
# An upgrade decodes only the blocks that hold a file it lacks, so the files
# a patch changes most (the programs, and small scripts and tables changed
# a few at a time all over the tree) go in blocks of their own, and smaller
# ones: on the benchmark product a typical patch then has 40 MiB decoded
# instead of 105 MiB, for 0.27% more size (4 MiB blocks for the small
# files: 55 MiB, 0.11%; 512 KiB: 29 MiB, 0.36%).
PROGRAM_EXTENSIONS = (".exe", ".dll")
SMALL_FILE = 64 << 10
PROGRAM_BLOCK = 4 << 20
SMALL_BLOCK = 1 << 20
# A file at least this large is a block of its own: a new version of it
# makes an upgrade decode nothing else, and a change beside it never makes
# an upgrade decode it.
LARGE_FILE = 4 << 20
# A file larger than this is more than the installer holds in memory: it
# decodes such a block as it writes it, a piece at a time, which its decoder
# can do only for a block of one coder (no BCJ2 beside it), and with the
# dictionary it was packed with in memory, so that is kept small. The
# installer's threshold (kStreamedBlockThreshold) is the same.
STREAMED_FILE = 32 << 20
STREAMED_DICTIONARY = "16m"


def packing_runs(payload):
    """The product's entries in the groups they are packed in, each group
    in blocks of its own: [(entries, block limit for 7zz's -ms, streamed)].
    Within a group the archive keeps the files by folder, so that one
    zone's textures or one module's scripts lie together: the programs, in
    small blocks; the small files, in small blocks; the others; the large
    files, one to a block; the very large ones, one to a block the
    installer can stream. Folders are entries only when empty (the
    installer makes a file's folders itself)."""
    programs, small, others, large, streamed = [], [], [], [], []
    for root, dirs, files in os.walk(payload):
        dirs.sort()
        rel = os.path.relpath(root, payload)
        if not dirs and not files and rel != ".":
            others.append(os.path.normpath(rel))
        for name in sorted(files):
            path = os.path.normpath(os.path.join(rel, name))
            size = os.path.getsize(os.path.join(root, name))
            group = (streamed if size > STREAMED_FILE else large if size >= LARGE_FILE else programs if name.lower().endswith(PROGRAM_EXTENSIONS)
                     else small if size < SMALL_FILE else others)
            group.append(path)
    runs = [(programs, f"{PROGRAM_BLOCK}b", False), (small, f"{SMALL_BLOCK}b", False),
            (others, f"{SOLID_BLOCK}b", False), (large, "1f", False), (streamed, "1f", True)]
    return [run for run in runs if run[0]]


def pack(payload, archive, level, plain_header=False):
    """Solid blocks of at most SOLID_BLOCK, LZMA2 behind BCJ2 (LZMA2 alone,
    with a small dictionary, for the files streamed), names and
    contents only, a fixed thread count (LZMA2 splits its stream by it) and
    sorted lists of files: the same folder gives the same bytes on any
    machine. 7zz packs the files of one call in the order of their paths,
    so each group of packing_runs is a call of its own, adding blocks that
    hold that group alone to the archive. plain_header keeps the database
    unpacked (a plain header at the archive's end), as an archive split
    into data files needs."""
    # 7zz runs in the product folder.
    archive = os.path.abspath(archive)
    if os.path.exists(archive):
        os.remove(archive)
    listing = archive + ".list"
    for entries, blocks, streamed in packing_runs(payload):
        with open(listing, "w", encoding="utf-8") as f:
            f.write("\n".join(entries) + "\n")
        # Level 0 stores: 7zz's LZMA2 at its lowest level still runs its
        # encoder over every byte (about 3 MB/s here on random bytes, so an
        # hour for a game's assets), while stored blocks cost only the copy,
        # and the installer streams them as it does LZMA2 alone.
        if level == 0:
            coder = ["-m0=Copy"]
        elif streamed:
            coder = ["-m0=LZMA2", "-mf=off", f"-md={STREAMED_DICTIONARY}", f"-mx={level}"]
        else:
            coder = ["-m0=LZMA2", "-mf=BCJ2", f"-mx={level}"]
        subprocess.run(["7zz", "a", "-t7z", "-bso0", "-bsp0", *coder,
                        f"-ms={blocks}", "-mmt=2", "-mtm=off", "-mtc=off", "-mta=off", "-mtr=off", "-scsUTF-8"]
                       + (["-mhc=off"] if plain_header else []) + [archive, "@" + listing], cwd=payload, check=True)
    os.remove(listing)


# The image's time stamp when SOURCE_DATE_EPOCH is not set (2026-01-01
# 00:00:00 UTC): never the time of the build, nor the template's link time,
# so that the same inputs give the same bytes wherever the installer was
# built.
FIXED_BUILD_TIME = 1767225600


def build_time():
    """The time a build records: SOURCE_DATE_EPOCH (seconds since 1970, as
    reproducible-build tools set it) when set, else FIXED_BUILD_TIME. None
    when it is set but is no such number."""
    text = os.environ.get("SOURCE_DATE_EPOCH")
    if text is None or text == "":
        return FIXED_BUILD_TIME
    return int(text) if text.isdigit() and int(text) < 1 << 32 else None


def set_link_time(exe):
    """strip stamps the image with the current time; the image gets the
    build's time instead."""
    with open(exe, "rb") as f:
        head = f.read(4096)
    pe = int.from_bytes(head[0x3C:0x40], "little")
    with open(exe, "r+b") as f:
        f.seek(pe + 8)
        f.write(build_time().to_bytes(4, "little"))


# pefile sums the image a 32-bit word at a time in Python: a fraction of a
# second for a small installer, five minutes for one of 700 MB. Larger
# images take the same sum through big integers (image_checksum): 6.5 s for
# the same file.
PEFILE_CHECKSUM_LIMIT = 4 << 20


def image_checksum(exe, field):
    """The image's checksum as pefile and the loader compute it: the 16-bit
    little-endian words of the file, with the checksum field as zero and an
    odd last byte as its own word, added with end-around carry, plus the
    file's length. Such a sum is the words' sum modulo 0xFFFF (0xFFFF for
    a non-zero multiple); as 65536 is 1 modulo 0xFFFF, an even-sized piece
    of the file read as one little-endian integer has the same remainder as
    the sum of its words."""
    total = position = 0
    zero = True
    with open(exe, "rb") as f:
        while True:
            piece = f.read(1 << 24)
            if not piece:
                break
            if position <= field < position + len(piece):
                piece = bytearray(piece)
                piece[field - position:field - position + 4] = bytes(4)
            total += int.from_bytes(piece, "little") % 0xFFFF
            zero = zero and not any(piece)
            position += len(piece)
    words = total % 0xFFFF or (0 if zero else 0xFFFF)
    return (words + position) & 0xFFFFFFFF


def write_checksum(exe):
    """The image's checksum over its final bytes (the one stored before the
    resources changed no longer fits them)."""
    import pefile
    pe = pefile.PE(exe, fast_load=True)
    try:
        field = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        checksum = (pe.generate_checksum() if os.path.getsize(exe) <= PEFILE_CHECKSUM_LIMIT
                    else image_checksum(exe, field))
    finally:
        pe.close()
    with open(exe, "r+b") as f:
        f.seek(field)
        f.write(checksum.to_bytes(4, "little"))


def with_uninstaller(args, values, ini, work):
    """The product folder with the installer's own uninstaller added where
    OBJ_IN_UNINSTALL_EXE names it, carrying the product's configuration as
    its resource INI 138: a copy made of links to the product's files (or
    copies where links cannot be made), so the product folder stays as it
    is."""
    staged = os.path.join(work, "product")
    shutil.rmtree(staged, ignore_errors=True)

    def link_or_copy(source, destination):
        try:
            os.link(source, destination)
        except OSError:
            shutil.copy2(source, destination)
    shutil.copytree(args.payload, staged, copy_function=link_or_copy)
    target = product_path(staged, values["OBJ_IN_UNINSTALL_EXE"])
    os.makedirs(os.path.dirname(target), exist_ok=True)
    shutil.copyfile(args.uninstaller, target)
    subprocess.run([args.wine_run, windows_path(args.setres), windows_path(target), "INI", "138", windows_path(ini)],
                   check=True)
    set_link_time(target)
    write_checksum(target)
    return staged


def sign(exe, args, values):
    """Authenticode through osslsigncode, into a new file that replaces exe."""
    if not shutil.which("osslsigncode"):
        raise Refusal("--sign: osslsigncode is not installed (Debian package osslsigncode)")
    signed = exe + ".signed"
    command = ["osslsigncode", "sign", "-pkcs12", args.sign, "-h", "sha256", "-n", values["OBJ_IN_DISPLAY_NAME"]]
    if args.sign_password_file:
        command += ["-readpass", args.sign_password_file]
    if values.get("OBJ_IN_COMPLETE_URL"):
        command += ["-i", values["OBJ_IN_COMPLETE_URL"]]
    if args.timestamp:
        command += ["-ts", args.timestamp]
    elif "SOURCE_DATE_EPOCH" in os.environ:
        # The signing time is the build's too: the same inputs and key then
        # give the same signed bytes (an RSA signature has no randomness).
        command += ["-time", str(build_time())]
    command += ["-in", exe, "-out", signed]
    run = subprocess.run(command, capture_output=True, text=True)
    if run.returncode != 0:
        detail = (run.stderr or run.stdout).strip().splitlines()
        raise Refusal(f"--sign: osslsigncode could not sign with {args.sign}: "
                      f"{detail[-1] if detail else 'exit code ' + str(run.returncode)}")
    os.replace(signed, exe)


# ------------------------------------------------------------ data files --

MIB = 1 << 20
# An image up to this much carries its archive whole: well inside the 2 GB
# an image can hold (about 1.8 GB in practice), signable (signing tools fail
# past 2 GB), and the largest case known to build and install today.
DEFAULT_IMAGE_LIMIT = 1024
# No image limit above this is taken: the image must still load and sign.
LARGEST_IMAGE_LIMIT = 1536
# Under 2 GB, so that any download tool and file system takes each file.
DEFAULT_DATA_FILE_SIZE = 2000
# The data files are checked a piece at a time as they are unpacked.
PIECE_SIZE = 1 << 20
START_HEADER_SIZE = 32
SIGNATURE = b"7z\xbc\xaf\x27\x1c"
PLAIN_HEADER = 0x01


def mebibytes(option, text, smallest, largest, problems):
    """The whole number of MiB given to option, or None with a problem."""
    if not re.fullmatch(r"[0-9]+", text or ""):
        problems.refusal(Refusal(f"{option}: {text!r} is not a whole number of MiB"))
        return None
    value = int(text)
    if value < smallest or value > largest:
        problems.refusal(Refusal(f"{option}: {value} MiB; it must be {smallest} to {largest} MiB"))
        return None
    return value


def data_file_name(out, number):
    """The n-th data file beside the installer: --out D/setup.exe gives D/setup-1.bin."""
    stem = os.path.splitext(os.path.basename(out))[0]
    return os.path.join(os.path.dirname(os.path.abspath(out)), f"{stem}-{number}.bin")


def is_data_file_of(out, path):
    """Whether path is one of the data files a build to out writes or removes."""
    stem = os.path.splitext(os.path.basename(out))[0]
    return (os.path.dirname(os.path.abspath(path)) == os.path.dirname(os.path.abspath(out))
            and re.fullmatch(re.escape(stem) + r"-[0-9]+\.bin", os.path.basename(path)) is not None)


def product_bytes(folder):
    total = 0
    for root, _, files in os.walk(folder):
        for name in files:
            total += os.path.getsize(os.path.join(root, name))
    return total


def needs_plain_header(unpacked, limit_mib):
    """Whether the archive may pack past the image limit, decided before
    packing: incompressible files pack to a little more than their size,
    hence the margin."""
    return unpacked + (unpacked >> 6) + MIB > limit_mib * MIB


def split_archive(archive, out, data_file_size, work, files):
    """Splits the packed archive: its packed streams, bytes [32, 32 +
    NextHeaderOffset), into data files beside out, each data_file_size
    bytes but the last, written under a temporary name (renamed by
    place_data_files); the start header and the database into a file for
    DATA 148. Adds (temporary name, final name, size) to files as each is
    begun; returns (that file, the table DIGEST 142)."""
    size = os.path.getsize(archive)
    with open(archive, "rb") as f:
        start = f.read(START_HEADER_SIZE)
        if len(start) != START_HEADER_SIZE or not start.startswith(SIGNATURE):
            raise Refusal(f"{archive}: 7zz did not write a 7z archive")
        next_offset, next_size = struct.unpack_from("<QQ", start, 12)
        if START_HEADER_SIZE + next_offset + next_size != size:
            raise Refusal(f"{archive}: the archive's database does not end the archive")
        f.seek(START_HEADER_SIZE + next_offset)
        database = f.read()
    if not database or database[0] != PLAIN_HEADER:
        raise Refusal(f"{archive}: the archive's database is packed (not a plain header), so it cannot stay in the "
                      "image while its packed streams go into data files")
    os.makedirs(os.path.dirname(os.path.abspath(out)), exist_ok=True)
    image = os.path.join(work, "payload-image.7z")
    with open(image, "wb") as f:
        f.write(start + database)
    pieces = []
    with open(archive, "rb") as source:
        source.seek(START_HEADER_SIZE)
        left = next_offset
        number = 0
        while left > 0:
            number += 1
            final = data_file_name(out, number)
            temporary = os.path.join(os.path.dirname(final), "." + os.path.basename(final) + ".part")
            length = min(left, data_file_size)
            files.append((temporary, final, length))
            with open(temporary, "wb") as f:
                remaining = length
                while remaining > 0:
                    piece = source.read(min(PIECE_SIZE, remaining))
                    if not piece:
                        raise Refusal(f"{archive}: ends before its database")
                    f.write(piece)
                    pieces.append(hashlib.sha256(piece).hexdigest())
                    remaining -= len(piece)
            left -= length
    table = [f"pieces {PIECE_SIZE}", f"packed {next_offset}"]
    table += [f"file {length} {os.path.basename(final)}" for _, final, length in files]
    table += pieces
    return image, ("\n".join(table) + "\n").encode("utf-8")


def place_data_files(out, files):
    """The data files at their names, and no older one beyond them."""
    for temporary, final, _ in files:
        os.replace(temporary, final)
    folder = os.path.dirname(os.path.abspath(out)) or "."
    stem = os.path.splitext(os.path.basename(out))[0]
    for name in os.listdir(folder):
        match = re.fullmatch(re.escape(stem) + r"-([0-9]+)\.bin", name)
        if match and int(match.group(1)) > len(files):
            os.remove(os.path.join(folder, name))


def check_output(args, problems):
    """The places the build writes: never into the product, never over an input."""
    out = os.path.abspath(args.out)
    product = os.path.realpath(args.payload)
    if os.path.isdir(product) and os.path.commonpath([os.path.realpath(os.path.dirname(out)), product]) == product:
        problems.file(args.out, f"inside the product folder {args.payload}; the installer and its data files "
                                "would be written into the product")
    inputs = [args.config, args.icon, args.sign, args.sign_password_file]
    for option in PICTURE_OPTIONS:
        inputs += getattr(args, option) or []
    for given in inputs:
        if given and (os.path.abspath(given) == out or is_data_file_of(out, given)):
            problems.file(given, f"an input named as the installer or one of its data files "
                                 f"({os.path.basename(data_file_name(args.out, 1))}, ...); choose another --out")


def check_product_readable(payload, problems):
    """Every file of the product readable, before minutes of packing."""
    def unreadable(error):
        problems.file(error.filename, f"cannot be read ({error.strerror})")
    for root, _, files in os.walk(payload, onerror=unreadable):
        for name in files:
            path = os.path.join(root, name)
            if not os.path.isfile(path):
                problems.file(path, "not a plain file (a link to nothing, or a device); the product cannot hold it")
                continue
            try:
                with open(path, "rb"):
                    pass
            except OSError as e:
                problems.file(path, f"cannot be read ({e.strerror})")


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def arguments():
    parser = argparse.ArgumentParser(
        prog="make-installer",
        description="Builds a branded setup.exe from a product configuration and a product folder.",
        formatter_class=lambda prog: argparse.HelpFormatter(prog, max_help_position=34, width=150))
    studio = parser.add_argument

    def internal(*names, **options):
        # The wrapper's own: a studio never passes them, so --help hides them.
        parser.add_argument(*names, help=argparse.SUPPRESS, **options)
    studio("--config", required=True, metavar="FILE", help="the product's settings: UTF-8, KEY=value lines in [IN_INFO]")
    studio("--payload", required=True, metavar="DIR", help="the product folder, installed as it is")
    studio("--out", required=True, metavar="FILE.exe", help="the installer to write")
    studio("--level", type=int, default=7, choices=range(10), metavar="0-9",
           help="compression level (default 7; 0 stores the files uncompressed)")
    studio("--icon", metavar="FILE.ico", help="the installer's icon, with every size the file holds")
    for option, what in PICTURE_HELP.items():
        at = [f"{w} x {h}" for w, h in (make_art.team_picture_size(PICTURE_OPTIONS[option], p)
                                        for p in SCALED_PICTURE_IDS)]
        # %% is argparse's percent sign.
        studio("--" + option.replace("_", "-"), metavar="FILE", action="append",
               help=f"{what}, PNG or BMP, {at[0]}; again for 150%% and 200%% scale: {at[1]}, {at[2]}")
    studio("--writable-dir", metavar="DIR", action="append",
           help="a folder of the product the game writes (again for more): made writable by Users")
    studio("--sign", metavar="CERT.pfx", help="sign the installer with this certificate (Authenticode, SHA-256)")
    studio("--sign-password-file", metavar="FILE", help="the certificate's password, on the file's first line")
    studio("--timestamp", metavar="URL", help="time-stamp the signature at this RFC 3161 server")
    studio("--image-limit", metavar="MIB", default=str(DEFAULT_IMAGE_LIMIT),
           help=f"largest packed product carried whole in setup.exe (default {DEFAULT_IMAGE_LIMIT}, at most "
                f"{LARGEST_IMAGE_LIMIT}); more goes into data files")
    studio("--data-file-size", metavar="MIB", default=str(DEFAULT_DATA_FILE_SIZE),
           help=f"size of each data file NAME-1.bin, NAME-2.bin, ... (default {DEFAULT_DATA_FILE_SIZE}: under 2 GB)")
    internal("--template", required=True)
    internal("--setres", required=True)
    internal("--wine-run", required=True)
    internal("--comments", required=True)
    internal("--uninstaller")
    internal("--work")
    args = parser.parse_args()
    if (args.sign_password_file or args.timestamp) and not args.sign:
        parser.error("--sign-password-file and --timestamp need --sign")
    return args


def check_inputs(args, problems):
    """Everything the installer is made of, checked before anything is
    built: (values, configuration text, pictures by id), or
    None with the problems added to problems."""
    config = read_config(args.config, problems)
    if args.writable_dir:
        given = writable_dirs(config.values.get("OBJ_IN_WRITABLE_DIRS", ""))
        config.values["OBJ_IN_WRITABLE_DIRS"] = ";".join(given + [d.strip() for d in args.writable_dir])
    validate(config, args.payload, problems, args.uninstaller)
    pictures = {}
    for option, resource_id in PICTURE_OPTIONS.items():
        if getattr(args, option):
            pictures[resource_id] = team_pictures(getattr(args, option), resource_id, problems)
    try:
        if args.icon:
            check_icon(args.icon)
    except Refusal as e:
        problems.refusal(e)
    for option in ("sign", "sign_password_file"):
        if getattr(args, option) and not os.path.isfile(getattr(args, option)):
            problems.file(getattr(args, option), f"no such file (--{option.replace('_', '-')})")
    if args.sign and not shutil.which("osslsigncode"):
        problems.refusal(Refusal("--sign: osslsigncode is not installed (Debian package osslsigncode)"))
    # 0 splits whatever the size: every payload goes into data files.
    args.image_limit = mebibytes("--image-limit", args.image_limit, 0, LARGEST_IMAGE_LIMIT, problems)
    args.data_file_size = mebibytes("--data-file-size", args.data_file_size, 1, 1 << 20, problems)
    check_output(args, problems)
    if os.path.isdir(args.payload):
        check_product_readable(args.payload, problems)
    if build_time() is None:
        problems.refusal(Refusal(f"SOURCE_DATE_EPOCH: {os.environ['SOURCE_DATE_EPOCH']!r} is not a number of "
                                 "seconds since 1970 that fits the image's time stamp"))
    if problems:
        return None
    values = config.values
    if "OBJ_IN_SIZE" not in values:
        values["OBJ_IN_SIZE"] = str(folder_size_mib(args.payload))
    return values, config_text(values, args.comments), pictures


def main():
    args = arguments()
    # Every input is checked before anything is built: a refusal leaves no
    # output behind.
    problems = Problems()
    checked = check_inputs(args, problems)
    if problems:
        for line in problems.report():
            print(line, file=sys.stderr)
        print(f"make-installer: {len(problems)} problem{'s' if len(problems) > 1 else ''}; nothing was written",
              file=sys.stderr)
        return 1
    values, text, pictures = checked

    work = args.work or tempfile.mkdtemp(prefix="make-installer.")
    os.makedirs(work, exist_ok=True)
    data_files = []
    try:
        ini = os.path.join(work, "incfg.ini")
        with open(ini, "wb") as f:
            f.write(text)
        # Compiled before the long packing, so that a fault shows at once.
        script = version_script(values, os.path.basename(args.out))
        if args.icon:
            shutil.copyfile(args.icon, os.path.join(work, "icon.ico"))
            script += icon_script("icon.ico")
        compiled = compiled_resources(script, work)
        archive = os.path.join(work, "payload.7z")
        payload = args.payload
        added = product_path(args.payload, values["OBJ_IN_UNINSTALL_EXE"])
        if args.uninstaller and not os.path.lexists(added):
            payload = with_uninstaller(args, values, ini, work)
        # Decided before packing: the database must be plain to stay in
        # the image when the packed streams go into data files.
        unpacked = product_bytes(payload)
        pack(payload, archive, args.level, needs_plain_header(unpacked, args.image_limit))
        stored, data_files_table = archive, None
        if os.path.getsize(archive) > args.image_limit * MIB:
            stored, data_files_table = split_archive(archive, args.out, args.data_file_size * MIB, work, data_files)
        exe = os.path.join(work, "setup.exe")
        # No symbols: resource updates rewrite the image, and a symbol table
        # behind it would be left pointing at the wrong place.
        subprocess.run(["x86_64-w64-mingw32-strip", "-o", exe, args.template], check=True)
        set_link_time(exe)
        images = [resource_id for kind, resource_id, _ in compiled if kind == "#3"]
        # Images of the old icon that no new one replaces would stay behind.
        resources = [("#3", old, None) for old in existing_resources(exe, 3) if images and old not in images]
        resources += compiled
        for resource_id, given in pictures.items():
            # The template's own picture at a scale the team did not give
            # would show the sample's art at that scale.
            scaled = {resource_id + offset for offset in SCALED_PICTURE_IDS.values()} - {i for i, _ in given}
            resources += [("#2", old, None) for old in existing_resources(exe, 2) if old in scaled]
            resources += [("#2", i, data) for i, data in given]
        # The table of every entry's SHA-256 and the digest that covers it
        # with the rest: an upgrade keeps a file only if it has those bytes.
        # Made from the whole archive: 7zz cannot read the split one.
        table = entry_digests(archive)
        resources.append(("DIGEST", 141, table))
        if data_files_table is not None:
            resources.append(("DIGEST", 142, data_files_table))
        resources.append(("DIGEST", 140, payload_digest(text, stored, table, data_files_table)))
        updates = ["INI", "138", windows_path(ini), "DATA", "148", windows_path(stored)]
        for n, (kind, resource_id, data) in enumerate(resources):
            if data is None:
                updates += [kind, str(resource_id), "-"]
                continue
            part = os.path.join(work, f"resource-{n}.bin")
            with open(part, "wb") as f:
                f.write(data)
            updates += [kind, str(resource_id), windows_path(part)]
        subprocess.run([args.wine_run, windows_path(args.setres), windows_path(exe)] + updates, check=True)
        write_checksum(exe)
        # Last: a signature covers every byte before it.
        if args.sign:
            sign(exe, args, values)
        os.makedirs(os.path.dirname(os.path.abspath(args.out)), exist_ok=True)
        place_data_files(args.out, data_files)
        shutil.move(exe, args.out)
    except subprocess.CalledProcessError as e:
        print(f"make-installer: {e.cmd[0]} failed with exit code {e.returncode}", file=sys.stderr)
        return 1
    except Refusal as e:
        print(f"make-installer: {e}", file=sys.stderr)
        return 1
    finally:
        # A data file not yet at its name was left by a failure: never half a file there.
        for temporary, _, _ in data_files:
            if os.path.exists(temporary):
                os.remove(temporary)
        if not args.work:
            shutil.rmtree(work, ignore_errors=True)
    print(f"make-installer: wrote {args.out} ({os.path.getsize(args.out)} bytes; "
          f"{values['OBJ_IN_DISPLAY_NAME']} {values['OBJ_IN_DISPLAY_VERSION']}, {values['OBJ_IN_SIZE']} MB)")
    for _, final, length in data_files:
        print(f"make-installer: wrote {final} ({length} bytes)")
    if data_files:
        print(f"make-installer: {args.out} and its {len(data_files)} data files travel together, in one folder")
    return 0


if __name__ == "__main__":
    sys.exit(main())
