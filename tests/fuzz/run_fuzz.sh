#!/bin/sh
# Runs a fuzz target on a scratch copy of its seed corpus, so the repository is not written.
# Usage: run_fuzz.sh TARGET CORPUS [libFuzzer options...]
set -eu
target=$1
corpus=$2
shift 2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$corpus"/* "$work"/
"$target" "$@" "$work"
