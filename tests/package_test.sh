#!/usr/bin/env bash
# Tests packages as a user gets them: unpacks each one into a scratch root (a .deb with
# dpkg -x, a .tar.gz with tar, a .zip with cmake -E tar), runs the reelfix inside on
# samples/sample.avi, and compares the movie it writes and the text it prints with those of
# the build tree's reelfix. The movies may differ only in the date of the conversion (offsets
# 320 to 343). A .deb must also carry the dependencies that dpkg-shlibdeps found, and a manual
# page of its version for every program, which groff (and mandoc, when installed) renders
# without a warning. A .zip's reelfix.exe runs under Wine. Exits non-zero on the first failure.
#
#   tests/package_test.sh BUILD_TREE_REELFIX PACKAGE...
set -euo pipefail
source_dir=$(cd "$(dirname "$0")/.." && pwd)
reference=${1:?usage: tests/package_test.sh BUILD_TREE_REELFIX PACKAGE...}
shift
(($#)) || { echo "usage: tests/package_test.sh BUILD_TREE_REELFIX PACKAGE..." >&2; exit 2; }
reference=$(cd "$(dirname "$reference")" && pwd)/$(basename "$reference")
packages=()
for package in "$@"; do
  [[ -f $package ]] || { echo "package_test: $package does not exist" >&2; exit 1; }
  packages+=("$(cd "$(dirname "$package")" && pwd)/$(basename "$package")")
done

fail() { printf 'package_test: FAIL %s\n' "$*" >&2; exit 1; }

work=$(mktemp -d "${TMPDIR:-/tmp}/reelfix-package-test.XXXXXXXX")
source "$source_dir/scripts/wine-prefix.sh"
cleanup() {
  wine_prefix_remove
  rm -rf "$work"
}
trap cleanup EXIT

# Converts the sample in a directory of its own, with the same relative names every time,
# since the names appear in the text. Usage: convert DIRECTORY PROGRAM [LAUNCHER]
convert() {
  local dir=$1 program=$2 launcher=${3:-}
  mkdir -p "$dir"
  cp "$source_dir/samples/sample.avi" "$dir/sample.avi"
  local status=0
  (cd "$dir" && $launcher "$program" sample.avi camera.avi >console.txt 2>errors.txt) || status=$?
  [[ $status == 0 ]] || fail "$program ended with status $status: $(cat "$dir/errors.txt")"
  [[ -f $dir/camera.avi ]] || fail "$program wrote no movie"
}

# Usage: same_result REFERENCE_DIRECTORY DIRECTORY WHAT
same_result() {
  local a=$1/camera.avi b=$2/camera.avi
  [[ $(stat -c %s "$a") == $(stat -c %s "$b") ]] ||
    fail "$3: a movie of $(stat -c %s "$b") bytes, not $(stat -c %s "$a")"
  cmp -s <(head -c 320 "$a") <(head -c 320 "$b") &&
    cmp -s <(tail -c +345 "$a") <(tail -c +345 "$b") ||
    fail "$3: the movie differs from the build tree's beyond the date: $(cmp "$a" "$b" | head -n 1)"
  # Text that Wine's console layer may end with CR LF is compared line by line.
  diff <(tr -d '\r' <"$1/console.txt") <(tr -d '\r' <"$2/console.txt") >"$work/console.diff" ||
    fail "$3: the text differs from the build tree's: $(head -n 20 "$work/console.diff")"
  [[ ! -s $2/errors.txt ]] || fail "$3: it printed on standard error: $(cat "$2/errors.txt")"
}

# The .deb's own checks: the dependencies dpkg-shlibdeps computed, and a manual page of this
# version for every program in it.
check_deb() {
  local deb=$1 root=$2
  local version depends
  version=$(dpkg-deb -f "$deb" Version)
  depends=$(dpkg-deb -f "$deb" Depends)
  [[ $depends == *libc6* && $depends == *libstdc++6* ]] ||
    fail "$deb: Depends lacks what the program links (dpkg-shlibdeps): '$depends'"
  if [[ -e $root/usr/bin/reelprep ]]; then
    [[ $depends == *libavformat* ]] || fail "$deb: Depends lacks reelprep's FFmpeg libraries: '$depends'"
  fi
  local program name page warnings
  for program in "$root"/usr/bin/*; do
    name=$(basename "$program")
    page=$root/usr/share/man/man1/$name.1.gz
    [[ -f $page ]] || fail "$deb: no manual page for $name"
    warnings=$(zcat "$page" | groff -ww -z -man 2>&1) || fail "$deb: groff failed on $name.1: $warnings"
    [[ -z $warnings ]] || fail "$deb: $name.1 renders with warnings: $warnings"
    if command -v mandoc >/dev/null; then
      warnings=$(zcat "$page" | mandoc -T lint 2>&1) || fail "$deb: mandoc -T lint on $name.1: $warnings"
    fi
    zcat "$page" | grep -q "^\.TH .*\"$name $version\"" || fail "$deb: $name.1 does not name version $version"
  done
  # The manual page repeats the README's command that prepares a source.
  local readme_command page_command
  readme_command=$(grep -m 1 '^ffmpeg -i input.mp4 ' "$root/usr/share/doc/reelfix/README.md")
  # Its lines there end in \e (a backslash) while the command goes on, and minus signs are \-.
  page_command=$(zcat "$root/usr/share/man/man1/reelfix.1.gz" |
    awk '/^ffmpeg / { on = 1 } on { text = text $0; if ($0 !~ /\\e$/) { print text; exit } }' |
    sed 's/ *\\e */ /g; s/\\-/-/g')
  [[ -n $readme_command && $page_command == "$readme_command" ]] ||
    fail "$deb: reelfix.1 and the README give different preparation commands: '$page_command'"
}

echo "package_test: the build tree's reelfix: $reference"
convert "$work/reference" "$reference"

for package in "${packages[@]}"; do
  name=$(basename "$package")
  root=$work/root-$name
  mkdir -p "$root"
  case $name in
    *.deb)
      dpkg -x "$package" "$root"
      [[ -x $root/usr/bin/reelfix ]] || fail "$name installs no /usr/bin/reelfix"
      check_deb "$package" "$root"
      convert "$work/run-$name" "$root/usr/bin/reelfix"
      ;;
    *.tar.gz)
      tar -xzf "$package" -C "$root"
      program=$(find "$root" -path '*/bin/reelfix' -type f)
      [[ -n $program && -x $program ]] || fail "$name holds no bin/reelfix"
      convert "$work/run-$name" "$program"
      ;;
    *.zip)
      (cd "$root" && cmake -E tar xf "$package")
      program=$(find "$root" -name reelfix.exe -type f)
      [[ -n $program ]] || fail "$name holds no reelfix.exe"
      folder=$(dirname "$program")
      [[ -f $folder/README.md && -f $folder/LICENSE.txt ]] ||
        fail "$name lacks README.md or LICENSE.txt beside reelfix.exe"
      wine_find || fail "$name: Wine is needed to run reelfix.exe"
      [[ -n ${wine_prefix_made:-} ]] || wine_prefix_start || fail "Wine did not create its prefix"
      # Unpacked on drive C:, as a Windows user would; run with the same names.
      cp -r "$folder" "$WINEPREFIX/drive_c/reelfix"
      convert "$WINEPREFIX/drive_c/run-$name" "$WINEPREFIX/drive_c/reelfix/reelfix.exe" "$wine"
      cp -r "$WINEPREFIX/drive_c/run-$name" "$work/run-$name"
      ;;
    *) fail "$name: not a .deb, .tar.gz or .zip" ;;
  esac
  same_result "$work/reference" "$work/run-$name" "$name"
  echo "package_test: PASS $name"
done
