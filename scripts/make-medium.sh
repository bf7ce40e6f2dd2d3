#!/bin/bash
# Lays out an installation medium: Launch.exe, Setup.exe and the TS_INF that tells the launcher
# which product the package installs and in which version; signs the medium's Launch.exe on
# request, and checks a finished medium.
set -euo pipefail

usage() {
    cat >&2 <<EOF
usage: $0 [--sign PFX --password-file FILE [--timestamp URL]] SETUP_EXE MSI OUT_DIR [LAUNCH_EXE]
       $0 --check MEDIUM [MSI]

Writes OUT_DIR/Launch.exe, OUT_DIR/Setup.exe and OUT_DIR/TS_INF. TS_INF holds
"<ProductCode>,<ProductVersion>" and CR LF, both read from the Property table
of MSI (with msiinfo from msitools).

LAUNCH_EXE defaults to build/win32/Launch.exe in the repository. The 32-bit
launcher sees only x86 packages, the 64-bit build only x64 packages; any other
pairing is refused, as is a ProductVersion that Windows Installer does not take.
OUT_DIR must not exist yet, or be an empty directory; missing parents are made.
The medium is assembled beside OUT_DIR and renamed into place at the end, so
on any error nothing is left behind and the exit status is non-zero.

--sign PFX             sign the medium's copy of Launch.exe (Authenticode,
                       SHA-256) with the certificate and key in the PKCS#12 file
                       PFX, then verify it; LAUNCH_EXE itself is left unsigned
--password-file FILE   the first line of FILE is the password of PFX
--timestamp URL        an RFC 3161 time-stamp server, so that the signature
                       outlives the certificate

--check MEDIUM [MSI]   reports one line on each part of a finished medium and
                       exits 0 only when all of them hold; with MSI, also
                       whether TS_INF and the launcher fit that package
EOF
    exit 2
}

die() {
    echo "$0: $*" >&2
    exit 1
}

repo_root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
readonly description="Tessaro Setup Launcher"
windres=${WINDRES:-x86_64-w64-mingw32-windres}

mode='make'
sign_pfx=
password_file=
timestamp_url=
while [[ $# -gt 0 ]]; do
    case $1 in
        --check) mode=check; shift ;;
        --sign | --password-file | --timestamp)
            [[ $# -ge 2 ]] || usage
            case $1 in
                --sign) sign_pfx=$2 ;;
                --password-file) password_file=$2 ;;
                --timestamp) timestamp_url=$2 ;;
            esac
            shift 2
            ;;
        --) shift; break ;;
        -?*) usage ;;
        *) break ;;
    esac
done
if [[ $mode == check ]]; then
    [[ $# -eq 1 || $# -eq 2 ]] || usage
    [[ -z $sign_pfx$password_file$timestamp_url ]] || usage
else
    [[ $# -eq 3 || $# -eq 4 ]] || usage
    [[ -n $sign_pfx && -n $password_file ]] || [[ -z $sign_pfx$password_file$timestamp_url ]] ||
        usage
fi

command -v msiinfo >/dev/null || die "msiinfo not found (Debian package msitools)"

work=$(mktemp -d "${TMPDIR:-/tmp}/make-medium.XXXXXX")
staging=
cleanup() { rm -rf -- "$work" ${staging:+"$staging"}; }
trap cleanup EXIT

# --- Windows executables -------------------------------------------------------------------

# One unsigned little-endian number of SIZE bytes at OFFSET.
read_le() { od -An -t "u$3" -j "$2" -N "$3" -- "$1" | tr -d ' \n'; }

# Sets pe_machine, pe_magic (267 PE32, 523 PE32+) and pe_header (offset of "PE\0\0"), or fails
# for anything that merely starts with "MZ": a renamed text, an MSI, a DOS program.
read_pe() {
    local path=$1 size
    pe_machine='' pe_magic='' pe_header=''
    size=$(stat -c %s -- "$path") || return 1
    ((size >= 64)) && [[ $(head -c 2 -- "$path") == MZ ]] || return 1
    pe_header=$(read_le "$path" 60 4)
    ((pe_header + 26 <= size)) || return 1
    [[ $(od -An -tx1 -j "$pe_header" -N 4 -- "$path" | tr -d ' \n') == 50450000 ]] || return 1
    case $(read_le "$path" $((pe_header + 4)) 2) in
        332) pe_machine=i386 ;;
        34404) pe_machine=x86-64 ;;
        43620) pe_machine=arm64 ;;
        452) pe_machine=arm ;;
        *) return 1 ;;
    esac
    pe_magic=$(read_le "$path" $((pe_header + 24)) 2)
}

require_pe_file() {
    local what=$1 path=$2
    [[ -f $path ]] || die "$what not found: $path"
    # Catches swapped arguments (the MSI given as Setup.exe) before a broken medium ships.
    read_pe "$path" || die "$what is not a Windows executable (no PE header of a known machine): $path"
}

# Sets signature_offset and signature_length to the first entry of the certificate table (data
# directory 4, which holds a file offset): a WIN_CERTIFICATE header of 8 bytes, then the DER
# signature. Both stay 0 in an unsigned file. Read here, because osslsigncode's
# "extract-signature" keeps or drops that header depending on its version.
read_signature_location() {
    local path=$1 directory table size
    signature_offset=0 signature_length=0
    read_pe "$path" || return 1
    directory=$((pe_header + 24 + (pe_magic == 523 ? 112 : 96) + 4 * 8))
    table=$(read_le "$path" "$directory" 4)
    size=$(read_le "$path" $((directory + 4)) 4)
    [[ -n $table && -n $size && $size != 0 ]] || return 0
    signature_offset=$((table + 8))
    signature_length=$(($(read_le "$path" "$table" 4) - 8))
}

# --- the package -----------------------------------------------------------------------------

# Sets product_code, product_version and platform from MSI, or msi_error.
read_msi() {
    local msi=$1 property_table template
    msi_error='' product_code='' product_version='' platform=''
    [[ -f $msi ]] || { msi_error="MSI not found: $msi"; return 1; }
    # msiinfo knows no "--", so keep a name starting with "-" from being read as an option.
    [[ $msi == -* ]] && msi=./$msi
    # msiinfo export writes the table as a text archive: a header of three lines (column names,
    # column types, table name and key), then one row per line, tab-separated, CR LF line ends.
    if ! property_table=$(msiinfo export "$msi" Property 2>/dev/null | tr -d '\r') ||
        [[ $(head -n 1 <<<"$property_table") != $'Property\tValue' ]]; then
        msi_error="not a Windows Installer database with a Property table: $msi"
        return 1
    fi
    msi_property() {
        awk -F '\t' -v name="$1" 'NR > 3 && $1 == name { sub(/^[^\t]*\t/, ""); print; found = 1 }
            END { exit !found }' <<<"$property_table"
    }
    product_code=$(msi_property ProductCode) ||
        { msi_error="MSI has no ProductCode property: $msi"; return 1; }
    product_version=$(msi_property ProductVersion) ||
        { msi_error="MSI has no ProductVersion property: $msi"; return 1; }
    # The summary information's Template is "<platform>;<languages>"; no platform means Intel.
    template=$(msiinfo suminfo "$msi" 2>/dev/null | sed -n 's/^Template: //p')
    platform=${template%%;*}
    platform=${platform:-Intel}
}

# The launcher takes the version to start at byte 39 and builds the uninstall key name from the
# code, so the code must be exactly a braced GUID. Windows Installer requires upper case.
hex='[0-9A-F]'
readonly guid_pattern="^\\{$hex{8}-$hex{4}-$hex{4}-$hex{4}-$hex{12}\\}\$"

code_problem() {
    [[ $1 =~ $guid_pattern ]] || echo "ProductCode is not a braced upper-case GUID: '$1'"
}

version_problem() {
    local version=$1 fields
    # The launcher reads every dot-separated field as a number and an empty field as 0, so "1..2",
    # ".1" or "1." would compare equal to versions they are not; an empty version even makes it
    # skip removing the installed product. Only non-empty digit runs joined by single dots are safe.
    if ! [[ $version =~ ^[0-9]+(\.[0-9]+)*$ ]]; then
        echo "ProductVersion must be digits separated by single dots: '$version'"
        return
    fi
    IFS=. read -r -a fields <<<"$version"
    # Windows Installer refuses to install any other version (the fourth field it ignores).
    if ((${#fields[@]} < 3 || ${#fields[@]} > 4)) ||
        [[ ${fields[0]} =~ [0-9]{4} || ${fields[1]} =~ [0-9]{4} || ${fields[2]} =~ [0-9]{6} ||
            ${fields[3]-0} =~ [0-9]{6} ]] ||
        ((10#${fields[0]} > 255 || 10#${fields[1]} > 255 || 10#${fields[2]} > 65535 ||
            10#${fields[3]-0} > 65535)); then
        echo "ProductVersion is not one Windows Installer takes (three or four fields; major and" \
            "minor at most 255, build and the fourth at most 65535): '$version'"
    fi
}

version_warning() {
    local version=$1
    [[ $version =~ ^([0-9]+\.[0-9]+\.[0-9]+)\.[0-9]+$ ]] || return 0
    echo "ProductVersion $version has a fourth field: Windows Installer ignores it, and the" \
        "launcher compares only the fields the installed version has, so over an installed" \
        "${BASH_REMATCH[1]} nothing is asked and Windows Installer then refuses (1638)"
}

# The 32-bit launcher reads the 32-bit registry view, where only x86 packages register their
# uninstall key; the 64-bit build reads the 64-bit view. Any other pairing silently skips the
# removal of an installed product.
platform_problem() {
    local machine=$1 platform=$2
    case $machine:$platform in
        i386:Intel | x86-64:x64) return 0 ;;
    esac
    echo "Launch.exe ($machine) cannot see a package built for $platform: the 32-bit launcher" \
        "sees x86 (Intel) packages only, the 64-bit build x64 packages only"
}

# --- checking a finished medium --------------------------------------------------------------

check_failed=0
report() {
    local verdict=$1
    shift
    [[ $verdict == FAIL ]] && check_failed=1
    printf '%-5s %s\n' "$verdict" "$*"
}

# "ok" when the signature of a signed file verifies against the certificates it carries: the
# file is unchanged since it was signed. Whether Windows trusts the signer is its own decision.
check_signature() {
    local exe=$1 subject
    read_signature_location "$exe" || return 0
    if ((signature_length == 0)); then
        report note "Launch.exe: unsigned (SHA-256 $(sha256sum <"$exe" | cut -d' ' -f1))"
        return 0
    fi
    command -v osslsigncode >/dev/null || {
        report FAIL "Launch.exe: signed, but osslsigncode (Debian package) is not there to verify it"
        return 0
    }
    tail -c +$((signature_offset + 1)) -- "$exe" 2>/dev/null |
        head -c "$((signature_length > 0 ? signature_length : 0))" >"$work/signature.der"
    if openssl pkcs7 -inform DER -in "$work/signature.der" -print_certs \
            -out "$work/carried.pem" 2>/dev/null &&
        osslsigncode verify -CAfile "$work/carried.pem" -in "$exe" >"$work/verify.log" 2>&1; then
        subject=$(sed -n 's/^[[:space:]]*Subject: //p' "$work/verify.log" | head -n 1)
        # Without its signature the file is again the build's, byte for byte: that hash is the
        # one to compare with a rebuild of the commit.
        osslsigncode remove-signature -in "$exe" -out "$work/unsigned.exe" >/dev/null 2>&1 || true
        report ok "Launch.exe: signature verifies (signer $subject; SHA-256 without the" \
            "signature $(sha256sum <"$work/unsigned.exe" 2>/dev/null | cut -d' ' -f1))"
    else
        report FAIL "Launch.exe: signed, but the signature does not verify (changed after signing?)"
    fi
}

check_medium() {
    local medium=$1 msi=${2-} exe launch_machine='' line problem resources warning
    [[ -d $medium ]] || die "not a directory: $medium"

    exe=$medium/Launch.exe
    if [[ ! -f $exe ]]; then
        report FAIL "Launch.exe: missing"
    elif ! read_pe "$exe"; then
        report FAIL "Launch.exe: not a Windows executable"
    else
        launch_machine=$pe_machine
        resources=$("$windres" --input-format=coff --output-format=rc -i "$exe" 2>/dev/null |
            awk '/^1 24 / { on = 1 } on { print } on && /^END$/ { exit }') || resources=
        local subsystem kind
        subsystem=$(read_le "$exe" $((pe_header + 24 + 68)) 2)
        case $pe_machine:$pe_magic in
            i386:267) kind="the 32-bit console launcher (PE32, i386" ;;
            x86-64:523) kind="the 64-bit console launcher (PE32+, x86-64" ;;
        esac
        if [[ -n ${kind-} && $subsystem == 3 && $resources == *requireAdministrator* ]]; then
            report ok "Launch.exe: $kind, manifest requireAdministrator)"
        else
            report FAIL "Launch.exe: not the console launcher ($pe_machine, magic $pe_magic," \
                "subsystem $subsystem, $([[ $resources == *requireAdministrator* ]] ||
                    echo "no ")manifest requireAdministrator)"
        fi
        check_signature "$exe"
    fi

    if [[ ! -f $medium/Setup.exe ]]; then
        report FAIL "Setup.exe: missing"
    elif read_pe "$medium/Setup.exe"; then
        report ok "Setup.exe: a Windows executable ($pe_machine)"
    else
        report FAIL "Setup.exe: not a Windows executable"
    fi

    if [[ ! -f $medium/TS_INF ]]; then
        report FAIL "TS_INF: missing"
        line=
    else
        IFS= read -r line <"$medium/TS_INF" || true
        if [[ $line != *$'\r' ]]; then
            report FAIL "TS_INF: the first line does not end in CR LF"
            line=
        else
            line=${line%$'\r'}
            problem=$(code_problem "${line:0:38}")
            [[ ${line:38:1} == , ]] || problem=${problem:-"no comma after the 38-character product code"}
            [[ -n $problem ]] || problem=$(version_problem "${line:39}")
            if [[ -n $problem ]]; then
                report FAIL "TS_INF: $problem"
                line=
            else
                [[ -n $msi ]] || report ok "TS_INF: $line"
                warning=$(version_warning "${line:39}")
                [[ -z $warning ]] || report warn "TS_INF: $warning"
            fi
        fi
    fi

    [[ -n $msi ]] || return 0
    if ! read_msi "$msi"; then
        report FAIL "MSI: $msi_error"
        return 0
    fi
    if [[ -n $line && $line == "$product_code,$product_version" ]]; then
        report ok "TS_INF: $line names the MSI's ProductCode and ProductVersion"
    elif [[ -n $line ]]; then
        report FAIL "TS_INF: $line does not name the MSI's $product_code,$product_version"
    fi
    if [[ -n $launch_machine ]]; then
        problem=$(platform_problem "$launch_machine" "$platform")
        if [[ -n $problem ]]; then
            report FAIL "$problem"
        else
            report ok "Launch.exe ($launch_machine) sees the MSI's $platform package"
        fi
    fi
}

if [[ $mode == check ]]; then
    check_medium "$@"
    exit "$check_failed"
fi

# --- making a medium -------------------------------------------------------------------------

setup_exe=$1
msi=$2
out_dir=$3
launch_exe=${4:-$repo_root/build/win32/Launch.exe}

require_pe_file "Setup.exe" "$setup_exe"
require_pe_file "Launch.exe" "$launch_exe"
launch_machine=$pe_machine
read_msi "$msi" || die "$msi_error"

# Leave the root alone, but "out/" and "out" are the same medium.
while [[ $out_dir == */ && $out_dir != / ]]; do out_dir=${out_dir%/}; done
parent=$(dirname -- "$out_dir")
if [[ -L $out_dir ]]; then
    die "OUT_DIR is a symbolic link: $out_dir"
elif [[ -d $out_dir ]]; then
    [[ -z $(ls -A -- "$out_dir") ]] || die "OUT_DIR exists and is not empty: $out_dir"
elif [[ -e $out_dir ]]; then
    die "OUT_DIR exists and is not a directory: $out_dir"
fi
# The folders to make (only after every check has passed), the outermost first.
existing=$parent
missing_top=
while [[ ! -e $existing ]]; do
    missing_top=$existing
    existing=$(dirname -- "$existing")
done
[[ -d $existing ]] || die "not a directory: $existing"

problem=$(code_problem "$product_code")
[[ -z $problem ]] || die "$problem"
problem=$(version_problem "$product_version")
[[ -z $problem ]] || die "$problem"
problem=$(platform_problem "$launch_machine" "$platform")
[[ -z $problem ]] || die "$problem"

if [[ -n $sign_pfx ]]; then
    for tool in osslsigncode openssl; do
        command -v "$tool" >/dev/null || die "$tool not found (Debian package $tool)"
    done
    [[ -f $sign_pfx && -r $sign_pfx ]] || die "certificate file not found or not readable: $sign_pfx"
    [[ -f $password_file && -r $password_file ]] ||
        die "password file not found or not readable: $password_file"
    # The password goes from file to signer; it is never an argument that "ps" would show.
    if ! openssl pkcs12 -in "$sign_pfx" -passin "file:$password_file" -nokeys \
        -out "$work/certificates.pem" 2>"$work/openssl.log"; then
        grep -q 'invalid password' "$work/openssl.log" &&
            die "wrong password for the certificate file: $sign_pfx"
        die "not a PKCS#12 certificate file that openssl can read: $sign_pfx"
    fi
    openssl pkcs12 -in "$sign_pfx" -passin "file:$password_file" -nokeys -clcerts 2>/dev/null |
        openssl x509 -out "$work/signer.pem" 2>/dev/null ||
        die "no certificate of its own in the certificate file: $sign_pfx"
    # Windows refuses an Authenticode signature whose certificate is not meant for code.
    openssl x509 -in "$work/signer.pem" -noout -ext extendedKeyUsage 2>/dev/null |
        grep -q 'Code Signing' ||
        die "the certificate is not for code signing (no extendedKeyUsage codeSigning): $sign_pfx"
    openssl x509 -in "$work/signer.pem" -noout -checkend 0 >/dev/null ||
        die "the certificate has expired: $sign_pfx"
fi

version_warning=$(version_warning "$product_version")
[[ -z $version_warning ]] || echo "$0: warning: $version_warning" >&2

if [[ -n $missing_top ]]; then
    mkdir -p -- "$parent"
    # A failure from here on takes the folders made for the medium away with it.
    cleanup() {
        rm -rf -- "$work" ${staging:+"$staging"}
        [[ ${finished-} == 1 ]] || rm -rf -- "$missing_top"
    }
fi
staging=$(mktemp -d -- "$parent/.$(basename -- "$out_dir").XXXXXX")
if [[ -n $sign_pfx ]]; then
    sign_options=(-pkcs12 "$sign_pfx" -readpass "$password_file" -h sha256 -n "$description")
    [[ -z $timestamp_url ]] || sign_options+=(-ts "$timestamp_url")
    if ! osslsigncode sign "${sign_options[@]}" -in "$launch_exe" -out "$staging/Launch.exe" \
        >"$work/sign.log" 2>&1; then
        grep -q 'timestamping failed' "$work/sign.log" &&
            die "signing failed: no time stamp from $timestamp_url"
        die "signing failed: $(grep -v '^Failed$' "$work/sign.log" | head -n 1)"
    fi
    # Trusted here: the certificates of PFX itself, and the system's roots for a bought one.
    cat "$work/certificates.pem" /etc/ssl/certs/ca-certificates.crt >"$work/trust.pem" 2>/dev/null ||
        true
    osslsigncode verify -CAfile "$work/trust.pem" -in "$staging/Launch.exe" >"$work/verify.log" 2>&1 ||
        die "the signature just made does not verify: $(grep -i -m 1 error "$work/verify.log")"
else
    cp -- "$launch_exe" "$staging/Launch.exe"
fi
cp -- "$setup_exe" "$staging/Setup.exe"
printf '%s,%s\r\n' "$product_code" "$product_version" >"$staging/TS_INF"
# mktemp makes the folder private; a medium is meant to be read by everyone the umask allows.
chmod "$(printf '%o' $((0777 & ~0$(umask))))" "$staging" "$staging/Launch.exe"

# A rename replaces only an empty directory, so files that appeared in OUT_DIR meanwhile make
# it fail instead of being mixed into the medium.
mv -T -- "$staging" "$out_dir" || die "could not move the medium into place: $out_dir"
staging=
finished=1
echo "$out_dir: TS_INF = $product_code,$product_version${sign_pfx:+, Launch.exe signed}"
