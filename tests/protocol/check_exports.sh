#!/bin/sh
# check_exports.sh LIBRARY REQUIRED... [-- OPTIONAL...]
# Every symbol listed in the REQUIRED files must be exported by LIBRARY, and
# LIBRARY may export nothing beyond them and the OPTIONAL files.
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
cat $required $optional /dev/null | sort -u > "$tmp/allowed"
status=0
missing=$(comm -23 "$tmp/required" "$tmp/exported")
extra=$(comm -13 "$tmp/allowed" "$tmp/exported")
if [ -n "$missing" ]; then echo "not exported by $lib:"; echo "$missing"; status=1; fi
if [ -n "$extra" ]; then echo "exported beyond the interface by $lib:"; echo "$extra"; status=1; fi
exit $status
