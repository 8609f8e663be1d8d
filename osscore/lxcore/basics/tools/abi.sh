#!/usr/bin/env bash
# The exported interface of lx95Cbs71.so against what the repository records of it:
#
#   res/lx95Cbs71.abi    the ABI (functions, variables and the types they reach,
#                        as libabigail's abidw writes it)
#   res/debian/symbols   the Debian symbols file of the runtime package: every
#                        exported symbol with the version that introduced it
#
# usage: abi.sh check LIBRARY    exit 1 when LIBRARY differs from the records, or
#                                when the last commit changed the recorded ABI
#                                incompatibly without raising VERSION
#        abi.sh update LIBRARY   rewrite both records from LIBRARY
#
# LIBRARY must carry debugging information (a RelWithDebInfo build). Both sides
# of every comparison are abidw output made with the same options, so that a
# type counts as private (declared outside include/) on both alike.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
root=$(cd "$here/../../.." && pwd)
baseline=$here/res/lx95Cbs71.abi
symbols=$here/res/debian/symbols
update_hint="./build.sh abi --update"

usage() {
  echo "usage: $0 check|update LIBRARY" >&2
  exit 2
}
[ $# -eq 2 ] || usage
mode=$1 library=$2
[ -f "$library" ] || { echo "abi: no library at $library" >&2; exit 1; }
for tool in abidw abidiff dpkg-gensymbols; do
  command -v "$tool" >/dev/null || { echo "abi: $tool is missing (Debian abigail-tools, dpkg-dev)" >&2; exit 1; }
done
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The project's VERSION in the top CMakeLists.txt given on standard input.
project_version() { sed -n 's/^project(lxbasics VERSION \([0-9.]*\).*/\1/p' | head -n1; }
version=$(project_version <"$root/CMakeLists.txt")

dump() {  # dump LIBRARY OUT: source paths relative to the checkout, wherever it is
  abidw --headers-dir "$here/include" --drop-private-types --no-show-locs --no-corpus-path \
    --no-comp-dir-path --no-parameter-names --type-id-style hash "$1" | sed "s|path='$root/|path='|" >"$2"
}

# compare OLD NEW REPORT: abidiff of two dumps. Prints "same", "added" (new
# interfaces only) or "changed" (something removed or changed); exits on a
# failure of abidiff itself. abidiff's status is a bit set: 1 error, 2 usage
# error, 4 ABI change, 8 incompatible change.
compare() {
  local status=0
  abidiff "$1" "$2" >"$3" || status=$?
  if [ $((status & 3)) -ne 0 ]; then
    cat "$3" >&2
    echo "abi: abidiff failed (status $status)" >&2
    exit 1
  fi
  if [ "$status" -eq 0 ]; then
    echo same
  elif [ $((status & 8)) -eq 0 ] && abidiff --no-added-syms "$1" "$2" >/dev/null; then
    echo added
  else
    echo changed
  fi
}

dump "$library" "$work/built.abi"

# The library's exported symbols as a symbols file, each with this VERSION.
mkdir -p "$work/pkg"
dpkg-gensymbols -q -plxbasics -v"$version" -P"$work/pkg" -e"$library" -O"$work/exported" >/dev/null
names() { sed -n 's/^ \([^ ]*\) .*/\1/p' "$1" | sort; }

if [ "$mode" = update ]; then
  result=same
  [ ! -f "$baseline" ] || result=$(compare "$baseline" "$work/built.abi" "$work/report")
  if [ "$result" = changed ] &&
    git -C "$root" rev-parse -q --verify HEAD >/dev/null &&
    [ "$(git -C "$root" show HEAD:CMakeLists.txt | project_version)" = "$version" ]; then
    cat "$work/report"
    echo "abi: the change above removes or changes interfaces: raise VERSION in CMakeLists.txt" \
      "(now $version) in the same commit, or CI refuses it" >&2
  fi
  cp "$work/built.abi" "$baseline"
  # Symbols the file already lists keep the version that introduced them; new
  # ones get this VERSION; those no longer exported are dropped.
  touch "$symbols"
  awk 'NR == FNR { if (/^ /) introduced[$1] = $2; next }
       /^ / && ($1 in introduced) { print " " $1 " " introduced[$1]; next }
       { print }' "$symbols" "$work/exported" >"$work/symbols"
  mv "$work/symbols" "$symbols"
  echo "abi: wrote ${baseline#"$root"/} and ${symbols#"$root"/} from $library"
  exit 0
fi
[ "$mode" = check ] || usage

[ -f "$baseline" ] || { echo "abi: no recorded ABI at ${baseline#"$root"/}; make it with $update_hint" >&2; exit 1; }
failed=0
# (a variable first: set -e does not see a failing command substitution in a case word)
result=$(compare "$baseline" "$work/built.abi" "$work/report")
case $result in
  same) echo "abi: the library's interface is the recorded one" ;;
  added)
    cat "$work/report"
    echo "abi: the library exports interfaces that ${baseline#"$root"/} lacks (above)." \
      "Record them: $update_hint, and commit the two changed files." >&2
    failed=1
    ;;
  changed)
    cat "$work/report"
    echo "abi: the library removes or changes interfaces that ${baseline#"$root"/} records (above)." \
      "Programs built against the recorded ones may break. If that is intended, raise VERSION in" \
      "CMakeLists.txt (now $version), run $update_hint, and commit all three files together." >&2
    failed=1
    ;;
esac

if ! diff -u --label "${symbols#"$root"/}" --label "$(basename "$library")" <(names "$symbols") \
  <(names "$work/exported") >"$work/names"; then
  cat "$work/names"
  echo "abi: ${symbols#"$root"/} does not list exactly the library's exported symbols (diff above)." \
    "Update it: $update_hint." >&2
  failed=1
fi

# The last commit: a recorded ABI that it changed incompatibly needs a higher VERSION.
rel=${baseline#"$root"/}
if git -C "$root" rev-parse -q --verify HEAD^ >/dev/null && git -C "$root" cat-file -e "HEAD^:$rel" 2>/dev/null &&
  ! git -C "$root" diff --quiet HEAD^ HEAD -- "$rel"; then
  git -C "$root" show "HEAD^:$rel" >"$work/previous.abi"
  git -C "$root" show "HEAD:$rel" >"$work/current.abi"
  result=$(compare "$work/previous.abi" "$work/current.abi" "$work/history")
  if [ "$result" = changed ]; then
    before=$(git -C "$root" show HEAD^:CMakeLists.txt | project_version)
    after=$(git -C "$root" show HEAD:CMakeLists.txt | project_version)
    if dpkg --compare-versions "$after" gt "$before"; then
      echo "abi: the last commit changes the recorded ABI incompatibly and raises VERSION ($before to $after)"
    else
      cat "$work/history"
      echo "abi: the last commit changes $rel incompatibly (above) but keeps VERSION at $after." \
        "Raise VERSION in CMakeLists.txt in that commit." >&2
      failed=1
    fi
  fi
fi
exit "$failed"
