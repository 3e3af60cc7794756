#!/bin/sh
# check_exports.sh LIBRARY REQUIRED... [-- OPTIONAL...]
# Every symbol listed in the REQUIRED files must be exported by LIBRARY; it
# may export nothing else but symbols matching a pattern (grep -E, one a
# line) of the OPTIONAL files.
set -eu
lib=$1; shift
required=""; optional=""; mode=req
for f in "$@"; do
  if [ "$f" = "--" ]; then mode=opt; continue; fi
  if [ $mode = req ]; then required="$required $f"; else optional="$optional $f"; fi
done
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
nm -D --defined-only "$lib" | awk '{print $3}' | c++filt | sort -u > "$tmp/exported"
cat $required | sort -u > "$tmp/required"
cat $optional /dev/null > "$tmp/patterns"
echo '^$' >> "$tmp/patterns"
status=0
missing=$(comm -23 "$tmp/required" "$tmp/exported")
extra=$(comm -13 "$tmp/required" "$tmp/exported" | grep -E -v -f "$tmp/patterns" || true)
if [ -n "$missing" ]; then echo "not exported by $lib:"; echo "$missing"; status=1; fi
if [ -n "$extra" ]; then echo "exported beyond the interface by $lib:"; echo "$extra"; status=1; fi
exit $status
