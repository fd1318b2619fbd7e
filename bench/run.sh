#!/usr/bin/env bash
# Measures reelfix against cat and FFmpeg, and reelprep against FFmpeg + reelfix; bench/run.py
# does the work (see its options).
exec python3 "$(dirname "$0")/run.py" "$@"
