#!/usr/bin/env python3
"""The benchmark's products: the same arguments give the same bytes, the
next version differs from the first exactly as a patch would, and
patch_blocks counts the blocks holding a file the first version lacks.

usage: bench_product_test.py MAKE_PRODUCT PATCH_BLOCKS SCRATCH
"""
import filecmp
import os
import shutil
import subprocess
import sys
import unittest

MAKE_PRODUCT, PATCH_BLOCKS, SCRATCH = sys.argv[1:4]
del sys.argv[1:4]
SIZE = ["--mb", "6", "--files", "600"]


def tree(folder):
    return sorted(os.path.relpath(os.path.join(root, name), folder)
                  for root, _, files in os.walk(folder) for name in files)


class BenchProductTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        shutil.rmtree(SCRATCH, ignore_errors=True)
        for name, extra in (("v1", []), ("v1-again", []), ("v2", ["--next"])):
            subprocess.run([sys.executable, MAKE_PRODUCT, os.path.join(SCRATCH, name)] + SIZE + extra, check=True)

    def test_next_version_changes_what_a_patch_changes(self):
        v1, again, v2 = (os.path.join(SCRATCH, name) for name in ("v1", "v1-again", "v2"))
        self.assertEqual(tree(v1), tree(again))
        self.assertTrue(all(filecmp.cmp(os.path.join(v1, p), os.path.join(again, p), shallow=False)
                            for p in tree(v1)))
        old, new = set(tree(v1)), set(tree(v2))
        changed = [p for p in sorted(old & new)
                   if not filecmp.cmp(os.path.join(v1, p), os.path.join(v2, p), shallow=False)]
        kinds = {}
        for path in changed:
            kind = ("program" if path == "Marvane.exe" else "library" if path.endswith(".dll")
                    else "texture" if path.startswith("data/textures/") else "text")
            kinds.setdefault(kind, []).append(path)
        self.assertEqual({kind: len(paths) for kind, paths in kinds.items() if kind != "texture"},
                         {"program": 1, "library": 2, "text": 20})
        # The textures of one zone, every one of them.
        zones = {path.split("/")[2] for path in kinds["texture"]}
        self.assertEqual(len(zones), 1)
        zone = f"data/textures/{zones.pop()}/"
        self.assertEqual(kinds["texture"], [path for path in sorted(old) if path.startswith(zone)])
        # Scripts of many modules, not of one.
        self.assertGreater(len({path.split("/")[1] for path in kinds["text"]}), 5)
        self.assertEqual((len(new - old), len(old - new)), (5, 5))

    def test_patch_blocks_counts_the_blocks_an_upgrade_must_decode(self):
        v1, v2 = os.path.join(SCRATCH, "v1"), os.path.join(SCRATCH, "v2")
        # One file to a block: a block is touched when its one file is new
        # or differs in size or content from the first version's.
        archive = os.path.join(SCRATCH, "v2.7z")
        subprocess.run(["7zz", "a", "-bso0", "-bsp0", "-mx=1", "-ms=1f", archive, "."], cwd=v2, check=True)
        differing = sum(1 for p in tree(v2) if not os.path.exists(os.path.join(v1, p))
                        or not filecmp.cmp(os.path.join(v1, p), os.path.join(v2, p), shallow=False))
        for installed, touched in ((v1, differing), (v2, 0)):
            out = subprocess.run([sys.executable, PATCH_BLOCKS, archive, installed], capture_output=True, text=True,
                                 check=True).stdout.strip().split(",")
            self.assertEqual(out[:3], ["touched", str(touched), str(len(tree(v2)))], installed)


if __name__ == "__main__":
    unittest.main(verbosity=2)
