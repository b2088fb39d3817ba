#!/bin/sh
# The API reference: Doxygen over the headers (docs/Doxyfile, through
# tools/doxygen-filter.awk) into OUT/html. Fails, listing them, when a
# public function has no comment; other warnings (constants, records and
# members without one) are counted and kept in OUT/warnings.log.
#   tools/make-docs.sh [OUT]      (default build/docs, from the repository root)
set -eu
cd "$(dirname "$0")/.."
out=${1:-build/docs}
mkdir -p "$out"
log=$out/warnings.log
{ cat docs/Doxyfile; echo "OUTPUT_DIRECTORY = $out"; echo "WARN_LOGFILE = $log"; } | doxygen -
functions=$(grep -c '(function) of file .* is not documented' "$log" || true)
others=$(($(grep -c 'warning:' "$log" || true) - functions))
if [ "$functions" -gt 0 ]; then
    grep '(function) of file .* is not documented' "$log" >&2
    echo "DOCS: $functions public functions have no comment" >&2
    exit 1
fi
echo "DOCS: $out/html/index.html ($others other warnings in $log)"
