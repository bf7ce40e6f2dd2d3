"""The release tools: make, check and rehearse an installation medium (python3 -m release)."""
