#!/usr/bin/env bash
# Build a Tessaro test MSI with wixl.
#
#   build_msi.sh [--name NAME] [--manufacturer NAME] [--upgrade-code GUID]
#                OUT.msi TESSARO_EXE VERSION PRODUCTCODE [x64|x86]
#
# x86 is what a 32-bit product ships: it installs into Program Files (x86) and registers in the
# 32-bit registry view, where the shipped 32-bit launcher looks. x64 is the default.
# PRODUCTCODE must stay the same across your releases (the launcher finds the installed version
# by it); --upgrade-code names the product family (default the sample's), --name the product
# (default Tessaro) and --manufacturer its maker (default Tessaro Test).
# Example:
#   build_msi.sh out/Tessaro-3.9.0.msi build/Tessaro.exe 3.9.0 \
#       '{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}'
set -euo pipefail
# A product's packaging may copy it with tools/release, whose version rule it takes.
die() {
  echo "build_msi: $*" >&2
  exit 1
}
usage() {
  echo "build_msi: $* (--help tells the usage)" >&2
  exit 2
}
for arg; do
  [[ $arg == -h || $arg == --help ]] || continue
  sed -n '2,/^set /{s/^# \{0,1\}//p}' "$0" # the opening comment
  exit 0
done

name=Tessaro manufacturer="Tessaro Test" upgrade_code='{3E7D1C55-0B9A-4C2E-9F41-6A8B2D7E0C13}'
while [[ ${1:-} == --* ]]; do
  [[ $# -ge 2 ]] || usage "$1 needs a value"
  case $1 in
    --name) name=$2 ;;
    --manufacturer) manufacturer=$2 ;;
    --upgrade-code) upgrade_code=$2 ;;
    *) usage "unknown option: $1" ;;
  esac
  shift 2
done
[[ $# -eq 4 || $# -eq 5 ]] || usage "OUT.msi TESSARO_EXE VERSION PRODUCTCODE and at most the platform"
out=$1
exe=$2
version=$3
product_code=$4
arch=${5:-x64}
case $arch in
  x64) program_files=ProgramFiles64Folder win64=yes ;;
  x86) program_files=ProgramFilesFolder win64=no ;;
  *) usage "the platform is x64 or x86: $arch" ;;
esac

here=$(cd "$(dirname "$0")" && pwd)
template=$here/tessaro.wxs.in
wixl=${WIXL:-wixl}

[[ -f $exe ]] || { echo "$0: no such file: $exe" >&2; exit 1; }

# wixl takes any version, and the medium tool would refuse the package later: the tool's own
# rule refuses it here, before anything is built.
problem=$(PYTHONPATH=$here/../tools /usr/bin/python3 -B -m release.ts_inf "$version" 2>&1) || die "$problem"

# Upper case and braces matter: the product code becomes the name of the
# uninstall registry key and is compared as a string by the tests.
guid='^\{[0-9A-F]{8}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{4}-[0-9A-F]{12}\}$'
for code in "$product_code" "$upgrade_code"; do
  [[ $code =~ $guid ]] || die "product and upgrade code must be braced upper-case GUIDs: $code"
done
# They are written into the package's XML as they are.
for text in "$name" "$manufacturer"; do
  [[ -n $text && $text != *[\<\>\&\"]* ]] || die "a name may not be empty or hold < > & \": $text"
done

# wixl rejects absolute File/@Source paths and looks files up relative to
# the .wxs, so the exe and the template are staged together in a scratch dir.
work=$(mktemp -d "${TMPDIR:-/tmp}/tessaro-msi.XXXXXX")
trap 'rm -rf "$work"' EXIT INT TERM
cp "$exe" "$work/Tessaro.exe"
cp "$template" "$work/tessaro.wxs"

case $out in
  /*) out_abs=$out ;;
  *) out_abs=$(pwd)/$out ;;
esac
rm -f "$out_abs"

(
  cd "$work"
  "$wixl" --arch "$arch" \
    -D "Version=$version" \
    -D "ProgramFiles=$program_files" \
    -D "Win64=$win64" \
    -D "ProductCode=$product_code" \
    -D "UpgradeCode=$upgrade_code" \
    -D "ProductName=$name" \
    -D "Manufacturer=$manufacturer" \
    -D "TessaroExe=Tessaro.exe" \
    -o "$out_abs" tessaro.wxs
)

# wixl only warns about attributes it does not know and carries on, so make
# sure the result exists and carries the product code that was asked for.
[[ -s $out_abs ]] || { echo "$0: wixl produced no $out" >&2; exit 1; }
if command -v msiinfo >/dev/null 2>&1; then
  # msiinfo export writes CRLF line ends.
  grep -qx "ProductCode	$product_code" <<<"$(msiinfo export "$out_abs" Property | tr -d '\r')" || {
    echo "$0: $out has no ProductCode $product_code" >&2
    exit 1
  }
fi
