#!/usr/bin/env bash
# A large remote directory in the desktop program's window: a local vsftpd on 127.0.0.1
# serves one directory of PANE_ENTRIES files, and bench_gui_pane_window (offscreen) connects
# to it, shows it in the remote pane and reports the time from the listing's end to the shown
# pane, the longest GUI-thread gap and the resident memory.
#
#   bash bench/pane_window.sh BUILD_DIR      (scripts/bench passes its release build directory)
#
# Environment: PANE_ENTRIES (default 100000). Needs root (or sudo) for vsftpd.
set -euo pipefail

readonly CLIENTS=(tarnwick)
readonly DIR=big

# shellcheck source=bench/ftp_bench_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/ftp_bench_lib.sh"

[ $# -eq 1 ] || die "usage: bash bench/pane_window.sh BUILD_DIR"
PROGRAM=$1/bench/bench_gui_pane_window
ENTRIES=${PANE_ENTRIES:-100000}
is_positive_int "$ENTRIES" || die "PANE_ENTRIES must be a positive integer"

main() {
    [ -x "$PROGRAM" ] || { echo "${0##*/}: $PROGRAM not built (no desktop program); skipped"; return 0; }
    ensure_packages
    make_work_dir
    mkdir -p "$SRV/$DIR"
    (cd "$SRV/$DIR" && seq -f 'file%06g.dat' 1 "$ENTRIES" | xargs touch)
    start_server
    echo "vsftpd on $HOST:$CONTROL_PORT, $ENTRIES entries"
    HOME="$WORK/home" TARNWICK_BENCH_URL="$(ftp_url)/$DIR/" \
        QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen} \
        timeout -k 10 300 "$PROGRAM" --benchmark_counters_tabular=true
}

main
