#!/bin/sh
# Checks that Wine's own msiexec installs and removes a Tessaro test MSI the
# way the launcher expects (uninstall key in the 64-bit view with
# DisplayVersion and InstallLocation, removal through a plain CreateProcess
# of msiexec /x ... /qb!). Fails loudly on the first difference.
#
#   wine_msi_check.sh WORKDIR
#
# Needs WINEPREFIX (an initialised scratch prefix, never ~/.wine) and DISPLAY
# (an Xvfb server) in the environment. WINE defaults to /usr/lib/wine/wine64.
set -eu

[ $# -eq 1 ] || { echo "usage: $0 WORKDIR" >&2; exit 2; }
: "${WINEPREFIX:?set WINEPREFIX to a scratch prefix}"
: "${DISPLAY:?set DISPLAY to an Xvfb display}"
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
wine=${WINE:-/usr/lib/wine/wine64}
cxx=${CXX:-x86_64-w64-mingw32-g++-posix}

here=$(cd "$(dirname "$0")" && pwd)
work=$1
mkdir -p "$work"
work=$(cd "$work" && pwd)

version=3.9.0
guid='{6F1C2A3B-4D5E-4F60-8172-93A4B5C6D7E8}'
key="HKLM\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\$guid"
app_dir="$WINEPREFIX/drive_c/Program Files/Tessaro"

fail() { echo "FAIL: $*" >&2; exit 1; }

for p in tessaro_app run_wait open_for_write; do
    "$cxx" -static -Wall -Wextra -Werror -O2 -o "$work/$p.exe" "$here/$p.cpp"
done
"$here/build_msi.sh" "$work/tessaro.msi" "$work/tessaro_app.exe" "$version" "$guid"

# reg.exe prints CRLF; keep only the data column of one value.
reg_value() {
    "$wine" reg query "$key" /v "$1" /reg:64 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$1 *REG_[A-Z_]* *//p"
}

remove_with() {
    "$wine" "$work/run_wait.exe" "$1" || fail "msiexec /x exited non-zero: $1"
    "$wine" reg query "$key" /reg:64 >/dev/null 2>&1 && fail "uninstall key survived: $1"
    [ ! -e "$app_dir" ] || fail "install folder survived: $1"
}

install() {
    (cd "$work" && "$wine" msiexec /i tessaro.msi /qn) || fail "msiexec /i failed"
    [ -f "$app_dir/Tessaro.exe" ] || fail "Tessaro.exe not installed"
    [ "$(reg_value DisplayVersion)" = "$version" ] || fail "DisplayVersion: $(reg_value DisplayVersion)"
    [ "$(reg_value InstallLocation)" = 'C:\Program Files\Tessaro\' ] ||
        fail "InstallLocation: $(reg_value InstallLocation)"
}

# Leftovers from an aborted run would make every check lie: msiexec keeps
# the folder while it holds files it did not install (e.g. Tessaro.stop).
"$wine" msiexec /x "$guid" /qn >/dev/null 2>&1 || true
rm -rf "$app_dir"

install
remove_with "C:\\windows\\system32\\msiexec.exe /x $guid /qb! ID_STATE=Remove"

install
remove_with "\"C:\\windows\\system32\\msiexec.exe\" /x $guid /qb! ID_STATE=Remove"

# A running Tessaro.exe must be visible to the launcher's in-use probe.
install
"$wine" "C:\\Program Files\\Tessaro\\Tessaro.exe" 30000 &
app_pid=$!
sleep 2
if out=$("$wine" "$work/open_for_write.exe" "C:\\Program Files\\Tessaro\\Tessaro.exe"); then
    fail "running Tessaro.exe could be opened for writing"
fi
[ "$(printf '%s' "$out" | tr -d '\r')" = "error=32" ] || fail "in-use probe said: $out"
: > "$app_dir/Tessaro.stop"
# The 30 s timeout would also end it with 0, so insist on a prompt exit.
i=0
while kill -0 "$app_pid" 2>/dev/null; do
    i=$((i + 1))
    [ $i -le 30 ] || { kill "$app_pid"; fail "Tessaro.exe ignored Tessaro.stop"; }
    sleep 0.1
done
wait "$app_pid" || fail "Tessaro.exe did not exit 0 on Tessaro.stop"
rm -f "$app_dir/Tessaro.stop"
remove_with "C:\\windows\\system32\\msiexec.exe /x $guid /qb! ID_STATE=Remove"

echo "OK"
