#!/usr/bin/env bash
# Makes or checks an installation medium: the release tool's make (tools/release), under the name
# the commands already written use. The system Python, for Debian's python3-pefile.
PYTHONPATH=$(realpath "$(dirname "${BASH_SOURCE[0]}")/../tools") exec /usr/bin/python3 -B -m release make "$@"
