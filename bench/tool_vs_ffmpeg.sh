#!/usr/bin/env bash
# The kolvex tool as video tools use it, beside ffmpeg on the same input in the
# same run:
#   1. ffmpeg -i IN -f rawvideo -pix_fmt F - | kolvex pipe --size WxH --format F quarter
#        | ffmpeg -f rawvideo ... -f null -
#      with F = bgr24, and with F = yuv420p on yuv420p input (no conversion in
#      ffmpeg: the pipe converts to and from its BGR rows itself), against
#      ffmpeg's own  ffmpeg -i IN -vf scale=iw/2:ih/2:flags=area -f null -
#   2. kolvex quarter over a batch of 1080p bitmap files with --jobs 1 and --jobs 2.
# The commands of one input run REPEAT times each, in turn, so that the load
# of other processes falls on all of them alike; each line gives frames per
# second of the best, median and worst run, and the median CPU time (user and
# system, every process of the command) per frame, which is what a machine
# whose cores are all busy pays.
#   bench/tool_vs_ffmpeg.sh [KOLVEX] [IN...]
# KOLVEX defaults to build/default/cli/kolvex. Without IN, two 1920x1080 clips
# of ffmpeg's test pattern are made: bgr24 frames kept losslessly (FFV1), where
# both pipelines scale the same pixels, and yuv420p H.264 as cameras write it.
set -euo pipefail
cd "$(dirname "$0")/.."
kolvex=$(realpath "${1:-build/default/cli/kolvex}")
frames=${FRAMES:-300}
repeat=${REPEAT:-5}
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

# "WALL USER SYSTEM" seconds of one run of the command in $1 (its output
# dropped, its messages shown); exits when it fails.
measure() {
  local TIMEFORMAT='%R %U %S' report
  report=$({ time bash -o pipefail -c "$1" >/dev/null 2>&3; } 3>&2 2>&1) ||
    { echo "failed: $1" >&2; exit 1; }
  echo "$report"
}

# Runs the commands given, each $repeat times in turn, and prints a line for
# each: label, fps of the best, median and worst run of $frames_now frames, and
# median CPU milliseconds a frame. Arguments: LABEL COMMAND LABEL COMMAND...
# Leaves the median wall seconds of each in medians[] and the best in bests[].
compare() {
  local -a labels=() commands=() runs=()
  local wall_best wall_median
  while (($#)); do labels+=("$1"); commands+=("$2"); runs+=(""); shift 2; done
  for _ in $(seq "$repeat"); do
    for i in "${!commands[@]}"; do runs[i]+="$(measure "${commands[i]}");"; done
  done
  medians=() bests=()
  for i in "${!commands[@]}"; do
    local walls cpus best median worst cpu
    walls=$(tr ';' '\n' <<<"${runs[i]}" | awk 'NF == 3 { print $1 }' | sort -g)
    cpus=$(tr ';' '\n' <<<"${runs[i]}" | awk 'NF == 3 { print $2 + $3 }' | sort -g)
    local middle=$(((repeat + 1) / 2))
    wall_best=$(sed -n 1p <<<"$walls")
    wall_median=$(sed -n "${middle}p" <<<"$walls")
    best=$(fps "$wall_best")
    median=$(fps "$wall_median")
    worst=$(fps "$(sed -n "${repeat}p" <<<"$walls")")
    cpu=$(awk -v n="$frames_now" -v s="$(sed -n "${middle}p" <<<"$cpus")" \
      'BEGIN { printf "%.2f", 1000 * s / n }')
    medians+=("$wall_median")
    bests+=("$wall_best")
    printf '  %-56s %8s %8s %8s %10s\n' "${labels[i]}" "$best" "$median" "$worst" "$cpu"
  done
}

# Frames per second of $frames_now frames in $1 seconds.
fps() { awk -v n="$frames_now" -v s="$1" 'BEGIN { printf "%.1f", n / s }'; }

# The ratio of frame rates a / b from wall seconds of b and a.
ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2fx", b / a }'; }

for input in "${inputs[@]}"; do
  IFS=, read -r width height pix_fmt < <(ffprobe -v error -select_streams v:0 \
    -show_entries stream=width,height,pix_fmt -of csv=p=0 "$input")
  frames_now=$(ffprobe -v error -count_frames -select_streams v:0 \
    -show_entries stream=nb_read_frames -of csv=p=0 "$input")
  half="$((width / 2))x$((height / 2))"
  pipe() {  # the pipe with frames of format $1
    echo "ffmpeg -v error -i '$input' -f rawvideo -pix_fmt $1 - |" \
      "'$kolvex' pipe --size ${width}x${height} --format $1 quarter |" \
      "ffmpeg -v error -f rawvideo -pix_fmt $1 -s $half -i - -f null -"
  }
  printf 'input: %s, %dx%d %s, %d frames; %d runs each, in turn\n' "$(basename "$input")" \
    "$width" "$height" "$pix_fmt" "$frames_now" "$repeat"
  printf '  %-56s %8s %8s %8s %10s\n' "" "best" "median" "worst" "CPU ms"
  args=("ffmpeg -vf scale=iw/2:ih/2:flags=area" \
    "ffmpeg -v error -i '$input' -vf scale=iw/2:ih/2:flags=area -f null -"
    "ffmpeg | kolvex pipe --format bgr24 quarter | ffmpeg" "$(pipe bgr24)")
  if [[ $pix_fmt == yuv420p ]]; then
    args+=("ffmpeg | kolvex pipe --format yuv420p quarter | ffmpeg" "$(pipe yuv420p)")
  fi
  compare "${args[@]}"
  for i in $(seq 1 $((${#medians[@]} - 1))); do
    printf '  %s: %s of ffmpeg'"'"'s own (medians), %s (best runs)\n' \
      "$(sed 's/ffmpeg | \(.*\) | ffmpeg/\1/' <<<"${args[2 * i]}")" \
      "$(ratio "${medians[i]}" "${medians[0]}")" "$(ratio "${bests[i]}" "${bests[0]}")"
  done
done

mkdir -p "$work/batch"
ffmpeg -v error -i "${inputs[0]}" -frames:v 20 -pix_fmt bgr24 "$work/batch/f%02d.bmp"
frames_now=20
printf 'kolvex quarter, batch of 20 1080p bitmap files\n'
printf '  %-56s %8s %8s %8s %10s\n' "" "best" "median" "worst" "CPU ms"
compare "--jobs 1" "'$kolvex' quarter --quiet --jobs 1 -o '$work/out1' '$work'/batch/*.bmp" \
  "--jobs 2" "'$kolvex' quarter --quiet --jobs 2 -o '$work/out2' '$work'/batch/*.bmp"
cmp -s <(cat "$work"/out1/*.bmp) <(cat "$work"/out2/*.bmp) || { echo "outputs differ" >&2; exit 1; }
printf '  --jobs 2: %s of --jobs 1 (medians)\n' "$(ratio "${medians[1]}" "${medians[0]}")"
