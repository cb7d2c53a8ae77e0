#!/usr/bin/env bash
# Fails the build when the program needs what its own entry does not do
# (shell/main.cpp): a static constructor, or imported data that must be
# relocated at run time. Reads the linker's map of the program.
map=$1
fail=0
if grep -E '^ \.(ctors|init_array)[^ ]* +0x[0-9a-f]+ +0x[0-9a-f]*[1-9a-f][0-9a-f]* ' "$map"; then
  echo "check-start: a static constructor above; the program's entry runs none" >&2
  fail=1
fi
size=$(awk '/__rt_psrelocs_size = / { print $1; exit }' "$map")
if [ -z "$size" ] || [ $((size)) -ne 0 ]; then
  echo "check-start: imported data relocated at run time ($size bytes of list); the program's entry does none" >&2
  fail=1
fi
exit $fail
