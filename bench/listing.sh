#!/usr/bin/env bash
# Listing benchmark: tarnwick-cli against curl on one large directory of a local vsftpd on
# 127.0.0.1: "ls" lists it, "get0" downloads one empty file from it (a client that lists
# the directory first pays for the whole listing).
#
#   bash bench/listing.sh BUILD_DIR      (scripts/bench passes its release build directory)
#
# Environment:
#   LISTING_ENTRIES    files in the directory (default 20000)
#   ROUNDS             interleaved rounds (default 5); each round runs every client once
#   TARNWICK_CLI       the tarnwick-cli to measure (default BUILD_DIR/src/cli/tarnwick-cli)
#
# A listing must name every file and the download must arrive (empty); a peer that fails
# fails the script. Not part of the tests: it needs root (or sudo) for vsftpd.
set -euo pipefail

readonly USAGE="usage: bash bench/listing.sh BUILD_DIR"
readonly CLIENTS=(tarnwick curl)
readonly DIRECTIONS=(ls get0)
readonly DIR=big
readonly EMPTY=empty.bin
readonly RATE_UNIT="runs/s"

# shellcheck source=bench/ftp_bench_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/ftp_bench_lib.sh"

[ $# -eq 1 ] || die "$USAGE"
resolve_cli "$1"
ENTRIES=${LISTING_ENTRIES:-20000}
ROUNDS=${ROUNDS:-5}
RUN_TIMEOUT=120
RUN_AMOUNT=1
is_positive_int "$ENTRIES" || die "LISTING_ENTRIES must be a positive integer"
is_positive_int "$ROUNDS" || die "ROUNDS must be a positive integer"

client_supports() { return 0; }

client_command() {
    local client=$1 direction=$2 dest=$3 url
    url=$(ftp_url)
    case "$client:$direction" in
    tarnwick:ls) CMD=(sh -c 'exec "$@" >"$0"' "$dest/out" "${TARNWICK_ENV[@]}" "$CLI" --quiet ls "$url/$DIR/") ;;
    tarnwick:get0) CMD=("${TARNWICK_ENV[@]}" "$CLI" --quiet get "$url/$DIR/$EMPTY" "$dest") ;;
    curl:ls) CMD=(curl -sS -o "$dest/out" "$url/$DIR/") ;;
    curl:get0) CMD=(curl -sS -o "$dest/$EMPTY" "$url/$DIR/$EMPTY") ;;
    esac
}

result_path() {
    if [ "$2" = ls ]; then echo "$3/out"; else echo "$3/$EMPTY"; fi
}

check_result() {
    local lines
    if [ ! -f "$1" ]; then
        CHECK_DETAIL="missing"
        return 1
    fi
    [ "$(basename "$1")" = "$EMPTY" ] && { [ ! -s "$1" ] || { CHECK_DETAIL="not empty"; return 1; }; return 0; }
    lines=$(grep -c 'file' "$1" || true)
    CHECK_DETAIL="$lines entries listed"
    [ "$lines" -ge "$ENTRIES" ]
}

main() {
    ensure_packages curl
    make_work_dir
    mkdir -p "$SRV/$DIR"
    (cd "$SRV/$DIR" && seq -f 'file%06g.dat' 1 "$ENTRIES" | xargs touch && touch "$EMPTY")
    start_server
    echo "vsftpd on $HOST:$CONTROL_PORT, $ENTRIES entries, $(peer_version curl)"
    TARNWICK_ENV=(env "TARNWICK_HOME=$WORK/home")
    run_rounds
    echo
    echo "One directory of $ENTRIES entries over loopback FTP (vsftpd), $ROUNDS round(s), median of rounds"
    print_rate_table
    echo
    print_ratios
    fail_on_corrupt
}

main
