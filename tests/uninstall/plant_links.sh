#!/usr/bin/env bash
# An installation folder for the removal plan's tests whose data\outside is a
# Unix symbolic link to a folder beside it, which Wine shows as a reparse
# point. Only a script can make one: Wine's own calls make no link.
#   plant_links.sh FOLDER
set -euo pipefail
rm -rf "$1"
mkdir -p "$1/outside" "$1/planted/data"
printf 'outside\r\n' > "$1/outside/file.txt"
ln -s "$1/outside" "$1/planted/data/outside"
