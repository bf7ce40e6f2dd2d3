#!/bin/bash
# Lays out an installation medium: Launch.exe, Setup.exe and the TS_INF that tells the launcher
# which product the package installs and in which version.
set -euo pipefail

usage() {
    cat >&2 <<EOF
usage: $0 SETUP_EXE MSI OUT_DIR [LAUNCH_EXE]

Writes OUT_DIR/Launch.exe, OUT_DIR/Setup.exe and OUT_DIR/TS_INF. TS_INF holds
"<ProductCode>,<ProductVersion>" and CR LF, both read from the Property table
of MSI (with msiinfo from msitools).

LAUNCH_EXE defaults to build/win32/Launch.exe in the repository.
OUT_DIR must not exist yet, or be an empty directory; its parent must exist.
The medium is assembled beside OUT_DIR and renamed into place at the end, so
on any error nothing is left behind and the exit status is non-zero.
EOF
    exit 2
}

die() {
    echo "$0: $*" >&2
    exit 1
}

[[ $# -eq 3 || $# -eq 4 ]] || usage

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
setup_exe=$1
msi=$2
out_dir=$3
launch_exe=${4:-$repo_root/build/win32/Launch.exe}

# Each TS_INF line is read through a 260-byte buffer, terminator included: 38 bytes of product
# code, a comma, the version and LF must fit, or the launcher silently sees a cut version.
readonly max_version_length=$((259 - 38 - 1 - 1))

require_pe_file() {
    local what=$1 path=$2
    [[ -f $path ]] || die "$what not found: $path"
    # Catches swapped arguments (the MSI given as Setup.exe) before a broken medium ships.
    [[ $(head -c 2 -- "$path") == MZ ]] || die "$what is not a Windows executable: $path"
}

require_pe_file "Setup.exe" "$setup_exe"
require_pe_file "Launch.exe" "$launch_exe"
[[ -f $msi ]] || die "MSI not found: $msi"
# msiinfo knows no "--", so keep a name starting with "-" from being read as an option.
[[ $msi == -* ]] && msi=./$msi
command -v msiinfo >/dev/null || die "msiinfo not found (Debian package msitools)"

# Leave the root alone, but "out/" and "out" are the same medium.
while [[ $out_dir == */ && $out_dir != / ]]; do out_dir=${out_dir%/}; done
parent=$(dirname -- "$out_dir")
[[ -d $parent ]] || die "parent directory of OUT_DIR does not exist: $parent"
if [[ -L $out_dir ]]; then
    die "OUT_DIR is a symbolic link: $out_dir"
elif [[ -d $out_dir ]]; then
    [[ -z $(ls -A -- "$out_dir") ]] || die "OUT_DIR exists and is not empty: $out_dir"
elif [[ -e $out_dir ]]; then
    die "OUT_DIR exists and is not a directory: $out_dir"
fi

# msiinfo export writes the table as a text archive: a header of three lines (column names,
# column types, table name and key), then one row per line, tab-separated, CR LF line ends.
if ! property_table=$(msiinfo export "$msi" Property 2>/dev/null | tr -d '\r') ||
    [[ $(head -n 1 <<<"$property_table") != $'Property\tValue' ]]; then
    die "not a Windows Installer database with a Property table: $msi"
fi

msi_property() {
    awk -F '\t' -v name="$1" 'NR > 3 && $1 == name { sub(/^[^\t]*\t/, ""); print; found = 1 }
        END { exit !found }' <<<"$property_table"
}

product_code=$(msi_property ProductCode) || die "MSI has no ProductCode property: $msi"
product_version=$(msi_property ProductVersion) || die "MSI has no ProductVersion property: $msi"

# The launcher takes the version to start at byte 39 and builds the uninstall key name from the
# code, so the code must be exactly a braced GUID. Windows Installer requires upper case.
hex='[0-9A-F]'
guid_pattern="^\\{$hex{8}-$hex{4}-$hex{4}-$hex{4}-$hex{12}\\}\$"
[[ $product_code =~ $guid_pattern ]] ||
    die "ProductCode is not a braced upper-case GUID: '$product_code'"

# The launcher reads every dot-separated field as a number and an empty field as 0, so "1..2",
# ".1" or "1." would compare equal to versions they are not; an empty version even makes it
# skip removing the installed product. Only non-empty digit runs joined by single dots are safe.
[[ $product_version =~ ^[0-9]+(\.[0-9]+)*$ ]] ||
    die "ProductVersion must be digits separated by single dots: '$product_version'"
((${#product_version} <= max_version_length)) ||
    die "ProductVersion is longer than $max_version_length characters"

staging=$(mktemp -d -- "$parent/.$(basename -- "$out_dir").XXXXXX")
trap 'rm -rf -- "$staging"' EXIT
cp -- "$launch_exe" "$staging/Launch.exe"
cp -- "$setup_exe" "$staging/Setup.exe"
printf '%s,%s\r\n' "$product_code" "$product_version" >"$staging/TS_INF"
# mktemp makes the folder private; a medium is meant to be read by everyone the umask allows.
chmod "$(printf '%o' $((0777 & ~0$(umask))))" "$staging"

# A rename replaces only an empty directory, so files that appeared in OUT_DIR meanwhile make
# it fail instead of being mixed into the medium.
mv -T -- "$staging" "$out_dir" || die "could not move the medium into place: $out_dir"
echo "$out_dir: TS_INF = $product_code,$product_version"
