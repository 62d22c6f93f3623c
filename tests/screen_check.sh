#!/bin/sh
# The library on a real screen, against programs that are not ours:
#   1. what DrawToDesktop and Draw (through DrawDib and from a DIB section) put
#      on the desktop is, byte for byte, what ImageMagick's `import -window
#      root` reads from the X screen, and what CreateFromDesktop reads back;
#   2. CreateFromDesktop reads exactly the image that `xwud` shows at +0+0.
# The screen must be 24-bit TrueColor (exact 8-bit channels).
#
#   screen_check.sh DISPLAY_FILE WORK_DIR PROBE_COMMAND...
# DISPLAY_FILE holds the X display; PROBE_COMMAND runs tests/screen_probe.
# Exit status 77 (skipped) when ImageMagick or xwud is missing.
set -eu

display_file=$1
work=$2
shift 2

need() {
  command -v "$1" >/dev/null 2>&1 && return 0
  echo "skipped: $1 is not installed (Debian package $2)"
  exit 77
}
need convert imagemagick
need import imagemagick
need compare imagemagick
need xwud x11-apps

export DISPLAY="$(cat "$display_file")"
rm -rf "$work"
mkdir -p "$work"
cd "$work"

# Differing pixels between two images, as ImageMagick counts them.
differing() {
  compare -metric AE "$1" "$2" null: 2>&1 || true
}
failures=0
check() {  # what, expected image, seen image
  count=$(differing "$2" "$3")
  if [ "$count" = 0 ]; then
    echo "ok: $1"
  else
    echo "FAILED: $1 ($count pixels differ)"
    failures=$((failures + 1))
  fi
}

# A known picture with an odd width, so that rows carry padding.
w=257
h=131
convert -seed 7 -size ${w}x${h} xc: +noise Random -depth 8 -type TrueColor BMP3:known.bmp

x=100
y=50
"$@" draw known.bmp $x $y probe
row=0
for how in desktop drawdib section; do
  top=$((y + row * h))
  import -window root -crop ${w}x${h}+$x+$top +repage "import-$how.png"
  check "$how drawing as import reads it" known.bmp "import-$how.png"
  check "$how drawing as CreateFromDesktop reads it" known.bmp "probe-$how.bmp"
  row=$((row + 1))
done

convert known.bmp known.xwd
xwud -in known.xwd -geometry +0+0 &
xwud=$!
trap 'kill $xwud 2>/dev/null || true' EXIT
# xwud maps its window when it is ready: wait until import sees the picture
# there (10 s at most).
shown() {
  import -window root -crop ${w}x${h}+0+0 +repage shown.png && differing known.bmp shown.png
}
tries=0
until [ "$(shown)" = 0 ]; do
  tries=$((tries + 1))
  if [ $tries -ge 50 ]; then
    echo "FAILED: xwud did not show the picture at +0+0 within 10 s"
    exit 1
  fi
  sleep 0.2
done
"$@" capture 0 0 $w $h xwud.bmp
check "CreateFromDesktop of what xwud shows" known.bmp xwud.bmp

[ $failures = 0 ]
