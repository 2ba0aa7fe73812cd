#!/usr/bin/env python3
"""make-installer: refuses bad configurations and pictures with a message
naming the key or the file, stores the configuration as the installer's GBK
text, gives the same bytes for the same inputs, writes version information
the system reads back, the team's icon and pictures, the digest setup.exe
checks, and a signature osslsigncode verifies.

usage: make_installer_test.py TOOL TEMPLATE SETRES WINE_RUN COMMENTS SCRATCH FILE_PROPERTIES
"""
import hashlib
import io
import os
import shutil
import struct
import subprocess
import sys
import time
import unittest

import pefile
from PIL import Image

TOOL, TEMPLATE, SETRES, WINE_RUN, COMMENTS, SCRATCH, FILE_PROPERTIES = sys.argv[1:8]
del sys.argv[1:8]
sys.path.insert(0, os.path.join(os.path.dirname(TOOL), ".."))
import make_art  # noqa: E402
sys.path.insert(0, os.path.dirname(TOOL))
import make_installer  # noqa: E402


def windows_path(path):
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def resource(exe, kind, resource_id):
    """The bytes of one resource of exe, whatever its language."""
    pe = pefile.PE(exe)
    try:
        for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
            if entry.id == kind or (entry.name is not None and str(entry.name) == kind):
                for item in entry.directory.entries:
                    if item.id == resource_id:
                        data = item.directory.entries[0].data.struct
                        return pe.get_data(data.OffsetToData, data.Size)
    finally:
        pe.close()
    return None

GOOD = {
    "OBJ_IN_CAPTION": "星河麻将 安装",
    "OBJ_IN_PUBLISHER": "星河游戏",
    "OBJ_IN_DISPLAY_NAME": "星河麻将",
    "OBJ_IN_FOLDER": "StarMahjong",
    "OBJ_IN_DISPLAY_VERSION": "3.2.0",
    "OBJ_IN_EXE": "Game.exe",
    "OBJ_IN_EXE_LINK": "星河麻将",
    "OBJ_IN_UNINSTALL_EXE": "tools/Uninstall.exe",
    "OBJ_IN_REPAIR_EXE_CMD": "--repair",
    "OBJ_IN_REPAIR_EXE": "Game.exe",
    "OBJ_IN_REPAIR_EXE_LINK": "修复星河麻将",
    "OBJ_IN_USERDATA_FILE": "config/user.ini",
}


class MakeInstallerTest(unittest.TestCase):
    def setUp(self):
        self.dir = os.path.join(SCRATCH, self.id().rsplit(".", 1)[1])
        shutil.rmtree(self.dir, ignore_errors=True)
        self.product = os.path.join(self.dir, "product")
        for path, size in [("Game.exe", 3 * 1024 * 1024 + 5), ("tools/Uninstall.exe", 1000),
                           ("config/user.ini", 10), ("data/棋盘.dat", 70000)]:
            full = os.path.join(self.product, path)
            os.makedirs(os.path.dirname(full), exist_ok=True)
            with open(full, "wb") as f:
                f.write(bytes((i * 7) % 251 for i in range(size)))

    def build(self, values, out="setup.exe", raw=None, extra=(), work="work", epoch=None, path=None):
        config = os.path.join(self.dir, "product.ini")
        with open(config, "w", encoding="utf-8") as f:
            f.write(raw if raw is not None else
                    "[IN_INFO]\n" + "".join(f"{k}={v}\n" for k, v in values.items()))
        out = os.path.join(self.dir, out)
        run = subprocess.run([sys.executable, TOOL, "--config", config, "--payload", self.product, "--out", out,
                              "--template", TEMPLATE, "--setres", SETRES, "--wine-run", WINE_RUN,
                              "--comments", COMMENTS, "--level", "1", "--work", os.path.join(self.dir, work)]
                             + list(extra),
                             capture_output=True, text=True,
                             env={k: v for k, v in os.environ.items() if k != "SOURCE_DATE_EPOCH"}
                             | ({"SOURCE_DATE_EPOCH": epoch} if epoch is not None else {})
                             | ({"PATH": path} if path is not None else {}))
        return run, out

    def refused(self, values, key, raw=None, extra=(), early=False, **options):
        run, out = self.build(values, raw=raw, extra=extra, **options)
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertIn(key, run.stderr)
        self.assertFalse(os.path.exists(out))
        if early:
            # Refused before packing, which takes minutes for a real product.
            self.assertFalse(os.path.exists(os.path.join(self.dir, "work", "payload.7z")))
        return run.stderr

    def test_builds_the_configuration_text_and_fills_the_size(self):
        run, out = self.build(GOOD)
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(os.path.join(self.dir, "work", "incfg.ini"), "rb") as f:
            text = f.read()
        self.assertFalse(text.endswith(b"\r\n"))
        lines = text.decode("gbk").split("\r\n")
        self.assertTrue(lines[0].startswith("/////"))
        self.assertIn("配置文件说明", lines)
        body = lines[lines.index("[IN_INFO]") + 1:]
        expected_keys = ["OBJ_IN_CAPTION", "OBJ_IN_PUBLISHER", "OBJ_IN_DISPLAY_NAME", "OBJ_IN_FOLDER",
                         "OBJ_IN_DISPLAY_VERSION", "OBJ_IN_SIZE", "OBJ_IN_EXE", "OBJ_IN_EXE_LINK",
                         "OBJ_IN_UNINSTALL_EXE", "OBJ_IN_REPAIR_EXE_CMD", "OBJ_IN_REPAIR_EXE",
                         "OBJ_IN_REPAIR_EXE_LINK", "OBJ_IN_USERDATA_FILE"]
        self.assertEqual([line.split("=")[0] for line in body], expected_keys)
        # 3 MiB and a bit, rounded up.
        self.assertIn("OBJ_IN_SIZE=4", body)
        self.assertIn("OBJ_IN_CAPTION=星河麻将 安装", body)

    def test_packs_each_kind_of_file_in_blocks_of_its_own_by_folder(self):
        # Each group past its block size, so that its limit shows in its
        # count of blocks: programs, small files in two folders, others in
        # two folders, a large file, a very large one, and an empty folder.
        mib = 1024 * 1024
        groups = [  # (files and sizes, blocks, streamable)
            ([("Game.exe", 3 * mib + 5), ("tools/Uninstall.exe", 1000), ("bin/second.dll", 3 * mib)], 2, False),
            ([("config/user.ini", 10)] + [(f"data/{'ab'[i % 2]}/s{i:02}.lua", 60000) for i in range(40)], 3, False),
            ([("data/棋盘.dat", 70000)] + [(f"data/{'ab'[i % 2]}/tex{i}.png", 3 * mib) for i in range(6)], 2, False),
            ([("data/b/big.pak", 4 * mib)], 1, False),
            ([("video/intro.bik", 33 * mib)], 1, True),
        ]
        pattern = bytes(range(256)) * 4096
        for files, _, _ in groups:
            for path, size in files:
                os.makedirs(os.path.dirname(os.path.join(self.product, path)), exist_ok=True)
                seed = hashlib.sha256(path.encode()).digest()
                with open(os.path.join(self.product, path), "wb") as f:
                    f.write((seed + pattern) * (size // len(pattern)) + (seed + pattern)[:size % len(pattern)])
        os.makedirs(os.path.join(self.product, "logs"))
        # Level 0 stores every block, in the same groups.
        for level in ("1", "0"):
            run, _ = self.build(GOOD, extra=("--level", level), work="work" + level)
            self.assertEqual(run.returncode, 0, run.stderr)
            archive = os.path.join(self.dir, "work" + level, "payload.7z")
            listing = subprocess.run(["7zz", "l", "-slt", archive], capture_output=True, text=True, check=True).stdout
            blocks, methods = {}, {}
            for item in listing.split("\n\n"):
                fields = dict(line.split(" = ", 1) for line in item.splitlines() if " = " in line)
                if "Block" in fields:
                    blocks.setdefault(fields["Block"], set()).add(fields["Path"])
                    methods[fields["Block"]] = fields.get("Method", "")
            self.assertEqual(blocks[""], {"logs"})
            for files, count, streamable in groups:
                names = {path for path, _ in files}
                taken = [block for block, paths in blocks.items() if paths & names]
                with self.subTest(group=sorted(names)[0]):
                    # Its own blocks, as many as its block size makes.
                    self.assertEqual(set().union(*(blocks[b] for b in taken)), names)
                    self.assertEqual(len(taken), count)
                    for block in taken:
                        if level == "0":
                            self.assertEqual(methods[block], "Copy")
                        elif streamable:
                            # One coder the installer decodes in pieces, with
                            # a dictionary of at most 16 MiB (2^24).
                            self.assertRegex(methods[block], r"^LZMA2:(1\d|2[0-4])$")
                        else:
                            self.assertIn("BCJ2", methods[block])
            unpacked = os.path.join(self.dir, "unpacked" + level)
            subprocess.run(["7zz", "x", "-bso0", f"-o{unpacked}", archive], check=True)
            self.assertEqual(subprocess.run(["diff", "-r", self.product, unpacked]).returncode, 0)

    def test_same_inputs_give_the_same_bytes(self):
        def read(path):
            with open(path, "rb") as f:
                return f.read()

        def link_time(path):
            pe = pefile.PE(path, fast_load=True)
            stamp = pe.FILE_HEADER.TimeDateStamp
            pe.close()
            return stamp
        # Two builds in work folders of their own, seconds apart, the files'
        # times changed between them; unsigned, then signed with the
        # build's time. The output's own name is an input too: it is the
        # file's original name.
        pfx, password = self.certificate()
        signing = ["--sign", pfx, "--sign-password-file", password]
        for epoch, extra, stamp in [(None, [], make_installer.FIXED_BUILD_TIME), ("1700000000", [], 1700000000),
                                    ("1700000000", signing, 1700000000)]:
            with self.subTest(epoch=epoch, signed=bool(extra)):
                first, a = self.build(GOOD, out="a/setup.exe", work="work-a", extra=extra, epoch=epoch)
                time.sleep(1.5)
                for root, _, files in os.walk(self.product):
                    for name in files:
                        os.utime(os.path.join(root, name), (1_000_000_000 + len(extra), 1_000_000_000))
                second, b = self.build(GOOD, out="b/setup.exe", work="work-b", extra=extra, epoch=epoch)
                self.assertEqual((first.returncode, second.returncode), (0, 0), first.stderr + second.stderr)
                self.assertTrue(read(a) == read(b))
                self.assertEqual(link_time(a), stamp)
                if extra:
                    # Without its signature, the signed build is the unsigned one.
                    unsigned = os.path.join(self.dir, "unsigned.exe")
                    subprocess.run(["osslsigncode", "remove-signature", "-in", a, "-out", unsigned],
                                   capture_output=True, check=True)
                    _, plain = self.build(GOOD, out="c/setup.exe", work="work-c", epoch=epoch)
                    self.assertTrue(read(unsigned) == read(plain))
        run, out = self.build(GOOD, out="d/setup.exe", epoch="yesterday")
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertIn("SOURCE_DATE_EPOCH", run.stderr)
        self.assertFalse(os.path.exists(out))

    def test_a_given_size_is_kept(self):
        run, _ = self.build(dict(GOOD, OBJ_IN_SIZE="500", OBJ_IN_WRITABLE_DIRS="saves"),
                            extra=["--writable-dir", "data/replays"])
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(os.path.join(self.dir, "work", "incfg.ini"), "rb") as f:
            text = f.read()
        self.assertIn(b"OBJ_IN_SIZE=500\r\n", text)
        # The option adds to the folders the configuration names.
        self.assertTrue(text.endswith(b"OBJ_IN_WRITABLE_DIRS=saves;data/replays"), text[-80:])

    def test_refuses_bad_configurations_naming_the_key(self):
        for key in GOOD:
            with self.subTest(missing=key):
                self.refused({k: v for k, v in GOOD.items() if k != key}, key)
        cases = [
            ("OBJ_IN_PUBLISHER", "x" * 260, "260 characters"),
            ("OBJ_IN_CAPTION", "한국어 설치", "GBK"),
            ("OBJ_IN_DISPLAY_NAME", "", "empty"),
            ("OBJ_IN_DISPLAY_NAME", "星河/麻将", "name"),
            ("OBJ_IN_EXE", "Missing.exe", "not in the product folder"),
            ("OBJ_IN_REPAIR_EXE", "..\\Game.exe", "relative"),
            ("OBJ_IN_UNINSTALL_EXE", "C:\\Windows\\x.exe", "relative"),
            ("OBJ_IN_USERDATA_FILE", "../user.ini", ".."),
            ("OBJ_IN_USERDATA_FILE", "config\\..\\..\\user.ini", ".."),
            ("OBJ_IN_SIZE", "lots", "whole number"),
            ("OBJ_IN_WRITABLE_DIRS", "saves;..\\up", ".."),
            ("OBJ_IN_WRITABLE_DIRS", "saves;logs:stream", "stream"),
            ("OBJ_IN_WRITABLE_DIRS", "data\\CON", "device"),
            ("OBJ_IN_WRITABLE_DIRS", "tools", "no program"),
            ("OBJ_IN_WRITABLE_DIRS", "config/user.ini", "is a file"),
        ]
        for key, value, problem in cases:
            with self.subTest(key=key, value=value):
                self.assertIn(problem, self.refused(dict(GOOD, **{key: value}), key))
        self.refused(dict(GOOD, OBJ_IN_CAPTON="typo"), "OBJ_IN_CAPTON")
        self.refused(GOOD, "no [IN_INFO] section", raw="[Other]\nOBJ_IN_CAPTION=x\n")

    def test_reports_every_problem_of_a_configuration_in_one_run(self):
        values = dict(GOOD, OBJ_IN_FOLDER="a:b", OBJ_IN_EXE="Missing.exe", OBJ_IN_EXE_LINK="CON",
                      OBJ_IN_USERDATA_FILE="../user.ini", OBJ_IN_SIZE="lots")
        del values["OBJ_IN_CAPTION"]
        lines = ["; a studio's settings", "[IN_INFO]"] + [f"{k}={v}" for k, v in values.items()]
        stderr = self.refused(None, "OBJ_IN_CAPTION", raw="\n".join(lines) + "\n").splitlines()
        config = os.path.join(self.dir, "product.ini")
        at = {line.split("=")[0]: number for number, line in enumerate(lines, 1)}
        expected = [f"{config}:2: OBJ_IN_CAPTION: missing"] + [
            f"{config}:{at[key]}: {key}: " for key in values if values[key] != GOOD.get(key)]
        self.assertEqual(len(stderr), len(expected) + 1, stderr)
        for line, start in zip(stderr, expected):
            self.assertTrue(line.startswith(start), (line, start))
        self.assertEqual(stderr[-1], "make-installer: 6 problems; nothing was written")

    def test_help_shows_what_a_studio_passes_one_line_each(self):
        shown = subprocess.run([sys.executable, TOOL, "--help"], capture_output=True, text=True, check=True).stdout
        options = [line.split() for line in shown.split("options:")[1].splitlines() if line.strip()]
        self.assertEqual([words[0] for words in options],
                         ["-h,", "--config", "--payload", "--out", "--level", "--icon", "--side-picture",
                          "--header-picture", "--folder-picture", "--writable-dir", "--sign", "--sign-password-file", "--timestamp",
                          "--image-limit", "--data-file-size"])
        self.assertTrue(all(len(words) > 3 for words in options), options)

    @staticmethod
    def bitmaps(exe):
        pe = pefile.PE(exe)
        try:
            return [item.id for entry in pe.DIRECTORY_ENTRY_RESOURCE.entries if entry.id == 2
                    for item in entry.directory.entries]
        finally:
            pe.close()

    def picture(self, name, size, fmt, colours):
        """A picture of stripes in the given colours."""
        image = Image.new("RGB", size)
        image.putdata([colours[(x // 3 + y) % len(colours)] for y in range(size[1]) for x in range(size[0])])
        path = os.path.join(self.dir, name)
        image.save(path, fmt)
        return path, image

    def test_version_information_reads_back_under_wine(self):
        # Quotes and a backslash pass through the resource script as they are.
        run, out = self.build(dict(GOOD, OBJ_IN_DISPLAY_VERSION="3.2.17-beta", OBJ_IN_COPYRIGHT="版权所有 2026 星河游戏",
                                   OBJ_IN_PUBLISHER='星河 "游戏" \\n工作室'), out="StarSetup.exe")
        self.assertEqual(run.returncode, 0, run.stderr)
        shown = subprocess.run([WINE_RUN, windows_path(FILE_PROPERTIES), windows_path(out)], capture_output=True,
                               check=True).stdout.decode("utf-8").splitlines()
        self.assertEqual(dict(line.split("=", 1) for line in shown), {
            "binary FileVersion": "3.2.17.0", "binary ProductVersion": "3.2.17.0",
            "CompanyName": '星河 "游戏" \\n工作室', "FileDescription": "星河麻将 安装", "FileVersion": "3.2.17-beta",
            "LegalCopyright": "版权所有 2026 星河游戏", "OriginalFilename": "StarSetup.exe",
            "ProductName": "星河麻将", "ProductVersion": "3.2.17-beta"})

    def test_team_icon_and_pictures_replace_the_samples(self):
        side, side_image = self.picture("side.png", (164, 290), "PNG", [(200, 30, 40), (20, 20, 90), (250, 250, 250)])
        # The side picture for 200% display scale too; the header only at
        # 100%, so the template's own header for 200% must go.
        side2, side2_image = self.picture("side@2x.png", (328, 580), "PNG", [(10, 200, 40), (240, 240, 0)])
        self.assertIn(2131, self.bitmaps(TEMPLATE))
        header, header_image = self.picture("header.bmp", (53, 49), "BMP", [(1, 2, 3), (90, 180, 45)])
        folder, folder_image = self.picture("folder.png", (25, 34), "PNG", [(255, 128, 0), (0, 0, 0)])
        icons = [Image.new("RGBA", (n, n), (n * 4, 100, 200, 255)) for n in (16, 32, 48)]
        icon = os.path.join(self.dir, "team.ico")
        with open(icon, "wb") as f:
            f.write(make_art.icon_file(icons))
        run, out = self.build(GOOD, extra=["--icon", icon, "--side-picture", side2, "--side-picture", side,
                                           "--header-picture", header, "--folder-picture", folder])
        self.assertEqual(run.returncode, 0, run.stderr)
        self.assertNotIn(2131, self.bitmaps(out))
        for resource_id, expected in ((129, side_image), (2129, side2_image), (131, header_image),
                                      (132, folder_image)):
            bitmap = resource(out, 2, resource_id)
            head = struct.pack("<2sIHHI", b"BM", 14 + len(bitmap), 0, 0,
                               14 + struct.unpack_from("<I", bitmap)[0] + 4 * struct.unpack_from("<I", bitmap, 32)[0])
            shown = Image.open(io.BytesIO(head + bitmap)).convert("RGB")
            self.assertEqual(shown.size, expected.size)
            self.assertTrue(list(shown.getdata()) == list(expected.getdata()), resource_id)
        group = resource(out, 14, 128)
        self.assertEqual(struct.unpack_from("<HHH", group), (0, 1, 3))
        for i, image in enumerate(icons):
            width, _, _, _, _, _, size, image_id = struct.unpack_from("<BBBBHHIH", group, 6 + 14 * i)
            self.assertEqual((width, image_id), (image.size[0], i + 1))
            self.assertEqual(resource(out, 3, image_id), make_art.icon_image_bytes(image))

    def test_refuses_pictures_icons_and_signing_inputs_naming_the_file(self):
        small, _ = self.picture("small.png", (160, 290), "PNG", [(1, 1, 1)])
        jpeg, _ = self.picture("photo.jpg", (53, 49), "JPEG", [(1, 1, 1)])
        for extra, problem in [
            (["--side-picture", small], "164 x 290"),
            # One for 150% alone: the one for 100% is needed too.
            (["--side-picture", self.picture("side@1.5x.png", (246, 435), "PNG", [(1, 1, 1)])[0]], "needed"),
            (["--header-picture", jpeg], "PNG or BMP"),
            (["--icon", small], "ICO"),
            (["--icon", os.path.join(self.dir, "none.ico")], "no such file"),
            (["--sign", os.path.join(self.dir, "none.pfx")], "no such file"),
            (["--image-limit", "1g"], "not a whole number of MiB"),
            (["--image-limit", "1537"], "0 to 1536 MiB"),
            (["--data-file-size", "0"], "1 to"),
            (["--data-file-size", ""], "not a whole number of MiB"),
            # Where a data file of the build would go, or what it removes.
            (["--icon", os.path.join(self.dir, "setup-3.bin")], "one of its data files"),
        ]:
            with self.subTest(extra=extra):
                self.assertIn(problem, self.refused(GOOD, extra[1], extra=extra, early=True))
        # Found before packing, not after it.
        self.assertIn("osslsigncode is not installed",
                      self.refused(GOOD, "--sign", extra=["--sign", os.path.join(self.dir, "product.ini")],
                                   path="/nonexistent", early=True))
        self.assertIn("inside the product folder",
                      self.refused(GOOD, "setup.exe", out="product/bin/setup.exe", early=True))
        os.symlink("nowhere", os.path.join(self.product, "data", "gone.dat"))
        self.assertIn("not a plain file", self.refused(GOOD, "gone.dat", early=True))
        os.remove(os.path.join(self.product, "data", "gone.dat"))
        self.assertIn("65535", self.refused(dict(GOOD, OBJ_IN_DISPLAY_VERSION="2026.70000"), "OBJ_IN_DISPLAY_VERSION"))
        self.assertIn("GBK", self.refused(dict(GOOD, OBJ_IN_COPYRIGHT="© 한국"), "OBJ_IN_COPYRIGHT"))

    def test_digest_covers_the_configuration_and_the_payload(self):
        # Incompressible, so that the split build spans three data files.
        with open(os.path.join(self.product, "data", "noise.pak"), "wb") as f:
            f.write(hashlib.shake_256(b"noise").digest(2 * 1024 * 1024 + 4321))
        # Whole in the image; split, over data files an earlier build left
        # (the one past its count goes); whole again, which leaves none.
        for extra, count, stale in [([], 0, []), (["--image-limit", "0", "--data-file-size", "1"], 3, [3, 4]),
                                    ([], 0, [])]:
            for number in stale:
                with open(os.path.join(self.dir, f"setup-{number}.bin"), "wb") as f:
                    f.write(b"an earlier build's")
            run, out = self.build(GOOD, extra=extra)
            self.assertEqual(run.returncode, 0, run.stderr)
            stored = resource(out, "DIGEST", 140)
            table = resource(out, "DIGEST", 141)
            files = resource(out, "DIGEST", 142)
            image = resource(out, "DATA", 148)
            self.assertEqual(stored, hashlib.sha256(resource(out, "INI", 138)).digest()
                             + hashlib.sha256(image).digest() + hashlib.sha256(table).digest()
                             + (hashlib.sha256(files).digest() if count else b""))
            self.assertEqual(sorted(n for n in os.listdir(self.dir) if n.endswith(".bin")),
                             [f"setup-{n}.bin" for n in range(1, count + 1)])
            with open(os.path.join(self.dir, "work", "payload.7z"), "rb") as f:
                archive = f.read()
            if not count:
                self.assertIsNone(files)
                self.assertEqual(image, archive)
            else:
                # The start header, the data files in order, the database:
                # the archive 7zz made; every piece of 1 MiB in the table.
                lines = files.decode("utf-8").splitlines()
                data = []
                for n in range(1, count + 1):
                    with open(os.path.join(self.dir, f"setup-{n}.bin"), "rb") as f:
                        data.append(f.read())
                    self.assertIn(f"file {len(data[-1])} setup-{n}.bin", lines)
                    self.assertIn(f"setup-{n}.bin ({len(data[-1])} bytes)", run.stdout)
                self.assertEqual(image[:32] + b"".join(data) + image[32:], archive)
                self.assertEqual(image[32], 0x01)
                self.assertEqual(lines[:2], ["pieces 1048576", f"packed {sum(map(len, data))}"])
                self.assertEqual(lines[2 + count:], [hashlib.sha256(d[at:at + (1 << 20)]).hexdigest()
                                                     for d in data for at in range(0, len(d), 1 << 20)])
                self.assertEqual([len(d) for d in data[:-1]], [1 << 20] * (count - 1))
            # Every file of the product, by its bytes, from the whole archive.
            lines = table.decode("utf-8").splitlines()
            for line in lines:
                digest, name = line.split("  ", 1)
                with open(os.path.join(self.product, name), "rb") as f:
                    self.assertEqual(digest, hashlib.sha256(f.read()).hexdigest(), name)
            self.assertEqual(len(lines), 5)

    def test_checksum_is_the_one_pefile_computes(self):
        run, out = self.build(GOOD)
        self.assertEqual(run.returncode, 0, run.stderr)
        pe = pefile.PE(out, fast_load=True)
        self.assertEqual(pe.OPTIONAL_HEADER.CheckSum, pe.generate_checksum())
        field = pe.OPTIONAL_HEADER.get_field_absolute_offset("CheckSum")
        pe.close()
        # The sum large images take, against pefile's: over the installer,
        # a copy of the other parity, and one whose words add up to a
        # multiple of 0xFFFF (which the sum gives as 0xFFFF, not 0).
        with open(out, "rb") as f:
            image = f.read()
        even = image[:field] + bytes(4) + image[field + 4:] + bytes(len(image) % 2)
        balance = (-sum(memoryview(even).cast("H")) % 0xFFFF).to_bytes(2, "little")
        for copy_of in (image, image + b"\x01", even + balance):
            copy = os.path.join(self.dir, "copy.exe")
            with open(copy, "wb") as f:
                f.write(copy_of)
            pe = pefile.PE(copy, fast_load=True)
            with self.subTest(length=len(copy_of)):
                self.assertEqual(make_installer.image_checksum(copy, field), pe.generate_checksum())
            pe.close()

    def certificate(self):
        """A new test certificate: (the .pfx, its password file)."""
        key, cert, pfx = (os.path.join(self.dir, n) for n in ("key.pem", "cert.pem", "cert.pfx"))
        password = os.path.join(self.dir, "password.txt")
        with open(password, "w") as f:
            f.write("s3cret\n")
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-keyout", key, "-out", cert,
                        "-days", "30", "-subj", "/CN=Star Games Test"], check=True, capture_output=True)
        subprocess.run(["openssl", "pkcs12", "-export", "-inkey", key, "-in", cert, "-out", pfx,
                        "-passout", "pass:s3cret"], check=True, capture_output=True)
        return pfx, password

    def test_signs_with_a_certificate_osslsigncode_verifies(self):
        pfx, password = self.certificate()
        cert = os.path.join(self.dir, "cert.pem")
        run, out = self.build(GOOD, extra=["--sign", pfx, "--sign-password-file", password])
        self.assertEqual(run.returncode, 0, run.stderr)
        verify = subprocess.run(["osslsigncode", "verify", "-CAfile", cert, "-in", out], capture_output=True, text=True)
        self.assertEqual(verify.returncode, 0, verify.stdout + verify.stderr)
        self.assertIn("Signature verification: ok", verify.stdout)
        with open(password, "w") as f:
            f.write("wrong\n")
        os.remove(out)
        self.refused(GOOD, "--sign", extra=["--sign", pfx, "--sign-password-file", password])


if __name__ == "__main__":
    unittest.main(verbosity=2)
