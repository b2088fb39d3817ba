#!/bin/sh
# Installs the Debian packages the build, tests and tools need that are not
# installed yet; does nothing when all are present. Package names are listed
# one per line in tools/deps/*.txt (lines starting with # are comments).
#
#   tools/install-deps.sh          every list but web.txt
#   tools/install-deps.sh web      web.txt: the browser build and its test
set -eu
here=$(dirname "$0")
if [ $# -gt 0 ]; then
    lists=""
    for name in "$@"; do lists="$lists $here/deps/$name.txt"; done
else
    lists=$(ls "$here"/deps/*.txt | grep -v '/web\.txt$')
fi
missing=""
# shellcheck disable=SC2086
for pkg in $(sed 's/#.*//' $lists | sort -u); do
    status=$(dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null || true)
    case "$status" in
        *"install ok installed"*) ;;
        *) missing="$missing $pkg" ;;
    esac
done
[ -z "$missing" ] && exit 0
echo "install-deps: installing$missing"
if [ "$(id -u)" -eq 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq --no-install-recommends $missing
