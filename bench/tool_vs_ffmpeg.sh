#!/usr/bin/env bash
# The kolvex tool as video tools use it, beside ffmpeg on the same input in the
# same run:
#   1. ffmpeg -i IN -f rawvideo -pix_fmt bgr24 - | kolvex pipe --size WxH --format bgr24 quarter
#        | ffmpeg -f rawvideo ... -f null -
#      against ffmpeg's own  ffmpeg -i IN -vf scale=iw/2:ih/2:flags=area -f null -
#   2. kolvex quarter over a batch of 1080p bitmap files with --jobs 1 and --jobs 2.
# Each figure is the best of REPEAT runs (other processes share the cores).
#   bench/tool_vs_ffmpeg.sh [KOLVEX] [IN...]
# KOLVEX defaults to build/default/cli/kolvex. Without IN, two 1920x1080 clips
# of ffmpeg's test pattern are made: bgr24 frames kept losslessly (FFV1), where
# both pipelines scale the same pixels, and yuv420p H.264 as cameras write it,
# where the pipe also pays ffmpeg's conversion to bgr24 and the pipe's copies.
set -euo pipefail
cd "$(dirname "$0")/.."
kolvex=$(realpath "${1:-build/default/cli/kolvex}")
frames=${FRAMES:-150}
repeat=${REPEAT:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

inputs=("${@:2}")
if ((${#inputs[@]} == 0)); then
  inputs=("$work/bgr24.mkv" "$work/yuv420p.mp4")
  ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
    -pix_fmt bgr24 -c:v ffv1 "${inputs[0]}"
  ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
    -pix_fmt yuv420p -c:v libx264 -preset veryfast "${inputs[1]}"
fi

# Best wall-clock nanoseconds of `repeat` runs of the command in $1.
best() {
  local best_ns=0
  for _ in $(seq "$repeat"); do
    local start ns
    start=$(date +%s%N)
    bash -c "$1"
    ns=$(($(date +%s%N) - start))
    if ((best_ns == 0 || ns < best_ns)); then best_ns=$ns; fi
  done
  echo "$best_ns"
}

# Frames per second of $1 frames in $2 nanoseconds.
fps() { awk -v n="$1" -v ns="$2" 'BEGIN { printf "%8.1f fps", n / (ns / 1e9) }'; }

for input in "${inputs[@]}"; do
  IFS=, read -r width height < <(ffprobe -v error -select_streams v:0 -show_entries stream=width,height \
    -of csv=p=0 "$input")
  count=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
    -of csv=p=0 "$input")
  pipe="ffmpeg -v error -i '$input' -f rawvideo -pix_fmt bgr24 - | '$kolvex' pipe --size ${width}x${height} --format bgr24 quarter | ffmpeg -v error -f rawvideo -pix_fmt bgr24 -s $((width / 2))x$((height / 2)) -i - -f null -"
  own="ffmpeg -v error -i '$input' -vf scale=iw/2:ih/2:flags=area -f null -"
  pipe_ns=$(best "$pipe")
  own_ns=$(best "$own")
  printf 'input: %s, %dx%d, %d frames\n' "$(basename "$input")" "$width" "$height" "$count"
  printf '  %-58s %s\n' "ffmpeg | kolvex pipe quarter | ffmpeg" "$(fps "$count" "$pipe_ns")"
  printf '  %-58s %s\n' "ffmpeg -vf scale=iw/2:ih/2:flags=area" "$(fps "$count" "$own_ns")"
done

mkdir -p "$work/batch"
ffmpeg -v error -i "${inputs[0]}" -frames:v 20 -pix_fmt bgr24 "$work/batch/f%02d.bmp"
one_ns=$(best "'$kolvex' quarter --quiet --jobs 1 -o '$work/out1' '$work'/batch/*.bmp")
two_ns=$(best "'$kolvex' quarter --quiet --jobs 2 -o '$work/out2' '$work'/batch/*.bmp")
cmp -s <(cat "$work"/out1/*.bmp) <(cat "$work"/out2/*.bmp) || { echo "outputs differ" >&2; exit 1; }
printf '%-60s %s\n' "kolvex quarter, batch of 20 bitmap files, --jobs 1" "$(fps 20 "$one_ns")"
printf '%-60s %s (%s)\n' "kolvex quarter, batch of 20 bitmap files, --jobs 2" "$(fps 20 "$two_ns")" \
  "$(awk -v a="$one_ns" -v b="$two_ns" 'BEGIN { printf "%.2fx", a / b }')"
