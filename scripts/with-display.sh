#!/usr/bin/env bash
# Runs a command where it has a display to draw on.
#
#   scripts/with-display.sh COMMAND [ARG]...
#
# With DISPLAY (or WAYLAND_DISPLAY) set, or with Qt told to draw without a
# screen (QT_QPA_PLATFORM=offscreen or minimal), the command runs directly. Otherwise it runs
# under a virtual X server (Xvfb, 1280x800, 24-bit colour) started for it
# and stopped after it, and this is said on stderr. The exit status is the
# command's.
set -euo pipefail

if [ $# -eq 0 ]; then
  echo "usage: $0 COMMAND [ARG]..." >&2
  exit 2
fi

if [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; then
  exec "$@"
fi
case "${QT_QPA_PLATFORM:-}" in
  offscreen* | minimal*) exec "$@" ;;
esac

SCREEN="1280x800x24"

if command -v xvfb-run >/dev/null 2>&1; then
  echo "with-display: no DISPLAY set; running under Xvfb (xvfb-run)" >&2
  # -a: the first free display number.
  exec xvfb-run -a -s "-screen 0 ${SCREEN} -nolisten tcp" "$@"
fi

if ! command -v Xvfb >/dev/null 2>&1; then
  echo "with-display: no DISPLAY set and Xvfb is not installed (scripts/install-deps.sh installs it)" >&2
  exit 127
fi

echo "with-display: no DISPLAY set; running under Xvfb" >&2
# Xvfb picks a free display number and writes it to the descriptor given
# by -displayfd once it accepts clients.
numfile="$(mktemp)"
Xvfb -displayfd 3 -screen 0 "${SCREEN}" -nolisten tcp 3>"${numfile}" 2>/dev/null &
xvfb_pid=$!
trap 'kill "${xvfb_pid}" 2>/dev/null || true; wait "${xvfb_pid}" 2>/dev/null || true; rm -f "${numfile}"' EXIT
for _ in $(seq 1 100); do
  [ -s "${numfile}" ] && break
  if ! kill -0 "${xvfb_pid}" 2>/dev/null; then
    echo "with-display: Xvfb did not start" >&2
    exit 1
  fi
  sleep 0.1
done
if [ ! -s "${numfile}" ]; then
  echo "with-display: Xvfb did not report a display within 10 seconds" >&2
  exit 1
fi
export DISPLAY=":$(head -n1 "${numfile}")"
status=0
"$@" || status=$?
exit "${status}"
