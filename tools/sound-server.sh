#!/usr/bin/env bash
# Makes sure a PulseAudio server answers, starting one with a null sink when
# none does (CI has no sound device). Prints nothing and succeeds when a
# server was already running; exits 1 if none could be started.
set -uo pipefail
pactl info >/dev/null 2>&1 && exit 0
command -v pulseaudio >/dev/null || { echo "sound-server: pulseaudio is not installed" >&2; exit 1; }
pulseaudio --daemonize --exit-idle-time=-1 -n \
  --load=module-null-sink --load=module-native-protocol-unix >/dev/null 2>&1
for _ in $(seq 50); do
  pactl info >/dev/null 2>&1 && { echo "sound-server: started PulseAudio with a null sink"; exit 0; }
  sleep 0.1
done
echo "sound-server: PulseAudio did not start" >&2
exit 1
