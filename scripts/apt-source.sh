#!/usr/bin/env bash
# The archives this machine's apt already uses for a suite, so that scripts fetch from the
# machine's own mirror or proxy and name no host themselves. Prints one line per enabled entry
# of the type that lists the suite, in apt's order: "URI KEY", KEY being the entry's
# Signed-By file or "-". Reads sources.list and sources.list.d/*.list (one-line form) and
# sources.list.d/*.sources (deb822).
#   scripts/apt-source.sh deb|deb-src SUITE [FILE-TO-LEAVE-OUT]
# MVR_APT_ETC reads another folder than /etc/apt.
set -euo pipefail
[ $# -ge 2 ] || { echo "usage: $0 deb|deb-src SUITE [FILE-TO-LEAVE-OUT]" >&2; exit 2; }
etc=${MVR_APT_ETC:-/etc/apt}
files=()
for f in "$etc/sources.list" "$etc"/sources.list.d/*.list "$etc"/sources.list.d/*.sources; do
  [ -f "$f" ] && [ "$f" != "${3:-}" ] && files+=("$f")
done
[ ${#files[@]} -gt 0 ] || exit 0

awk -v want_type="$1" -v want_suite="$2" '
function has(list, word,   n, i, w) {
  n = split(list, w, /[ \t]+/)
  for (i = 1; i <= n; i++) if (w[i] == word) return 1
  return 0
}
function show(uri, key) {
  sub(/\/+$/, "", uri)
  print uri, (key == "" ? "-" : key)
}
# deb822: a stanza ends at a blank line or the end of its file.
function end_stanza(   n, i, u) {
  if (in_stanza && has(st["types"], want_type) && has(st["suites"], want_suite) && tolower(st["enabled"]) != "no") {
    n = split(st["uris"], u, /[ \t]+/)
    for (i = 1; i <= n; i++) if (u[i] != "") show(u[i], key_inline ? "" : st["signed-by"])
  }
  delete st
  in_stanza = 0
  key_inline = 0
  field = ""
}
FNR == 1 { end_stanza(); deb822 = FILENAME ~ /\.sources$/ }
deb822 && /^#/ { next }
deb822 && /^[ \t]*$/ { end_stanza(); next }
deb822 && /^[ \t]/ {
  # A continued value; a Signed-By that goes on over lines holds the key itself.
  if (field == "signed-by") key_inline = 1
  else if (field != "") st[field] = st[field] " " $0
  next
}
deb822 {
  i = index($0, ":")
  if (i == 0) next
  field = tolower(substr($0, 1, i - 1))
  value = substr($0, i + 1)
  gsub(/^[ \t]+|[ \t]+$/, "", value)
  st[field] = value
  in_stanza = 1
  next
}
{
  sub(/#.*/, "")
  if ($1 != want_type) next
  key = ""
  f = 2
  if ($2 ~ /^\[/) {
    # Options: "[arch=amd64 signed-by=/path]", spaces inside the brackets allowed.
    for (; f <= NF; f++) {
      opt = $f
      gsub(/[\[\]]/, "", opt)
      if (opt ~ /^signed-by=/) key = substr(opt, 11)
      if ($f ~ /\]$/) break
    }
    f++
  }
  if ($(f + 1) == want_suite) show($f, key)
}
END { end_stanza() }
' "${files[@]}"
