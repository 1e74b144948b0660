# Private sound servers for the benchmarks, sourced: a PulseAudio server, or
# PipeWire with its pulse server, each with a null sink "out", in $work.
# Sets pids (to stop) and the variables clients need.
pids=()
export XDG_RUNTIME_DIR="$work" PULSE_SERVER="unix:$work/pulse/native" PULSE_SINK=out
pulseaudio_up() {
  pulseaudio -n --daemonize=no --use-pid-file=no --exit-idle-time=-1 \
    -L "module-null-sink sink_name=out rate=44100 channels=2" \
    -L "module-native-protocol-unix auth-anonymous=1" 2> "$work/server.log" &
  pids+=($!)
}
pipewire_up() {
  mkdir -p "$work/config/pipewire/pipewire.conf.d"
  echo 'context.objects = [ { factory = adapter args = { factory.name = support.null-audio-sink
    node.name = "out" media.class = "Audio/Sink" audio.position = [ FL FR ] audio.rate = 44100 } } ]' \
    > "$work/config/pipewire/pipewire.conf.d/out.conf"
  export XDG_CONFIG_HOME="$work/config" PIPEWIRE_RUNTIME_DIR="$work"
  export DBUS_SESSION_BUS_ADDRESS="unix:path=$work/bus"
  dbus-daemon --session --nofork --nopidfile --address="$DBUS_SESSION_BUS_ADDRESS" 2> /dev/null &
  pids+=($!)
  until [ -S "$work/bus" ]; do sleep 0.05; done
  pipewire 2> "$work/pipewire.log" &
  pids+=($!)
  until [ -S "$work/pipewire-0" ]; do sleep 0.05; done
  wireplumber 2> /dev/null &
  pids+=($!)
  pipewire-pulse 2> /dev/null &
  pids+=($!)
}
server_up() {
  if [ "$1" = PulseAudio ]; then pulseaudio_up; else pipewire_up; fi
  until pactl list short sinks 2> /dev/null | grep -q out; do sleep 0.05; done
}
