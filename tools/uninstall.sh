#!/bin/sh
# Removes what `make install` installed from BUILD_DIR, as CMake's install
# manifest there lists it (BUILD_DIR/install_manifest.txt: every file of
# the last install from that build folder, whatever its PREFIX), then the
# engine's own folders that leaves empty (include/kevo, lib/cmake/kevo,
# share/kevo, share/doc/kevo and those inside them); bin/, lib/ and the
# others stay. The manifest goes last, so that an interrupted run can be
# repeated.
#
#   tools/uninstall.sh BUILD_DIR
set -eu
manifest=${1:-build}/install_manifest.txt
if [ ! -f "$manifest" ]; then
    echo "make uninstall: no install manifest ($manifest): nothing was installed from this build folder" >&2
    exit 1
fi
removed=0
while IFS= read -r file || [ -n "$file" ]; do
    [ -n "$file" ] || continue
    if [ -e "$file" ] || [ -L "$file" ]; then
        rm -f -- "$file"
        removed=$((removed + 1))
    fi
done <"$manifest"
# The folders of the files, deepest first; only those named kevo or inside
# one, and only when empty.
while IFS= read -r file || [ -n "$file" ]; do
    dir=$(dirname -- "$file")
    while :; do
        case "$dir" in
            */kevo | */kevo/*) echo "$dir" ;;
            *) break ;;
        esac
        dir=$(dirname -- "$dir")
    done
done <"$manifest" | sort -u -r | while IFS= read -r dir; do
    rmdir -- "$dir" 2>/dev/null || true
done
rm -f -- "$manifest"
echo "make uninstall: removed $removed files"
