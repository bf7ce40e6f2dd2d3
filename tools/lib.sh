#!/usr/bin/env bash
# Sourced by the project's scripts for what several of them share; defines, never runs.
# shellcheck disable=SC2034  # the variables here are read by the scripts that source this

# The repository this file lies in, whatever the caller's folder.
tessaro_root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"

# The virtual screens every Xvfb of the project has, sized for the boxes and their screenshots:
# one for each end-to-end test that runs beside others (the slots of tests/wine/slots.json), so
# that no box lies over another's screenshot.
tessaro_screens=(-screen 0 1280x1024x24 -screen 1 1280x1024x24 -screen 2 1280x1024x24)
# Put before a command, gives it such a virtual display; tessaro_on_screen gives it the DISPLAY
# there is, else a virtual one. -a takes the first number from -n on whose lock file is absent,
# so two started at once from the same number would both take it: each starts from its own.
tessaro_virtual_screen=(xvfb-run -n "$((RANDOM % 900 + 100))" -a -s "${tessaro_screens[*]}")
tessaro_on_screen=()
[[ -n ${DISPLAY:-} ]] || tessaro_on_screen=("${tessaro_virtual_screen[@]}")

# One line on standard error, prefixed with the script's name (or $tessaro_tool), then exit 1
# (or $tessaro_status).
die() {
  echo "${tessaro_tool:-$(basename "$0" .sh)}: $*" >&2
  exit "${tessaro_status:-1}"
}

# Makes the Wine prefix PREFIX once, with the command given (which boots Wine in it). A lock
# keeps parallel first uses from building it twice; a prefix without the ready mark is half-made
# (a run was interrupted) and is made anew.
tessaro_make_prefix() {
  local prefix=$1
  shift
  mkdir -p "$(dirname "$prefix")"
  (
    flock 9
    if [[ ! -f $prefix/.tessaro-ready ]]; then
      rm -rf "$prefix"
      "$@" || exit
      touch "$prefix/.tessaro-ready"
    fi
  ) 9>"$prefix.lock"
}

# The pass/fail counter of the test scripts: start NAME opens a case; must WHY COMMAND... fails it
# saying WHY and what COMMAND printed, unless COMMAND succeeds (once: the rest of a failed case is
# skipped); summary ends with the line the test command counts, and fails if a case failed.
cases=0 cases_failed=0 case_failed=0
start() { case_name=$1 cases=$((cases + 1)); }
must() {
  local must_said # a name no command given is likely to use
  [[ $case_failed != "$cases" ]] || return 0
  must_said=$("${@:2}" 2>&1) && return
  echo "FAIL  $case_name: $1${must_said:+: $must_said}"
  cases_failed=$((cases_failed + 1)) case_failed=$cases
}
summary() {
  echo "$((cases - cases_failed)) passed, $cases_failed failed"
  [[ $cases_failed -eq 0 ]]
}

# tessaro_args ARG...: a script's own arguments, checked before it does anything. --help or -h
# prints the script's opening comment (its usage and what it does) and exits 0; a word starting
# with "-" that the comment does not name is refused in one line, status 2. With
# tessaro_passes_options set, only --help is looked for (the script hands its options on).
tessaro_args() {
  local arg text=$tessaro_root/tools/script_usage.py
  for arg; do
    [[ $arg != -h && $arg != --help ]] && continue
    "$text" usage "$0"
    exit 0
  done
  [[ -z ${tessaro_passes_options:-} ]] || return 0
  for arg; do
    [[ $arg != -* ]] || "$text" names-option "$0" "$arg" || tessaro_usage_error "unknown option: $arg"
  done
}

# tessaro_usage_error TEXT: one line that points to --help, status 2.
tessaro_usage_error() { tessaro_status=2 die "$* (--help tells the usage)"; }
