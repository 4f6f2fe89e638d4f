#!/bin/sh
# Vidmora's internal player: plays the one video it is given with FFmpeg's ffplay.
# The path is taken as a file name whatever it looks like (blanks, '%', ':', a leading '-').
if [ "$#" -lt 1 ] || [ -z "$1" ]; then
  echo "usage: vidmora-player VIDEO" >&2
  exit 2
fi
if ! command -v ffplay >/dev/null 2>&1; then
  echo "vidmora-player: ffplay is not installed (Debian package ffmpeg)" >&2
  exit 127
fi
name=$(basename -- "$1")
exec ffplay -hide_banner -loglevel error -autoexit -window_title "$name" "file:$1"
