#!/usr/bin/env bash
# The kolvex tool as video tools use it, beside ffmpeg on the same input in the
# same run:
#   1. ffmpeg -i IN -f rawvideo -pix_fmt bgr24 - | kolvex pipe --size WxH --format bgr24 quarter
#        | ffmpeg -f rawvideo ... -f null -
#      against ffmpeg's own  ffmpeg -i IN -vf scale=iw/2:ih/2:flags=area -f null -
#   2. kolvex quarter over a batch of 1080p bitmap files with --jobs 1 and --jobs 2.
# Each figure is the best of REPEAT runs (other processes share the cores).
#   bench/tool_vs_ffmpeg.sh [KOLVEX] [IN]
# KOLVEX defaults to build/default/cli/kolvex. Without IN, a 1920x1080 clip of
# ffmpeg's test pattern is made: bgr24 frames losslessly (FFV1), so that
# decoding costs little and the two pipelines differ only in their scaling.
set -euo pipefail
cd "$(dirname "$0")/.."
kolvex=$(realpath "${1:-build/default/cli/kolvex}")
frames=${FRAMES:-150}
repeat=${REPEAT:-3}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

input=${2:-}
if [[ -z $input ]]; then
  input=$work/in.mkv
  ffmpeg -v error -f lavfi -i "testsrc2=size=1920x1080:rate=25" -frames:v "$frames" \
    -pix_fmt bgr24 -c:v ffv1 "$input"
fi
IFS=, read -r width height < <(ffprobe -v error -select_streams v:0 -show_entries stream=width,height \
  -of csv=p=0 "$input")
count=$(ffprobe -v error -count_frames -select_streams v:0 -show_entries stream=nb_read_frames \
  -of csv=p=0 "$input")

# Best wall-clock seconds of `repeat` runs of the command in $1.
best() {
  local best_s=
  for _ in $(seq "$repeat"); do
    local start end s
    start=$(date +%s.%N)
    bash -c "$1"
    end=$(date +%s.%N)
    s=$(echo "$end - $start" | bc -l)
    if [[ -z $best_s ]] || (($(echo "$s < $best_s" | bc -l))); then best_s=$s; fi
  done
  echo "$best_s"
}

pipe="ffmpeg -v error -i '$input' -f rawvideo -pix_fmt bgr24 - | '$kolvex' pipe --size ${width}x${height} --format bgr24 quarter | ffmpeg -v error -f rawvideo -pix_fmt bgr24 -s $((width / 2))x$((height / 2)) -i - -f null -"
own="ffmpeg -v error -i '$input' -vf scale=iw/2:ih/2:flags=area -f null -"
pipe_s=$(best "$pipe")
own_s=$(best "$own")
printf 'input: %s, %dx%d, %d frames\n' "$input" "$width" "$height" "$count"
printf '%-60s %8.1f fps\n' "ffmpeg | kolvex pipe quarter | ffmpeg" "$(echo "$count / $pipe_s" | bc -l)"
printf '%-60s %8.1f fps\n' "ffmpeg -vf scale=iw/2:ih/2:flags=area" "$(echo "$count / $own_s" | bc -l)"

mkdir -p "$work/batch"
ffmpeg -v error -i "$input" -frames:v 20 -pix_fmt bgr24 "$work/batch/f%02d.bmp"
one_s=$(best "'$kolvex' quarter --quiet --jobs 1 -o '$work/out1' '$work'/batch/*.bmp")
two_s=$(best "'$kolvex' quarter --quiet --jobs 2 -o '$work/out2' '$work'/batch/*.bmp")
cmp -s <(cat "$work"/out1/*.bmp) <(cat "$work"/out2/*.bmp) || { echo "outputs differ" >&2; exit 1; }
printf '%-60s %8.1f fps\n' "kolvex quarter, batch of 20 bitmap files, --jobs 1" "$(echo "20 / $one_s" | bc -l)"
printf '%-60s %8.1f fps  (%.2fx)\n' "kolvex quarter, batch of 20 bitmap files, --jobs 2" \
  "$(echo "20 / $two_s" | bc -l)" "$(echo "$one_s / $two_s" | bc -l)"
