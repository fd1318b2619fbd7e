#!/usr/bin/env bash
# Measures reelfix against cat and FFmpeg; bench/run.py does the work (see its options).
exec python3 "$(dirname "$0")/run.py" "$@"
