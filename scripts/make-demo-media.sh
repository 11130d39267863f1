#!/usr/bin/env bash
# Makes short demo episodes for the content site's --media folder: NNN.mp4 (H.264 main +
# AAC, index at the front: what the Windows browser control plays) and NNN.webm (VP8 +
# Vorbis). Each is about 5 s of a moving ball on its own colour with the episode number
# and its own tone. Only missing files are made, so it is cheap to run before every start.
#   make-demo-media.sh DIR [COUNT]     COUNT episodes (default 6)
set -euo pipefail

usage="usage: make-demo-media.sh DIR [COUNT]"
[[ $# -ge 1 && $# -le 2 ]] || { echo "$usage" >&2; exit 2; }
dir=$1
count=${2:-6}
[[ $count =~ ^[1-9][0-9]{0,3}$ ]] || { echo "make-demo-media.sh: COUNT must be 1..9999" >&2; exit 2; }
mkdir -p "$dir"

missing_files=0
for ((n = 1; n <= count; n++)); do
    for ext in mp4 webm; do
        [[ -e "$dir/$(printf %03d "$n").$ext" ]] || missing_files=$((missing_files + 1))
    done
done
[[ $missing_files -gt 0 ]] || exit 0

# Element -> the Debian package that has it.
declare -A package_of=(
    [videotestsrc]=gstreamer1.0-plugins-base [audiotestsrc]=gstreamer1.0-plugins-base
    [vorbisenc]=gstreamer1.0-plugins-base [textoverlay]=gstreamer1.0-x
    [timeoverlay]=gstreamer1.0-x [vp8enc]=gstreamer1.0-plugins-good
    [webmmux]=gstreamer1.0-plugins-good [mp4mux]=gstreamer1.0-plugins-good
    [x264enc]=gstreamer1.0-plugins-ugly [avenc_aac]=gstreamer1.0-libav
)
if ! command -v gst-launch-1.0 >/dev/null || ! command -v gst-inspect-1.0 >/dev/null; then
    echo "make-demo-media.sh: gst-launch-1.0 is missing (gstreamer1.0-tools); run scripts/setup.sh" >&2
    exit 1
fi
absent=()
for element in "${!package_of[@]}"; do
    gst-inspect-1.0 --exists "$element" || absent+=("$element (${package_of[$element]})")
done
if [[ ${#absent[@]} -gt 0 ]]; then
    echo "make-demo-media.sh: missing GStreamer elements: ${absent[*]}; run scripts/setup.sh" >&2
    exit 1
fi

colours=(0xff1f4e79 0xff7a1f3d 0xff2e6b30 0xff6b4a12 0xff4b2a7a 0xff135e63 0xff5c5c5c 0xff8a3b12)
queue=(queue max-size-buffers=0 max-size-bytes=0 max-size-time=0)

# make_episode N MP4_TEMP WEBM_TEMP: one pipeline writes the formats whose temp name is
# given, then renames them into place.
make_episode() {
    local n=$1 tmp_mp4=$2 tmp_webm=$3 name branches=()
    name=$(printf %03d "$n")
    if [[ -n $tmp_mp4 ]]; then
        # Main profile from I420 plays in Internet Explorer; a key frame every 2 s keeps
        # seeking quick.
        branches+=(v. ! "${queue[@]}" ! x264enc speed-preset=veryfast bitrate=800 key-int-max=50
            ! "video/x-h264,profile=main" ! mp4mux faststart=true name=m ! filesink location="$tmp_mp4"
            a. ! "${queue[@]}" ! audioconvert ! avenc_aac bitrate=128000 ! m.)
    fi
    if [[ -n $tmp_webm ]]; then
        branches+=(v. ! "${queue[@]}" ! vp8enc deadline=1 cpu-used=4 target-bitrate=800000
            keyframe-max-dist=50 ! webmmux name=w ! filesink location="$tmp_webm"
            a. ! "${queue[@]}" ! audioconvert ! vorbisenc quality=0.3 ! w.)
    fi
    # 5 s: 125 frames at 25/s, 50 buffers of 0.1 s of sound.
    if ! gst-launch-1.0 -q -e \
        videotestsrc num-buffers=125 pattern=ball \
        background-color="${colours[(n - 1) % ${#colours[@]}]}" \
        ! video/x-raw,format=I420,width=640,height=360,framerate=25/1 \
        ! textoverlay text="第${n}集" font-desc="WenQuanYi Micro Hei Bold 72" \
        valignment=center halignment=center \
        ! textoverlay text="Episode $n" font-desc="Sans Bold 28" valignment=bottom halignment=center \
        ! timeoverlay font-desc="Sans 16" valignment=top halignment=right \
        ! tee name=v \
        audiotestsrc num-buffers=50 samplesperbuffer=4410 freq=$((220 + 55 * ((n - 1) % 12))) \
        volume=0.3 ! audio/x-raw,rate=44100,channels=2 ! tee name=a \
        "${branches[@]}" >/dev/null; then
        echo "make-demo-media.sh: gst-launch-1.0 failed making episode $n" >&2
        return 1
    fi
    local ext tmp
    for ext in mp4 webm; do
        [[ $ext == mp4 ]] && tmp=$tmp_mp4 || tmp=$tmp_webm
        [[ -n $tmp ]] || continue
        chmod 644 "$tmp"
        mv -f "$tmp" "$dir/$name.$ext"
    done
}

# Hidden temporary names never count as episodes (for this script or the site); they are
# removed if the run stops half way. Episodes are made in parallel, one per CPU.
temps=()
stop() {
    rm -f "${temps[@]}"
    local job
    for job in $(jobs -p); do
        # shellcheck disable=SC2046 # the job's gst-launch-1.0, if any
        kill $(pgrep -P "$job" 2>/dev/null) "$job" 2>/dev/null || true
    done
    exit 1
}
trap 'rm -f "${temps[@]}"' EXIT
trap stop INT TERM
max_jobs=$(nproc)
running=0
failed=0
for ((n = 1; n <= count; n++)); do
    name=$(printf %03d "$n")
    tmp=()
    for ext in mp4 webm; do
        if [[ -e $dir/$name.$ext ]]; then
            tmp+=("")
        else
            tmp+=("$(mktemp "$dir/.$name.$ext.XXXXXX")")
            temps+=("${tmp[-1]}")
        fi
    done
    [[ -n ${tmp[0]}${tmp[1]} ]] || continue
    if ((running >= max_jobs)); then
        wait -n || failed=1
        running=$((running - 1))
    fi
    make_episode "$n" "${tmp[0]}" "${tmp[1]}" &
    running=$((running + 1))
done
for (( ; running > 0; running--)); do
    wait -n || failed=1
done
[[ $failed == 0 ]] || exit 1
echo "make-demo-media.sh: made $missing_files file(s) in $dir"
