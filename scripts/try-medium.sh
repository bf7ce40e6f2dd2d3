#!/usr/bin/env bash
# Rehearses an installation medium under Wine: the release tool's try (tools/release; --help
# tells the usage). The system Python, for Debian's python3-pefile.
PYTHONPATH=$(realpath "$(dirname "${BASH_SOURCE[0]}")/../tools") exec /usr/bin/python3 -B -m release try "$@"
