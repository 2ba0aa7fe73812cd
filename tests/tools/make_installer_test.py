#!/usr/bin/env python3
"""make-installer: refuses bad configurations with a message naming the key,
stores the configuration as the installer's GBK text, and gives the same
bytes for the same inputs.

usage: make_installer_test.py TOOL TEMPLATE SETRES WINE_RUN COMMENTS SCRATCH
"""
import os
import shutil
import subprocess
import sys
import unittest

TOOL, TEMPLATE, SETRES, WINE_RUN, COMMENTS, SCRATCH = sys.argv[1:7]
del sys.argv[1:7]

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

    def build(self, values, out="setup.exe", raw=None):
        config = os.path.join(self.dir, "product.ini")
        with open(config, "w", encoding="utf-8") as f:
            f.write(raw if raw is not None else
                    "[IN_INFO]\n" + "".join(f"{k}={v}\n" for k, v in values.items()))
        out = os.path.join(self.dir, out)
        run = subprocess.run([sys.executable, TOOL, "--config", config, "--payload", self.product, "--out", out,
                              "--template", TEMPLATE, "--setres", SETRES, "--wine-run", WINE_RUN,
                              "--comments", COMMENTS, "--level", "1", "--work", os.path.join(self.dir, "work")],
                             capture_output=True, text=True)
        return run, out

    def refused(self, values, key, raw=None):
        run, out = self.build(values, raw=raw)
        self.assertEqual(run.returncode, 1, run.stderr)
        self.assertIn(key, run.stderr)
        self.assertFalse(os.path.exists(out))
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
        # The payload is one solid block holding the product as it is.
        listing = subprocess.run(["7zz", "l", "-slt", os.path.join(self.dir, "work", "payload.7z")],
                                 capture_output=True, text=True, check=True).stdout
        self.assertIn("Blocks = 1", listing)
        self.assertIn("Path = data/棋盘.dat", listing)
        self.assertIn("BCJ2", listing)

    def test_same_inputs_give_the_same_bytes(self):
        first, a = self.build(GOOD, out="a.exe")
        for root, _, files in os.walk(self.product):
            for name in files:
                os.utime(os.path.join(root, name), (1_000_000_000, 1_000_000_000))
        second, b = self.build(GOOD, out="b.exe")
        self.assertEqual((first.returncode, second.returncode), (0, 0), first.stderr + second.stderr)
        with open(a, "rb") as fa, open(b, "rb") as fb:
            self.assertTrue(fa.read() == fb.read())

    def test_a_given_size_is_kept(self):
        run, _ = self.build(dict(GOOD, OBJ_IN_SIZE="500"))
        self.assertEqual(run.returncode, 0, run.stderr)
        with open(os.path.join(self.dir, "work", "incfg.ini"), "rb") as f:
            self.assertIn(b"OBJ_IN_SIZE=500\r\n", f.read())

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
        ]
        for key, value, problem in cases:
            with self.subTest(key=key, value=value):
                self.assertIn(problem, self.refused(dict(GOOD, **{key: value}), key))
        self.refused(dict(GOOD, OBJ_IN_CAPTON="typo"), "OBJ_IN_CAPTON")
        self.refused(GOOD, "no [IN_INFO] section", raw="[Other]\nOBJ_IN_CAPTION=x\n")


if __name__ == "__main__":
    unittest.main(verbosity=2)
