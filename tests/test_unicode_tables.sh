#!/bin/sh
# The committed Unicode tables are what their generator makes of the installed Unicode
# Character Database (Debian's unicode-data): a table edited by hand, or a generator changed
# without its table, fails here.
# Usage: test_unicode_tables.sh SOURCE_DIR
source_dir=$1
ucd=/usr/share/unicode
if [ ! -r "$ucd/CaseFolding.txt" ]; then
  echo "skipped: no Unicode Character Database in $ucd (Debian's unicode-data)"
  exit 77
fi
made=$(mktemp)
trap 'rm -f "$made"' EXIT
python3 "$source_dir/scripts/make-unicode-tables.py" "$ucd" >"$made" || exit 1
if ! cmp -s "$source_dir/ui/log/UnicodeTables.cpp" "$made"; then
  diff -u "$source_dir/ui/log/UnicodeTables.cpp" "$made" | head -n 40
  echo "ui/log/UnicodeTables.cpp differs from what scripts/make-unicode-tables.py makes"
  exit 1
fi
echo "ui/log/UnicodeTables.cpp is the generator's output for $(head -n 1 "$ucd/CaseFolding.txt")"
