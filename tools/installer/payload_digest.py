#!/usr/bin/env python3
"""The digests setup.exe checks: resource DIGEST 141, the SHA-256 of every
file entry of the payload archive, one line "<hex>  <name>" each (UTF-8,
"/" between levels, by name), and resource DIGEST 140, which setup.exe
checks at start-up: the SHA-256 of the configuration text, that of the
payload archive and that of the table, 96 bytes. An installer whose
archive's packed streams lie in data files beside it adds the SHA-256 of
their table (DIGEST 142): 128 bytes.

usage: payload_digest.py CONFIG_TEXT PAYLOAD_ARCHIVE OUTPUT ENTRY_TABLE_OUTPUT
       payload_digest.py --entries PAYLOAD_ARCHIVE ENTRY_TABLE_OUTPUT   (the table alone)
"""
import hashlib
import os
import subprocess
import sys
import tempfile


def sha256_of_file(path):
    digest = hashlib.sha256()
    with open(path, "rb") as f:
        for chunk in iter(lambda: f.read(1 << 20), b""):
            digest.update(chunk)
    return digest.digest()


def archive_files(archive):
    """The names of the archive's file entries, as 7zz lists them."""
    listing = subprocess.run(["7zz", "l", "-slt", "-ba", archive], check=True, capture_output=True).stdout
    files, entry = [], {}
    for line in listing.decode("utf-8").splitlines() + [""]:
        if not line.strip():
            if "Path" in entry and "D" not in entry.get("Attributes", "").split(" ")[0]:
                files.append(entry["Path"])
            entry = {}
            continue
        key, _, value = line.partition(" = ")
        entry[key] = value
    return files


def entry_digests(archive):
    """The table of every file entry's SHA-256, from the bytes 7zz unpacks."""
    with tempfile.TemporaryDirectory() as unpacked:
        subprocess.run(["7zz", "x", "-bso0", "-bsp0", "-snl", f"-o{unpacked}", archive], check=True)
        lines = []
        for name in sorted(set(archive_files(archive))):
            path = os.path.join(unpacked, name)
            # Only what unpacks as a plain file has bytes to compare with.
            if os.path.isfile(path) and not os.path.islink(path):
                lines.append(f"{sha256_of_file(path).hex()}  {name}\n")
    return "".join(lines).encode("utf-8")


def payload_digest(config_bytes, archive, table, data_files_table=None):
    """archive is the file stored as DATA 148: the whole archive, or its
    start header and database when data_files_table is given."""
    digest = hashlib.sha256(config_bytes).digest() + sha256_of_file(archive) + hashlib.sha256(table).digest()
    return digest + (hashlib.sha256(data_files_table).digest() if data_files_table is not None else b"")


def write(path, data):
    with open(path + ".tmp", "wb") as f:
        f.write(data)
    os.replace(path + ".tmp", path)


def main(argv):
    if len(argv) == 4 and argv[1] == "--entries":
        write(argv[3], entry_digests(argv[2]))
        return 0
    if len(argv) != 5:
        sys.stderr.write(__doc__)
        return 2
    table = entry_digests(argv[2])
    with open(argv[1], "rb") as f:
        data = payload_digest(f.read(), argv[2], table)
    write(argv[4], table)
    write(argv[3], data)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
