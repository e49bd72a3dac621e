# shellcheck shell=bash
# A private X display for windows without a screen: Xvfb on the first free
# display from :90 to :140, with openbox so that windows get their frames and
# can be maximised. Source this file, then:
#   start_virtual_display   sets virtual_display (":N"); returns 1 with a line
#                           on standard error when no display could be started
#   stop_virtual_display    stops the window manager and Xvfb again; safe to
#                           call at any time, also before a start
# Only local clients: Xvfb does not listen on TCP.

virtual_display=
virtual_display_xvfb_pid=
virtual_display_wm_pid=
virtual_display_marks=

# Waits (at most 10 s) until FILE exists while process PID lives.
_virtual_display_wait_for() {
  local file=$1 pid=$2
  for _ in $(seq 100); do
    # Alive first: a display taken by another server makes ours end at once.
    kill -0 "$pid" 2>/dev/null || return 1
    [ -e "$file" ] && return 0
    sleep 0.1
  done
  return 1
}

start_virtual_display() {
  virtual_display_marks=$(mktemp -d)
  local n
  for n in $(seq 90 140); do
    if [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; then continue; fi
    Xvfb ":$n" -screen 0 1280x800x24 -nolisten tcp >/dev/null 2>&1 &
    virtual_display_xvfb_pid=$!
    if _virtual_display_wait_for "/tmp/.X11-unix/X$n" "$virtual_display_xvfb_pid"; then
      virtual_display=:$n
      break
    fi
    # Someone else took this display between the look and the start.
    kill "$virtual_display_xvfb_pid" 2>/dev/null || true
    wait "$virtual_display_xvfb_pid" 2>/dev/null || true
    virtual_display_xvfb_pid=
  done
  if [ -z "$virtual_display" ]; then
    echo "virtual display: no X display between :90 and :140 could be started" >&2
    return 1
  fi
  # openbox runs its start-up command once it manages the screen.
  DISPLAY=$virtual_display openbox --startup "touch $virtual_display_marks/wm-ready" >/dev/null 2>&1 &
  virtual_display_wm_pid=$!
  if ! _virtual_display_wait_for "$virtual_display_marks/wm-ready" "$virtual_display_wm_pid"; then
    echo "virtual display: openbox did not start on $virtual_display" >&2
    return 1
  fi
}

stop_virtual_display() {
  local pid
  for pid in "$virtual_display_wm_pid" "$virtual_display_xvfb_pid"; do
    if [ -n "$pid" ]; then
      # A stopped process reports its signal; that is no failure here.
      kill "$pid" 2>/dev/null || true
      wait "$pid" 2>/dev/null || true
    fi
  done
  virtual_display_wm_pid=
  virtual_display_xvfb_pid=
  virtual_display=
  [ -z "$virtual_display_marks" ] || rm -rf "$virtual_display_marks"
  virtual_display_marks=
  return 0
}
