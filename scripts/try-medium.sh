#!/usr/bin/env bash
# Rehearses an installation medium under Wine as a customer would run its Launch.exe, on a Wine
# prefix of its own, optionally after installing an MSI (so that an older version is found);
# README.md, "Trying your own medium", tells what it prints.
#
#   scripts/try-medium.sh [--answer ID=BUTTON[,BUTTON...]]... [--product-running]
#                         MEDIUM_DIR|IMAGE [MSI_TO_INSTALL_FIRST]
#   scripts/try-medium.sh --remove-prefixes
#
# --answer: the answers to the launcher's message ID (107: OK, Cancel; 108: Retry, Cancel), used
# in order, each one printed; a box without one gets OK where it has one, else Cancel.
# --product-running: starts the installed Tessaro.exe (from the uninstall key's InstallLocation)
# before the launcher and ends it once message 108 shows, so that a Retry finds it ended.
# --remove-prefixes: removes the rehearsals' Wine prefixes (0.7 to 1.4 GB each).
#
# An ISO image is rehearsed as a disc: its files, read from it without mounting it, become a
# read-only drive of type CD-ROM (D: or the next free letter), and the launcher starts from there.
#
# TESSARO_TRY_PREFIX names the Wine prefix (default build/wine-prefix-try32 or -try64), kept
# between runs; TESSARO_TRY_OUT the output folder, made anew (default: a folder of its own under
# build/try-runs, kept, the newest also named build/try-runs/newest): "result" (exit_code=,
# before=, after=: the installed version, empty for none), Wine's whole log "wine.log" and the
# screenshots. Both lie in the work tree, where the rig can see them; relative paths, here and
# in the variables, are taken from the caller's folder.
set -euo pipefail
tessaro_tool=try-medium
# shellcheck source=scripts/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"

remove_prefixes() {
  local prefix freed=0
  for prefix in "$tessaro_root"/build/wine-prefix-{try32,try64,sample32} \
    ${TESSARO_TRY_PREFIX:+"$(realpath -m -- "$TESSARO_TRY_PREFIX")"}; do
    [[ -e $prefix ]] || continue
    echo "try-medium: removing $prefix ($(du -sh -- "$prefix" | cut -f1))"
    rm -rf -- "$prefix" "$prefix.lock" && freed=$((freed + 1))
  done
  echo "try-medium: $freed prefixes removed; the next rehearsal makes its prefix anew"
  exit 0
}

if [[ ${1:-} != --inside ]]; then
  tessaro_args "$@"
  # The options before the medium: answers (box_answer.exe's own options) and hold ("hold" or "").
  answers=() hold=""
  while [[ ${1:-} == --* ]]; do
    case $1 in
      --answer)
        [[ $# -ge 2 ]] || tessaro_usage_error "--answer needs ID=BUTTON"
        answers+=("$2") && shift
        ;;
      --answer=*) answers+=("${1#*=}") ;;
      --product-running) hold=hold ;;
      --remove-prefixes)
        [[ $# -eq 1 ]] || tessaro_usage_error "--remove-prefixes takes nothing else"
        remove_prefixes
        ;;
      *) tessaro_usage_error "unknown option: $1" ;;
    esac
    shift
  done
  if [[ ${#answers[@]} -gt 0 ]]; then
    mapfile -t answers < <("$tessaro_root/scripts/try_medium.py" answers "${answers[@]}")
    [[ ${#answers[@]} -gt 0 ]] || exit 1
  fi
  [[ $# -ge 1 && $# -le 2 ]] ||
    tessaro_usage_error "one medium folder or image and at most one MSI"
  [[ -d $1 || -f $1 ]] || die "no such medium folder or image: $1"
  [[ $# -eq 1 || -f $2 ]] || die "no such MSI: $2"
  [[ -z $hold || $# -eq 2 ]] ||
    die "--product-running needs an installed product: give the MSI to install first"
  medium=$(realpath -- "$1")
  msi=${2:+$(realpath -- "$2")}
  runs=$tessaro_root/build/try-runs
  out=$(realpath -m -- "${TESSARO_TRY_OUT:-$runs/$(date +%Y%m%d-%H%M%S)-$$}")
  prefix=${TESSARO_TRY_PREFIX:+$(realpath -m -- "$TESSARO_TRY_PREFIX")}
  for folder in "$out" "$prefix"; do
    [[ -z $folder || $folder == "$tessaro_root"/* ]] ||
      die "the output folder and the prefix must lie in $tessaro_root: $folder"
  done
  cd "$tessaro_root"
  rm -rf "$out" && mkdir -p "$out"
  image=""
  if [[ -f $medium ]]; then
    # The drive's files lie in the output folder, where the rig sees them too.
    image=$medium medium=$out/drive
    scripts/try_medium.py extract "$image" "$medium" || exit 1
  fi
  [[ -f $medium/Launch.exe ]] || die "the medium has no Launch.exe: $medium"
  bits=$(scripts/try_medium.py bits "$medium/Launch.exe") || exit 1

  # Before the locale is chosen: on a new machine it generates the Japanese one.
  bash scripts/setup.sh
  # The locale whose code page spells the medium's path, and the line that says so.
  choice=$(scripts/try_medium.py locale "$medium" "$out" "${LC_ALL:-${LC_CTYPE:-${LANG:-C}}}") ||
    exit 1
  run_locale=${choice%%$'\n'*}
  [[ $choice != *$'\n'?* ]] || echo "${choice#*$'\n'}"
  export LC_ALL=$run_locale

  [[ -x build/win64/tests/wine/box_answer.exe ]] || bash scripts/build.sh win64 >/dev/null
  [[ -n ${TESSARO_TRY_OUT:-} ]] || ln -sfn "$(basename "$out")" "$runs/newest"
  # The rig sees the work tree and the medium's folder, lent to it where it lies; an MSI from
  # elsewhere is only installed, so it is copied in rather than lent.
  if [[ $bits == 32 && -n $msi && $msi != "$tessaro_root"/* ]]; then
    cp -- "$msi" "$out/" && msi=$out/$(basename -- "$msi")
    echo "try-medium: the MSI is installed from a copy in $out (the rig sees only the work tree and the medium)"
  fi
  echo "try-medium: $bits-bit Launch.exe, medium ${image:-$medium}${msi:+, installing $msi first}"
  inside=(bash scripts/try-medium.sh --inside "$bits" "$medium" "$msi" "$out" "${DISPLAY:-}" "$hold"
    "$image" ${answers[@]+"${answers[@]}"})
  if [[ $bits == 32 ]]; then
    export TESSARO_RIG32_PREFIX=${prefix:-$tessaro_root/build/wine-prefix-try32}
    export TESSARO_RIG32_LEND=$medium
    # With a display of your own the rig shows its windows there instead of on its own Xvfb.
    [[ -z ${DISPLAY:-} ]] || export TESSARO_RIG32_USE_DISPLAY=1
    exec bash scripts/rig32.sh session "${inside[@]}"
  fi
  export TESSARO_WINEPREFIX=${prefix:-$tessaro_root/build/wine-prefix-try64}
  exec "${tessaro_on_screen[@]}" "${inside[@]}"
fi

# --- inside: Wine, its prefix and a display are ready. $6 is the caller's own DISPLAY, if any:
# then the boxes are the caller's to answer (the DISPLAY here may be a virtual one).
bits=$2 medium=$3 msi=$4 out=$5 interactive=$6 hold=$7 image=$8
answers=("${@:9}")
if [[ $bits == 32 ]]; then
  prefix=$TESSARO_RIG32_PREFIX
  wine() { bash scripts/rig32.sh wine "$@"; }
  wineserver() { bash scripts/rig32.sh wineserver "$@"; }
else
  # shellcheck source=scripts/wine-env.sh
  source scripts/wine-env.sh
  tessaro_wine_prefix
  prefix=$WINEPREFIX
  wine() { "$TESSARO_WINE" "$@"; }
  wineserver() { "$TESSARO_WINESERVER" "$@"; }
fi

launcher=$(windows_path "$medium/Launch.exe")
if [[ -n $image ]]; then
  letter=$(scripts/try_medium.py letter "$prefix/dosdevices") || exit 1
  drives='HKLM\Software\Wine\Drives'
  ln -s "$medium" "$prefix/dosdevices/$letter"
  trap 'rm -f "$prefix/dosdevices/$letter"' EXIT
  wine reg add "$drives" /v "$letter" /d cdrom /f >/dev/null
  # Wine learns the drives and their types when its mount manager starts: after this.
  wineserver -w
  launcher=${letter^^}\\Launch.exe
  # As Windows programs see it, not as it was meant.
  drive_kind=$({ wine wmic logicaldisk get drivetype,name 2>/dev/null || true; } |
    scripts/try_medium.py drive-type "$letter")
  [[ $drive_kind == CD-ROM ]] || die "Wine took drive ${letter^^} for $drive_kind, not for a CD-ROM drive"
  drive_before=$(scripts/try_medium.py listing "$medium")
  echo "Drive ${letter^^} ($drive_kind, read-only) holds the image's files (SHA-256, size, name):"
  echo "$drive_before"
fi

# Both empty for a medium without TS_INF.
{ read -r product && read -r version; } < <(scripts/try_medium.py package "$medium")
key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$product"
# The view the launcher reads: the 32-bit one for the 32-bit program.
installed() {
  [[ -n $product ]] || return 0
  { wine reg query "$key" "/reg:$bits" 2>/dev/null || true; } | scripts/try_medium.py "${1:-installed}"
}

# The machine as the medium should meet it: its product not installed, or installed by MSI.
# The MSI's own product too: a package with another product code than TS_INF's is no longer
# removed by the medium's runs, and would stand in the way of installing it again.
for code in "$product" ${msi:+"$(scripts/try_medium.py code "$msi")"}; do
  [[ -z $code ]] || wine msiexec /x "$code" /qn >/dev/null 2>&1 || true
done
[[ -z $msi ]] || wine msiexec /i "$(windows_path "$msi")" /qn || die "msiexec /i $msi failed"
before=$(installed)
scripts/try_medium.py before "$medium" "$before" "$msi" || exit 1

# Wine reports every process start on its "process" channel and OutputDebugString on
# "debugstr"; with "pid" each line names its process, which tells the launcher's lines apart.
log=$out/wine.log
run=(build/win64/tests/wine/box_answer.exe ${answers[@]+"${answers[@]}"})
if [[ -n $hold ]]; then
  location=$(installed location)
  [[ -n $location ]] || die "--product-running: the installed product has no InstallLocation"
  # Named as the launcher names it: InstallLocation and the file name, nothing between.
  run+=(--hold "${location}Tessaro.exe")
fi
if [[ -n $interactive ]]; then
  echo "Starting $launcher on $DISPLAY: answer its boxes there."
  run+=(--watch)
fi
run+=("$(windows_path "$out")" "$launcher")
exit_code=0
WINEDEBUG=+pid,+process,+debugstr wine "${run[@]}" 2>"$log" || exit_code=$?
wineserver -w

failure=$(scripts/try_medium.py failure "$log")
if [[ $exit_code -eq 98 && -n $failure ]]; then
  die "box_answer.exe, which answers the boxes, could not start Launch.exe, so the launcher never ran: $failure"
fi
shopt -s nullglob
for bmp in "$out"/*.bmp; do
  convert "$bmp" "${bmp%.bmp}.png" && rm -f "$bmp"
done
after=$(installed)
scripts/try_medium.py report "$log" "$exit_code" "$product" "$version" "$before" "$after" "$out"/*.png
printf 'exit_code=%s\nbefore=%s\nafter=%s\n' "$exit_code" "$before" "$after" >"$out/result"
if [[ -n $image ]]; then
  drive_after=$(scripts/try_medium.py listing "$medium")
  rm -f "$prefix/dosdevices/$letter"
  wine reg delete "$drives" /v "$letter" /f >/dev/null 2>&1 || true
  if [[ $drive_after != "$drive_before" ]]; then
    echo "Drive ${letter^^} CHANGED by the run; now it holds:"
    echo "$drive_after"
    exit 1
  fi
  echo "Drive ${letter^^} unchanged: the same names, sizes and SHA-256 after the run as before"
fi
