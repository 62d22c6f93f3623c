#!/bin/sh
# What DrawToDesktop puts on a real (24-bit TrueColor) screen is, byte for
# byte, what ImageMagick's import reads and what CreateFromDesktop reads back.
#   screen_check.sh DISPLAY_FILE WORK_DIR PROBE_COMMAND...   (77: skipped)
set -eu

display_file=$1
work=$2
shift 2
for program in convert import compare; do
  if ! command -v $program >/dev/null 2>&1; then
    echo "skipped: $program is not installed (Debian package imagemagick)"
    exit 77
  fi
done

export DISPLAY="$(cat "$display_file")"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# A known picture with an odd width, so that rows carry padding.
convert -seed 7 -size 257x131 xc: +noise Random -depth 8 -type TrueColor BMP3:known.bmp
"$@" known.bmp 100 50 captured.bmp
import -window root -crop 257x131+100+50 +repage imported.png
failures=0
for seen in imported.png captured.bmp; do
  count=$(compare -metric AE known.bmp $seen null: 2>&1 || true)
  echo "$seen: $count pixels differ from the picture drawn"
  [ "$count" = 0 ] || failures=$((failures + 1))
done
[ $failures = 0 ]
