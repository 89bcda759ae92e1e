#!/usr/bin/env bash
# A queue run in the desktop program against the same run from the command line: a local
# vsftpd on 127.0.0.1 serves QUEUE_FILES small files, a queue file holds one download item
# for each, and rounds alternate `tarnwick-cli queue run FILE` (A) and bench_gui_queue_run
# (B, the main window offscreen: import, start, until the run's end notice), A B A B. Both
# take the port and login from the same site.dat; every run's files are compared with the
# server's (wrong data from the desktop program ends the script at once, from tarnwick-cli
# after the report). Reported: files/s (whole process, start to exit) per client, the ratio of the
# desktop program's median over the command line's, and the desktop program's own figures
# per round (from its start of the run to the end notice).
#
#   bash bench/queue_run.sh BUILD_DIR      (scripts/bench passes its release build directory)
#
# Environment:
#   QUEUE_FILES        files and queue items (default 2000)
#   QUEUE_FILE_KB      size of each file in KiB (default 4)
#   ROUNDS             rounds (default 2); each runs A then B
#   TARNWICK_CLI       the tarnwick-cli to measure (default BUILD_DIR/src/cli/tarnwick-cli)
#   TMPDIR             where the server's files and the downloads go (default /dev/shm)
# Needs root (or sudo) for vsftpd.
set -euo pipefail

readonly CLIENTS=(tarnwick gui)
readonly DIRECTIONS=(download)
readonly DIR=many
readonly RATE_UNIT="files/s"

# shellcheck source=bench/ftp_bench_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/ftp_bench_lib.sh"

[ $# -eq 1 ] || die "usage: bash bench/queue_run.sh BUILD_DIR"
resolve_cli "$1"
PROGRAM=$1/bench/bench_gui_queue_run
FILES=${QUEUE_FILES:-2000}
FILE_KB=${QUEUE_FILE_KB:-4}
ROUNDS=${ROUNDS:-2}
RUN_TIMEOUT=600
is_positive_int "$FILES" || die "QUEUE_FILES must be a positive integer"
is_positive_int "$FILE_KB" || die "QUEUE_FILE_KB must be a positive integer"
is_positive_int "$ROUNDS" || die "ROUNDS must be a positive integer"
RUN_AMOUNT=$FILES

# ---------------------------------------------------------------- the clients

label() { [ "$1" = tarnwick ] && echo tarnwick-cli || echo desktop; }

client_supports() { return 0; }

# Each client downloads into its own directory, named in its own queue file.
client_command() {
    local client=$1 dest=$3
    case "$client" in
    tarnwick) CMD=("$CLI" --quiet --home "$WORK/cli-home" queue run "$WORK/tarnwick.que") ;;
    gui) CMD=(env "TARNWICK_BENCH_QUEUE=$WORK/gui.que" "TARNWICK_BENCH_SITES=$WORK/site.dat"
        "QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}" "$PROGRAM") ;;
    esac
    [ "$dest" = "$WORK/dl/$client" ] || die "unexpected destination $dest"
}

# The desktop program's own figures go to the report; the files are in the destination.
result_path() {
    [ "$1" != gui ] || grep '^BM_' "$WORK/log.gui.download" >>"$WORK/gui-rounds" || true
    echo "$3"
}

check_result() {
    if ! diff -rq "$SRV/$DIR" "$1" >"$WORK/diff" 2>&1; then
        CHECK_DETAIL="$(wc -l <"$WORK/diff") difference(s), e.g. $(head -n 1 "$WORK/diff")"
        return 1
    fi
}

# ---------------------------------------------------------------- setup

# One file of sites for both: 127.0.0.1 on the server's port, anonymous, passive.
write_site_file() {
    printf '%s\n' "[bench]" "address=$HOST" "port=$CONTROL_PORT" "username=$FTP_USER" \
        "password=" "logintype=1" "hosttype=0" "deflocaldir=" "defremotedir=" "passive=1" "" \
        >"$WORK/site.dat"
    mkdir -p "$WORK/cli-home"
    cp "$WORK/site.dat" "$WORK/cli-home/site.dat"
}

# write_queue_file CLIENT: one download item per file into WORK/dl/CLIENT.
write_queue_file() {
    local client=$1
    {
        echo "[$HOST]"
        seq -f "file%06g.dat" 1 "$FILES" |
            awk -v dir="/$DIR" -v dest="$WORK/dl/$1" -v size="$((FILE_KB * 1024))" \
                '{ printf "0\t%s/%s\t0\t%s\t0\t%d\n", dir, $0, dest, size }'
        echo
    } >"$WORK/$client.que"
}

# ---------------------------------------------------------------- rounds and report

# A then B in every round (the order the comparison asks for), unlike run_rounds' rotation.
run_alternating() {
    declare -gA STATE RATES PEAK_RSS MEDIAN
    local client round
    for client in "${CLIENTS[@]}"; do
        STATE[$client:download]=ok
        RATES[$client:download]=""
        PEAK_RSS[$client:download]=0
    done
    for ((round = 0; round < ROUNDS; round++)); do
        echo "round $((round + 1))/$ROUNDS"
        for client in "${CLIENTS[@]}"; do run_client "$client" download; done
    done
}

print_report() {
    echo
    echo "Queue run of $FILES files of $FILE_KB KiB over loopback FTP (vsftpd)," \
        "$ROUNDS round(s) A B, median of rounds (whole process)"
    print_rate_table
    if [ "${STATE[tarnwick:download]}" = ok ] && [ "${STATE[gui:download]}" = ok ]; then
        echo "desktop / tarnwick-cli: $(awk -v g="${MEDIAN[gui:download]}" \
            -v c="${MEDIAN[tarnwick:download]}" 'BEGIN { printf "%.2f", g / c }')"
    fi
    echo "desktop program per round (StartQueue to the end notice):"
    sed 's/^/  /' "$WORK/gui-rounds" 2>/dev/null || echo "  none"
}

main() {
    [ -x "$PROGRAM" ] || { echo "${0##*/}: $PROGRAM not built (no desktop program); skipped"; return 0; }
    ensure_packages
    # On a disk file system, creating thousands of files just after the previous run's were
    # deleted is slow in the kernel (new inodes skip the recently freed ones) and times the
    # file system more than the clients: the work directory goes to memory where it can.
    if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
    make_work_dir
    mkdir -p "$SRV/$DIR"
    (cd "$SRV/$DIR" && for name in $(seq -f 'file%06g.dat' 1 "$FILES"); do
        head -c "$((FILE_KB * 1024))" /dev/urandom >"$name"
    done)
    chmod -R a+rX "$SRV/$DIR"
    start_server
    echo "vsftpd on $HOST:$CONTROL_PORT (passive $PASV_MIN-$PASV_MAX), $FILES files of $FILE_KB KiB"
    write_site_file
    for client in "${CLIENTS[@]}"; do write_queue_file "$client"; done
    run_alternating
    print_report
    fail_on_corrupt
}

main
