#!/usr/bin/env bash
# A CUPS scheduler for the print tests, and queues that print into a PDF file.
#   cups.sh start             start cupsd unless one runs (file devices allowed); wait until it answers
#   cups.sh stop              stop cupsd, only when this script started it
#   cups.sh queue NAME FILE   (re)create queue NAME whose device is FILE, with the Generic PDF driver
#   cups.sh unqueue NAME      cancel the queue's jobs and delete it
# Never starts a second cupsd: a second one takes over /run/cups/cups.sock and deletes it when it
# ends, cutting the first one off. Needs root (cupsd, /etc/cups).
set -euo pipefail

RUN_DIR=/run/cups
PID_FILE=$RUN_DIR/cupsd.pid
OURS=$RUN_DIR/vantrel-started   # the pid of the cupsd this script started
FILES_CONF=/etc/cups/cups-files.conf
PPD=/usr/share/ppd/cupsfilters/Generic-PDF_Printer-PDF.ppd
LOCK=/run/lock/vantrel-cups.lock

die() { echo "cups.sh: $*" >&2; exit 1; }

running_pid() {
  local pid
  [ -f "$PID_FILE" ] || return 1
  pid=$(cat "$PID_FILE" 2>/dev/null) || return 1
  [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 1
  echo "$pid"
}

# Ended, or a zombie that nobody has reaped yet (a container's init may be slow to).
gone() { ! kill -0 "$1" 2>/dev/null || [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" = Z ]; }

answering() { lpstat -r 2>/dev/null | grep -q 'is running'; }  # lpstat -r always exits 0

file_device_on() { grep -q '^FileDevice[[:space:]]\+Yes' "$FILES_CONF" 2>/dev/null; }

start() {
  command -v cupsd >/dev/null || die "cupsd is not installed (package cups-daemon)"
  mkdir -p "$RUN_DIR"
  if pid=$(running_pid); then
    file_device_on || die "cupsd $pid runs without 'FileDevice Yes'; file queues would fail"
  else
    if ! file_device_on; then
      if grep -q '^#\?FileDevice' "$FILES_CONF"; then
        sed -i 's/^#\?FileDevice.*/FileDevice Yes/' "$FILES_CONF"
      else
        echo 'FileDevice Yes' >>"$FILES_CONF"
      fi
    fi
    # cupsd forks into the background; keep it off our output so callers do not wait on it.
    cupsd </dev/null >/dev/null 2>&1 || die "cupsd did not start"
    for _ in $(seq 100); do
      pid=$(running_pid) && break
      sleep 0.05
    done
    [ -n "${pid:-}" ] || die "cupsd wrote no pid file"
    echo "$pid" >"$OURS"
  fi
  for _ in $(seq 200); do
    answering && return 0
    sleep 0.05
  done
  die "cupsd does not answer"
}

stop() {
  local pid ours
  [ -f "$OURS" ] || return 0
  ours=$(cat "$OURS")
  rm -f "$OURS"
  pid=$(running_pid) || return 0
  [ "$pid" = "$ours" ] || return 0   # someone else's cupsd now: leave it
  kill -TERM "$pid"
  for _ in $(seq 200); do
    gone "$pid" && return 0
    sleep 0.05
  done
  die "cupsd $pid did not stop"
}

queue() {
  local name=$1 file=$2
  [ -f "$PPD" ] || die "no Generic PDF driver at $PPD (package cups-filters)"
  case "$file" in /*) ;; *) die "the output file must be an absolute path" ;; esac
  lpadmin -x "$name" 2>/dev/null || true
  # A raw queue would accept jobs and write nothing: always give the PDF driver.
  lpadmin -p "$name" -E -v "file://$file" -P "$PPD" 2>/dev/null
  lpstat -p "$name" >/dev/null || die "queue $name was not created"
}

unqueue() {
  local name=$1
  cancel -a -x "$name" 2>/dev/null || true
  lpadmin -x "$name" 2>/dev/null || true
}

# Nothing of ours to stop: done, even without root.
if [ "${1:-}" = stop ] && [ ! -f "$OURS" ]; then exit 0; fi
[ "$(id -u)" -eq 0 ] || die "needs root"
mkdir -p "$(dirname "$LOCK")"
exec 9>"$LOCK"
flock 9
case "${1:-}" in
  start) start ;;
  stop) stop ;;
  queue) [ $# -eq 3 ] || die "usage: cups.sh queue NAME FILE"; queue "$2" "$3" ;;
  unqueue) [ $# -eq 2 ] || die "usage: cups.sh unqueue NAME"; unqueue "$2" ;;
  *) die "usage: cups.sh start|stop|queue NAME FILE|unqueue NAME" ;;
esac
