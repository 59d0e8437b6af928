#!/bin/sh
# kv23's man page: help2man makes it from `kv23 --help` and `kv23 --version`,
# and each command's own --help follows in a COMMANDS section.
#   kv23_man.sh KV23 OUT.1
set -eu
kv23=$1
out=$2
include=$(mktemp)
trap 'rm -f "$include"' EXIT
{
  echo '[COMMANDS]'
  for command in $("$kv23" --help | sed -n '/^commands:/,/^$/s/^  \([a-z]*\) .*/\1/p'); do
    echo ".SS \"kv23 $command\""
    echo '.nf'
    # Backslashes, minus signs and a leading dot or quote mean something to roff.
    "$kv23" "$command" --help |
      sed -e 's/\\/\\e/g' -e 's/-/\\-/g' -e "s/^\([.']\)/\\\\\&\1/"
    echo '.fi'
  done
} >"$include"
help2man --no-info --section 1 --source "Harrow Quill" \
  --name "command-line host for the KV23-T ZuDiz VST 2.4 plug-in" \
  --include "$include" --output "$out" "$kv23"
