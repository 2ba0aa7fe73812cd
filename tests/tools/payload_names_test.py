#!/usr/bin/env python3
"""make-installer refuses a product folder holding a name that the installer
would refuse to unpack, naming it, before it packs anything; and refuses a
device name for the installation folder's name.

usage: payload_names_test.py TOOL COMMENTS SCRATCH
"""
import os
import shutil
import subprocess
import sys

TOOL, COMMENTS, SCRATCH = sys.argv[1:4]
CONFIG = """[IN_INFO]
OBJ_IN_CAPTION=星河麻将 安装
OBJ_IN_PUBLISHER=星河游戏
OBJ_IN_DISPLAY_NAME=星河麻将
OBJ_IN_FOLDER={folder}
OBJ_IN_DISPLAY_VERSION=3.2.0
OBJ_IN_EXE=Game.exe
OBJ_IN_EXE_LINK=星河麻将
OBJ_IN_UNINSTALL_EXE=Game.exe
OBJ_IN_REPAIR_EXE_CMD=--repair
OBJ_IN_REPAIR_EXE=Game.exe
OBJ_IN_REPAIR_EXE_LINK=修复星河麻将
OBJ_IN_USERDATA_FILE=user.ini
"""


def run(folder_name, bad_path):
    shutil.rmtree(SCRATCH, ignore_errors=True)
    product = os.path.join(SCRATCH, "product")
    os.makedirs(os.path.join(product, "data"))
    for path in ["Game.exe", "data/ok.dat"] + ([bad_path] if bad_path else []):
        with open(os.path.join(product, path), "wb") as f:
            f.write(b"x")
    config = os.path.join(SCRATCH, "product.ini")
    with open(config, "w", encoding="utf-8") as f:
        f.write(CONFIG.format(folder=folder_name))
    out = os.path.join(SCRATCH, "setup.exe")
    # Refusals come before anything is packed or the template, the resource
    # tool or Wine are used.
    missing = os.path.join(SCRATCH, "not-needed")
    result = subprocess.run([sys.executable, TOOL, "--config", config, "--payload", product, "--out", out,
                             "--template", missing, "--setres", missing, "--wine-run", missing,
                             "--comments", COMMENTS, "--work", os.path.join(SCRATCH, "work")],
                            capture_output=True, text=True)
    return result, out


failed = 0
cases = [("StarMahjong", f"data/{name}") for name in ("aux.dat", "CON", "com1.log", "Nul .txt", "...", " . ",
                                                        "a:b", "a\\b", "a|b", "tab\there")]
cases.append(("CON", None))
for folder, bad in cases:
    result, out = run(folder, bad)
    named = bad if bad else "OBJ_IN_FOLDER"
    if result.returncode != 1 or named not in result.stderr or os.path.exists(out) \
            or os.path.exists(os.path.join(SCRATCH, "work", "payload.7z")):
        print(f"FAIL {named!r}: exit {result.returncode}: {result.stderr.strip().splitlines()[-1:]}")
        failed = 1
    else:
        print(f"ok   {named!r}: {result.stderr.strip()}")
sys.exit(failed)
