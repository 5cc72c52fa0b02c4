#!/usr/bin/env bash
# Makes the benchmark's MP3 files in FOLDER (default /tmp/decbench): one
# minute of 44.1 kHz stereo (pink noise under two tones with tremolo),
# encoded by lame at 128 kbit/s, VBR -V 2 and 320 kbit/s.
#   bash bench/decoder/make-streams.sh [FOLDER]
#   build/bin/kelpra_bench -r 4 FOLDER/cbr128.mp3 FOLDER/vbr2.mp3 FOLDER/cbr320.mp3
set -euo pipefail
out=${1:-/tmp/decbench}
mkdir -p "$out"
ffmpeg -v error -y \
  -f lavfi -i "anoisesrc=color=pink:duration=60:amplitude=0.25:sample_rate=44100" \
  -f lavfi -i "sine=frequency=440:duration=60:sample_rate=44100" \
  -f lavfi -i "sine=frequency=1250:duration=60:sample_rate=44100" \
  -filter_complex "[1]tremolo=f=3:d=0.6[a];[2]tremolo=f=5:d=0.4[b];[0][a][b]amix=inputs=3,aecho=0.8:0.7:60:0.4,pan=stereo|c0=c0|c1=0.8*c0" \
  -ac 2 -ar 44100 -c:a pcm_s16le "$out/source.wav"
lame --quiet -b 128 "$out/source.wav" "$out/cbr128.mp3"
lame --quiet -V 2 "$out/source.wav" "$out/vbr2.mp3"
lame --quiet -b 320 "$out/source.wav" "$out/cbr320.mp3"
echo "$out/cbr128.mp3 $out/vbr2.mp3 $out/cbr320.mp3"
