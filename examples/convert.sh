#!/usr/bin/env bash
# Builds kobrat, converts the bundled example and shows the records: the
# length prefix, then the text (a CR inside it shown as \r, a long text cut
# short for the screen).
set -euo pipefail
cd "$(dirname "$0")/.."
bash scripts/build.sh >/dev/null
# A complete run ends with status 1.
status=0
build/kobrat examples/sample.txt build/sample.out || status=$?
[ "$status" -eq 1 ] || { echo "kobrat ended with status $status" >&2; exit 1; }
echo
echo "records in build/sample.out ($(wc -c <build/sample.out) bytes):"
awk 'BEGIN { RS = "\r\n" }
     { text = substr($0, 5); gsub(/\r/, "\\r", text)
       if (length(text) > 70) text = substr(text, 1, 70) "... (" length(text) " characters)"
       printf "  %s | %s\n", substr($0, 1, 4), text }' build/sample.out
