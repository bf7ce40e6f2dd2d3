#!/usr/bin/env bash
# Rehearses an installation medium under Wine: runs its Launch.exe as a customer would, on a
# Wine prefix of its own, optionally after installing an MSI (so that an older version is found).
#
#   scripts/try-medium.sh MEDIUM_DIR [MSI_TO_INSTALL_FIRST]
#
# A 32-bit Launch.exe (what ships) runs in the 32-bit rig (scripts/rig32.sh, built on first
# use), a 64-bit one on this machine's Wine. With a DISPLAY you answer the boxes there; without
# one every box is answered (OK, else Cancel) and saved as a screenshot in the output folder.
# Prints the launcher's exit code and every program it started; the output folder also keeps
# them in "result" (exit_code=, before=, after=: the installed version, empty for none).
#
# TESSARO_TRY_PREFIX names the Wine prefix (default build/wine-prefix-try32 or -try64); the
# prefix is kept, but the medium's product is removed from it before each run.
# TESSARO_TRY_OUT names the output folder (default build/try-run), made anew on each run.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")/.."
die() {
  echo "try-medium: $*" >&2
  exit 1
}

root=$PWD
out=${TESSARO_TRY_OUT:-build/try-run}
[[ $out != /* ]] || out=$(realpath -m --relative-to="$root" "$out")
[[ $out != ..* ]] || die "the output folder must lie in $root: $out"

if [ "${1:-}" != --inside ]; then
  [ $# -ge 1 ] && [ $# -le 2 ] || die "usage: scripts/try-medium.sh MEDIUM_DIR [MSI_TO_INSTALL_FIRST]"
  medium=$(realpath -e -- "$1") || die "no such medium: $1"
  msi=""
  [ $# -lt 2 ] || msi=$(realpath -e -- "$2") || die "no such MSI: $2"
  for file in Launch.exe TS_INF; do
    [ -f "$medium/$file" ] || die "the medium has no $file: $medium"
  done
  bash scripts/setup.sh
  [ -x build/win64/tests/wine/box_answer.exe ] || bash scripts/build.sh win64 >/dev/null

  # The machine field of the PE header says which Wine can run the launcher.
  pe_offset=$(od -An -tu4 -j60 -N4 "$medium/Launch.exe" | tr -d ' ')
  machine=$(od -An -tx2 -j$((pe_offset + 4)) -N2 "$medium/Launch.exe" | tr -d ' ')
  case $machine in
    014c) bits=32 ;;
    8664) bits=64 ;;
    *) die "Launch.exe is neither a 32-bit nor a 64-bit x86 program (machine $machine)" ;;
  esac

  rm -rf "$out" && mkdir -p "$out"
  # The rig sees nothing of the host but this work tree: a medium from elsewhere is copied in.
  if [ $bits = 32 ] && [[ $medium != "$root"/* ]]; then
    cp -r -- "$medium" "$out/medium" && medium=$root/$out/medium
  fi
  if [ $bits = 32 ] && [ -n "$msi" ] && [[ $msi != "$root"/* ]]; then
    cp -- "$msi" "$out/" && msi=$root/$out/$(basename -- "$msi")
  fi
  echo "try-medium: $bits-bit Launch.exe, medium $medium${msi:+, installing $msi first}"
  if [ $bits = 32 ]; then
    export TESSARO_RIG32_PREFIX=${TESSARO_TRY_PREFIX:-$root/build/wine-prefix-try32}
    # With a display of your own the rig shows its windows there instead of on its own Xvfb.
    [ -z "${DISPLAY:-}" ] || export TESSARO_RIG32_USE_DISPLAY=1
    exec bash scripts/rig32.sh session bash scripts/try-medium.sh --inside 32 "$medium" "$msi"
  fi
  export TESSARO_WINEPREFIX=${TESSARO_TRY_PREFIX:-$root/build/wine-prefix-try64}
  if [ -n "${DISPLAY:-}" ]; then
    TESSARO_TRY_INTERACTIVE=1 exec bash scripts/try-medium.sh --inside 64 "$medium" "$msi"
  fi
  exec xvfb-run -a -s "-screen 0 1280x1024x24" bash scripts/try-medium.sh --inside 64 "$medium" "$msi"
fi

# --- inside: Wine, its prefix and a display are ready.
bits=$2 medium=$3 msi=$4
if [ "$bits" = 32 ]; then
  wine() { bash scripts/rig32.sh wine "$@"; }
  wineserver() { bash scripts/rig32.sh wineserver "$@"; }
  interactive=${TESSARO_RIG32_USE_DISPLAY:-}
else
  # shellcheck source=scripts/wine-env.sh
  source scripts/wine-env.sh
  tessaro_wine_prefix
  wine() { "$TESSARO_WINE" "$@"; }
  wineserver() { "$TESSARO_WINESERVER" "$@"; }
  # xvfb-run sets its own display; only a DISPLAY from outside is yours.
  interactive=${TESSARO_TRY_INTERACTIVE:-}
fi

windows_path() { printf 'Z:%s' "$(realpath "$1" | tr / '\\')"; }
product=$(head -c 38 "$medium/TS_INF")
key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"
# The view the launcher reads: the 32-bit one for the 32-bit program.
installed() {
  { wine reg query "$key" "/reg:$bits" 2>/dev/null || true; } |
    tr -d '\r' | awk '$1 == "DisplayVersion" { print $3 }'
}

# The machine as the medium should meet it: its product not installed, or installed by MSI.
wine msiexec /x "$product" /qn >/dev/null 2>&1 || true
if [ -n "$msi" ]; then
  wine msiexec /i "$(windows_path "$msi")" /qn || die "msiexec /i $msi failed"
fi
before=$(installed)
if [ -n "$before" ]; then
  echo "Before: Tessaro $before installed (product $product)"
else
  echo "Before: product $product not installed (in the registry view of the launcher)"
fi

launcher=$(windows_path "$medium/Launch.exe")
# Wine reports every process start on its "process" channel; that is the record of what ran.
trace=$root/$out/process-trace.log
set +e
if [ -n "$interactive" ]; then
  echo "Starting $launcher on $DISPLAY: answer its boxes there."
  WINEDEBUG=+process wine "$launcher" 2>"$trace"
else
  WINEDEBUG=+process wine build/win64/tests/wine/box_answer.exe \
    "$(windows_path "$out")" "$launcher" 2>"$trace"
fi
exit_code=$?
set -e
wineserver -w

for bmp in "$out"/*.bmp; do
  [ -e "$bmp" ] || continue
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
after=$(installed)
echo
echo "Launch.exe exit code: $exit_code"
echo "Started by it:"
# Every start after the launcher's own, but for Wine's own helpers.
perl -ne 'next unless /:CreateProcessInternalW app (.*) cmdline (.*)$/;
    my $line = $2 eq "(null)" ? $1 : $2;
    $line =~ s/^L"//; $line =~ s/"$//; $line =~ s/\\(.)/$1/g; print "$line\n"' "$trace" |
  awk '
    seen && !/\\(conhost|winemenubuilder|services|plugplay|explorer|rpcss|svchost|winedevice|wineboot)\.exe/ {
      print "  " $0; any = 1 }
    /Launch\.exe/ { seen = 1 }
    END { if (!any) print "  (nothing)" }'
if [ -n "$after" ]; then echo "After: Tessaro $after installed"; else echo "After: not installed"; fi
ls "$out"/*.png >/dev/null 2>&1 && echo "Screenshots: $(ls "$out"/*.png | tr '\n' ' ')"
printf 'exit_code=%s\nbefore=%s\nafter=%s\n' "$exit_code" "$before" "$after" >"$out/result"
