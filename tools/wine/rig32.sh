#!/usr/bin/env bash
# The 32-bit rig: where the shipped 32-bit Launch.exe runs on this machine.
#
# This kernel runs no 32-bit code at all, so neither Debian 12's wine32 nor Wine's WoW64 mode
# can start a 32-bit Windows process here. What does work: a Debian trixie chroot with Wine 10
# (64-bit Wine runs natively) whose i386 loader is wrapped to run under the user-mode emulator
# qemu-i386. The rig is built once per machine, outside the work tree, and kept.
#
#   rig32.sh setup                 build what is missing (safe to re-run after an interruption)
#   rig32.sh session CMD [ARG...]  run CMD on the host with the rig mounted and a display up in
#                                  it; everything is undone when CMD ends, however it ends
#   rig32.sh wine PROGRAM [ARG...] inside a session: run a Windows program with the rig's Wine
#                                  (the emulator of the 32-bit end-to-end tests)
#   rig32.sh wineserver [ARG...]   inside a session: the rig's wineserver
#
# TESSARO_RIG32 (default /var/lib/tessaro-rig32) is where the rig lives; TESSARO_RIG32_PREFIX
# (default build/wine-prefix-rig32) the Wine prefix, win64 with WoW64; it and every file a
# Windows program is given must lie in the work tree, the one host folder the rig sees, or in a
# folder TESSARO_RIG32_LEND names (absolute paths, one a line), which a session mounts in the
# rig at the same path.
set -euo pipefail

# shellcheck source=tools/lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/../lib.sh"
# What follows the command belongs to it (a program's arguments).
tessaro_args "${1-}"
rig=${TESSARO_RIG32:-/var/lib/tessaro-rig32}
root=$rig/root
suite=trixie

# The kernel's file systems in the rig, once. Every setup and session mounts in a namespace of
# its own (see the end), so that nothing is ever left mounted on the host.
mount_all() {
  ! mountpoint -q "$root/proc" || return 0
  mount -t proc proc "$root/proc"
  mount --rbind /dev "$root/dev"
  mount --make-rslave "$root/dev"
  mount --rbind /sys "$root/sys"
  mount --make-rslave "$root/sys"
}

in_root() { chroot "$root" /usr/bin/env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root "$@"; }

build_stages() {
  if [[ ! -f $rig/.stage-base ]]; then
    # TESSARO_RIG32_MIRROR, else the Debian mirror this machine's apt already uses: the one known
    # to be reachable from here.
    local mirror
    mirror=${TESSARO_RIG32_MIRROR:-$("$tessaro_root/tools/wine/mirror.py")} ||
      die "no Debian mirror in this machine's apt sources: set TESSARO_RIG32_MIRROR"
    command -v debootstrap >/dev/null || die "debootstrap not found: run scripts/setup.sh"
    # A half-done debootstrap cannot be resumed: start over. Nothing may be mounted inside, or
    # rm would reach through a bind mount into the host.
    ! findmnt -rn -o TARGET | grep -q "^$root/" || die "something is mounted in $root"
    rm -rf --one-file-system "$root" "$rig"/.stage-*
    echo "rig32: debootstrap $suite from $mirror into $root (about a minute)"
    debootstrap --variant=minbase "$suite" "$root" "$mirror" >"$rig/debootstrap.log" 2>&1 ||
      die "debootstrap failed, see $rig/debootstrap.log"
    touch "$rig/.stage-base"
  fi
  [[ ! -f $rig/.stage-loader ]] || return 0
  # What follows runs apt or dpkg inside, so the kernel file systems are needed; each step of it
  # can run again after an interruption.
  mount_all
  echo "rig32: installing Wine 10 with its 32-bit half (about two minutes)"
  in_root dpkg --add-architecture i386
  in_root apt-get update -qq
  # The i386 post-install scripts cannot run here ("Exec format error"); they only register
  # triggers that Wine does not need.
  in_root DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
    wine wine64 wine32:i386 libwine:i386 xvfb xauth locales fonts-ipafont-gothic \
    >"$rig/apt.log" 2>&1 || grep -q 'Exec format error' "$rig/apt.log" ||
    die "apt-get install failed, see $rig/apt.log"
  local file
  for file in /usr/lib/wine/wine64 /usr/lib/wine/wine /usr/bin/Xvfb /usr/sbin/locale-gen; do
    in_root test -x "$file" || die "$file missing after the install, see $rig/apt.log"
  done
  # Wine takes the Japanese code page from LC_ALL, which needs the locale generated.
  sed -i -E 's/^# *(ja_JP.UTF-8 UTF-8|en_US.UTF-8 UTF-8)/\1/' "$root/etc/locale.gen"
  in_root locale-gen >/dev/null
  # Unpacked, not installed: its binfmt registration would reach the host's kernel.
  rm -rf "$root/var/tmp/qemu-deb" && mkdir -p "$root/var/tmp/qemu-deb"
  in_root sh -c 'cd /var/tmp/qemu-deb && apt-get download -qq qemu-user' ||
    die "cannot download qemu-user"
  in_root sh -c 'dpkg -x /var/tmp/qemu-deb/qemu-user_*.deb /'
  rm -rf "$root/var/tmp/qemu-deb"
  in_root /usr/bin/qemu-i386 -version >/dev/null || die "qemu-i386 does not run in the rig"
  # Every 32-bit Windows process starts through this loader. -0 keeps argv[0], by which
  # Wine finds wine64 for 64-bit children; the loader must not re-exec itself natively.
  local loader=$root/usr/lib/wine/wine
  [[ -f $loader.i386 ]] || mv "$loader" "$loader.i386"
  cat >"$loader.tmp" <<'EOF'
#!/bin/sh
# Runs Wine's i386 loader under user-mode emulation (made by the project's tools/wine/rig32.sh).
WINELOADERNOEXEC=1 exec /usr/bin/qemu-i386 -0 /usr/lib/wine/wine /usr/lib/wine/wine.i386 "$@"
EOF
  chmod 755 "$loader.tmp" && mv "$loader.tmp" "$loader"
  touch "$rig/.stage-loader"
}

setup() {
  # A finished rig needs no lock: sessions that hold it shared must not wait for each other.
  [[ ! -f $rig/.stage-loader ]] || return 0
  mkdir -p "$rig"
  (
    flock 9
    build_stages
  ) 9>"$rig.lock"
}

session_prefix() {
  local prefix=${TESSARO_RIG32_PREFIX:-$tessaro_root/build/wine-prefix-rig32}
  [[ $prefix == "$tessaro_root"/* ]] || die "the prefix must lie in $tessaro_root: $prefix"
  echo "$prefix"
}

# Runs a command in the rig with the environment of every Windows program run there.
rig_run() {
  [[ -n ${TESSARO_RIG32_DISPLAY:-} ]] || die "'$1' runs only inside 'rig32.sh session'"
  local cwd=$PWD prefix name vars display slot
  [[ $cwd == "$tessaro_root"* ]] || cwd=/
  prefix=$(session_prefix) display=$TESSARO_RIG32_DISPLAY
  # A test beside others (tools/wine/run-in-wine.sh): a copy of the prefix, a screen of its own.
  if [[ -n ${TESSARO_E2E_SLOT:-} ]]; then
    slot=$prefix-slot$TESSARO_E2E_SLOT display=${display%.*}.$TESSARO_E2E_SLOT
    tessaro_make_prefix "$slot" cp -a "$prefix" "$slot"
    prefix=$slot
  fi
  vars=(PATH=/usr/sbin:/usr/bin:/sbin:/bin HOME=/root USER=root
    DISPLAY="$display" WINEPREFIX="$prefix" WINEARCH=win64
    WINEDEBUG="${WINEDEBUG:--all}" WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}")
  [[ -z ${TESSARO_RIG32_XAUTHORITY:-} ]] || vars+=(XAUTHORITY="$TESSARO_RIG32_XAUTHORITY")
  for name in LC_ALL LANG; do [[ -z ${!name:-} ]] || vars+=("$name=${!name}"); done
  # The tests learn from these which launcher to run.
  for name in $(compgen -e | grep -E '^TESSARO_E2E_' || true); do vars+=("$name=${!name}"); done
  chroot "$root" /usr/bin/env -i -C "$cwd" "${vars[@]}" "$@"
}

# Xvfb inside the rig. It picks a display number itself, one that neither the rig's nor the
# host's X servers hold (their abstract sockets share one namespace).
start_xvfb() {
  local number_file=$root/tmp/.tessaro-xvfb-$$ display=""
  mkdir -p "$root/tmp/.X11-unix" && chmod 1777 "$root/tmp" "$root/tmp/.X11-unix"
  : >"$number_file"
  chroot "$root" /usr/bin/env -i PATH=/usr/bin:/bin Xvfb -displayfd 3 "${tessaro_screens[@]}" \
    -nolisten tcp 3>"$number_file" >/dev/null 2>&1 &
  for _ in $(seq 100); do
    display=$(tr -dc 0-9 <"$number_file")
    [[ -z $display ]] || break
    sleep 0.1
  done
  rm -f "$number_file"
  [[ -n $display ]] || die "Xvfb did not start in the rig"
  export TESSARO_RIG32_DISPLAY=":$display"
}

# A win64 prefix with WoW64, whose syswow64 every 32-bit program needs.
boot_rig_prefix() {
  echo "rig32: making the Wine prefix $1"
  rig_run /usr/lib/wine/wine64 wineboot -i >/dev/null 2>&1 || true
  rig_run /usr/lib/wine/wineserver -w || return
  [[ -d $1/drive_c/windows/syswow64 ]] || die "the prefix has no syswow64: $1"
}

session() {
  [[ $# -gt 0 ]] || die "usage: rig32.sh session CMD [ARG...]"
  setup
  local status=0 prefix
  prefix=$(session_prefix)
  child="" TESSARO_RIG32_DISPLAY=""
  # Held shared while mounted, so that a concurrent setup never rebuilds the rig under us.
  exec 8<"$rig.lock"
  flock -s 8
  # Wine ended as a program would end it, so that it saves its registry; whatever still runs
  # (Xvfb, a program that escaped) ends with the session's process namespace.
  # shellcheck disable=SC2317 # called by the trap
  cleanup() {
    [[ -z $child ]] || kill "$child" 2>/dev/null || true
    [[ -z $TESSARO_RIG32_DISPLAY ]] || rig_run /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -f "$root/tmp/.tessaro-xauth-$$"
  }
  trap 'cleanup' EXIT
  trap 'exit 130' INT TERM HUP
  mount_all
  mkdir -p "$root$tessaro_root"
  mount --bind "$tessaro_root" "$root$tessaro_root"
  # At the same path, so that a Windows program names a lent file as the host does. A folder of
  # the rig's own (/tmp, /usr) is refused: mounted over, it would take the rig's files away.
  local lent
  while IFS= read -r lent; do
    [[ -n $lent && $lent != "$tessaro_root" && $lent != "$tessaro_root"/* ]] || continue
    [[ $lent == /* && -d $lent ]] || die "TESSARO_RIG32_LEND: not an absolute folder: $lent"
    [[ -z "$(ls -A "$root$lent" 2>/dev/null)" ]] ||
      die "cannot lend $lent to the rig: the rig has a $lent of its own"
    mkdir -p "$root$lent" && mount --bind "$lent" "$root$lent"
  done <<<"${TESSARO_RIG32_LEND:-}"
  if [[ -n ${TESSARO_RIG32_USE_DISPLAY:-} ]] && [[ -n ${DISPLAY:-} ]]; then
    # Your own display: its socket folder and its cookie are lent to the rig.
    mkdir -p "$root/tmp/.X11-unix"
    [[ ! -d /tmp/.X11-unix ]] || mount --bind /tmp/.X11-unix "$root/tmp/.X11-unix"
    local cookie=${XAUTHORITY:-$HOME/.Xauthority}
    if [[ -f $cookie ]]; then
      install -m 600 "$cookie" "$root/tmp/.tessaro-xauth-$$"
      export TESSARO_RIG32_XAUTHORITY=/tmp/.tessaro-xauth-$$
    fi
    export TESSARO_RIG32_DISPLAY=$DISPLAY
  else
    start_xvfb
  fi
  tessaro_make_prefix "$prefix" boot_rig_prefix "$prefix"
  # In the background and waited for, so that a signal reaches the trap at once; the explicit
  # redirection keeps stdin, which a background command would otherwise lose.
  "$@" <&0 &
  child=$!
  wait "$child" || status=$?
  child=""
  exit "$status"
}

command=${1:-}
shift || true
# Mount and process namespaces of its own: a setup or session, however it ends (killed outright
# too), leaves no mount on the host and no process running, and parallel sessions do not touch
# each other's. Its first process is the script run anew, and its end ends every process inside.
if [[ $command == setup || $command == session ]] && [[ -z ${TESSARO_RIG32_IN_NS:-} ]]; then
  exec env TESSARO_RIG32_IN_NS=1 unshare --mount --propagation private --pid --mount-proc \
    --kill-child=TERM -- bash "${BASH_SOURCE[0]}" "$command" "$@"
fi
case $command in
  setup) setup ;;
  session) session "$@" ;;
  wine) rig_run /usr/lib/wine/wine64 "$@" ;;
  wineserver) rig_run /usr/lib/wine/wineserver "$@" ;;
  *) die "usage: rig32.sh setup | session CMD... | wine PROGRAM... | wineserver ARG..." ;;
esac
