#!/usr/bin/env bash
# The medium tool is make_medium.py; this name stays so that the commands already written keep
# working. The system Python, because Debian's python3-pefile is installed for it.
exec /usr/bin/python3 -B "$(dirname "${BASH_SOURCE[0]}")/make_medium.py" "$@"
