#!/usr/bin/env python3
"""The digest setup.exe checks at start-up (resource DIGEST 140): the SHA-256
of the configuration text, then that of the payload archive, 64 bytes.

usage: payload_digest.py CONFIG_TEXT PAYLOAD_ARCHIVE OUTPUT
"""
import hashlib
import os
import sys


def sha256_of_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
    return digest.digest()


def payload_digest(config_bytes, archive):
    return hashlib.sha256(config_bytes).digest() + sha256_of_file(archive)


def main(argv):
    if len(argv) != 4:
        sys.stderr.write(__doc__)
        return 2
    with open(argv[1], "rb") as f:
        data = payload_digest(f.read(), argv[2])
    with open(argv[3] + ".tmp", "wb") as f:
        f.write(data)
    os.replace(argv[3] + ".tmp", argv[3])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
