#!/usr/bin/env bash
# Regenerates the example prompts: Mandarin digits and two short phrases,
# spoken by espeak-ng and converted by sox to 8 kHz mono A-law WAVE files
# with the canonical 58-byte header, each a whole number of 160-byte blocks.
# Needs: espeak-ng sox.
set -euo pipefail
cd "$(dirname "${BASH_SOURCE[0]}")"
prompts=(
  "00-ling:零" "01-yi:一" "02-er:二" "03-san:三" "04-si:四"
  "05-wu:五" "06-liu:六" "07-qi:七" "08-ba:八" "09-jiu:九"
  "10-huanying:欢迎使用" "11-qingshaohou:请稍候"
)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
for p in "${prompts[@]}"; do
  name=${p%%:*} text=${p#*:}
  espeak-ng -v cmn -s 150 -w "$tmp/$name.wav" "$text"
  sox "$tmp/$name.wav" -r 8000 -c 1 -e a-law -b 8 "$tmp/$name-8k.wav" norm -3
  # Pad with silence to whole 160-sample blocks so the library keeps every sample.
  n=$(soxi -s "$tmp/$name-8k.wav")
  sox "$tmp/$name-8k.wav" "$name.wav" pad 0 $(( (160 - n % 160) % 160 ))s
done
