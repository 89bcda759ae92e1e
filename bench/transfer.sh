#!/usr/bin/env bash
# Transfer benchmark: tarnwick-cli against curl, lftp and ncftp, all downloading and uploading
# one random file through the same local vsftpd on 127.0.0.1.
#
#   bash bench/transfer.sh BUILD_DIR      (scripts/bench passes its release build directory)
#
# Environment:
#   TRANSFER_SIZE_MB   size of the random file in MiB (default 1024)
#   ROUNDS             interleaved rounds (default 5); each round runs every client once
#   TRANSFER_TIMEOUT   seconds one client run may take before it is killed (default 900)
#   TARNWICK_CLI       the tarnwick-cli to measure (default BUILD_DIR/src/cli/tarnwick-cli)
#
# Every transfer is checked by sha256. A peer that fails, or any client that reports success
# with wrong or missing data, fails the script. A tarnwick-cli that is missing or exits
# non-zero is only reported ("tarnwick-cli: failed"): the client is still being built.
# Not part of the tests: it needs root (or sudo) for vsftpd and may install Debian packages.
set -euo pipefail

readonly USAGE="usage: bash bench/transfer.sh BUILD_DIR"
readonly CLIENTS=(tarnwick curl lftp ncftp)
readonly DIRECTIONS=(download upload)
readonly PAYLOAD=payload.bin
readonly RATE_UNIT="MiB/s"

# shellcheck source=bench/ftp_bench_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/ftp_bench_lib.sh"

[ $# -eq 1 ] || die "$USAGE"
resolve_cli "$1"
SIZE_MB=${TRANSFER_SIZE_MB:-1024}
ROUNDS=${ROUNDS:-5}
RUN_TIMEOUT=${TRANSFER_TIMEOUT:-900}
is_positive_int "$SIZE_MB" || die "TRANSFER_SIZE_MB must be a positive integer"
is_positive_int "$ROUNDS" || die "ROUNDS must be a positive integer"
is_positive_int "$RUN_TIMEOUT" || die "TRANSFER_TIMEOUT must be a positive integer"
RUN_AMOUNT=$SIZE_MB

# ---------------------------------------------------------------- the clients

client_supports() { return 0; }

# The client command for one transfer, into the array CMD.
client_command() {
    local client=$1 direction=$2 dest=$3 url lftp
    url=$(ftp_url)
    lftp=$(lftp_open)
    set_ncftp_login
    case "$client:$direction" in
    tarnwick:download) CMD=("${TARNWICK_ENV[@]}" "$CLI" --quiet get "$url/$PAYLOAD" "$dest") ;;
    tarnwick:upload) CMD=("${TARNWICK_ENV[@]}" "$CLI" --quiet put "$SOURCE" "$url/up/tarnwick/") ;;
    curl:download) CMD=(curl -sS -o "$dest/$PAYLOAD" "$url/$PAYLOAD") ;;
    curl:upload) CMD=(curl -sS -T "$SOURCE" "$url/up/curl/") ;;
    lftp:download) CMD=(lftp -c "$lftp; get /$PAYLOAD -o \"$dest/$PAYLOAD\"") ;;
    lftp:upload) CMD=(lftp -c "$lftp; put \"$SOURCE\" -o /up/lftp/$PAYLOAD") ;;
    ncftp:download) CMD=(ncftpget "${NCFTP_LOGIN[@]}" "$dest" "/$PAYLOAD") ;;
    ncftp:upload) CMD=(ncftpput "${NCFTP_LOGIN[@]}" /up/ncftp "$SOURCE") ;;
    esac
}

result_path() {
    if [ "$2" = download ]; then echo "$3/$PAYLOAD"; else echo "$SRV/up/$1/$PAYLOAD"; fi
}

check_result() {
    local sum
    if [ ! -f "$1" ]; then
        CHECK_DETAIL="missing"
        return 1
    fi
    sum=$(sha256sum <"$1" | cut -d' ' -f1)
    CHECK_DETAIL="sha256 $sum"
    [ "$sum" = "$EXPECTED_SHA" ]
}

# ---------------------------------------------------------------- report

# Raw loopback TCP rate, memory to memory, for reference; skipped without python3.
loopback_capacity() {
    command -v python3 >/dev/null || { echo "skipped (no python3)"; return 0; }
    timeout 120 python3 - "$(( SIZE_MB < 1024 ? SIZE_MB : 1024 ))" <<'EOF' || echo "failed"
import socket, sys, threading, time
mib = int(sys.argv[1]); block = bytes(1 << 20)
server = socket.create_server(("127.0.0.1", 0)); server.settimeout(30)
def sink():
    conn, _ = server.accept(); conn.settimeout(30); buf = memoryview(bytearray(1 << 20))
    while conn.recv_into(buf): pass
reader = threading.Thread(target=sink); reader.start()
sender = socket.create_connection(server.getsockname(), timeout=30); start = time.perf_counter()
for _ in range(mib): sender.sendall(block)
sender.shutdown(socket.SHUT_WR); reader.join(); elapsed = time.perf_counter() - start
print(f"{mib / elapsed:.1f} MiB/s (python socket pump, {mib} MiB)")
EOF
}

print_report() {
    echo
    echo "Transfer of $SIZE_MB MiB over loopback FTP (vsftpd), $ROUNDS round(s), median of rounds"
    print_rate_table
    echo
    print_ratios
    echo "loopback raw capacity: $(loopback_capacity)"
}

# ---------------------------------------------------------------- main

main() {
    ensure_packages curl lftp ncftp
    make_work_dir
    SOURCE="$SRV/$PAYLOAD"
    require_free_mib $((SIZE_MB * 3 + 64))

    echo "creating $SIZE_MB MiB of random data"
    head -c "$((SIZE_MB * 1048576))" /dev/urandom >"$SOURCE"
    chmod 644 "$SOURCE"
    EXPECTED_SHA=$(sha256sum <"$SOURCE" | cut -d' ' -f1)

    start_server
    echo "vsftpd on $HOST:$CONTROL_PORT (passive $PASV_MIN-$PASV_MAX), $(peer_version curl)," \
        "$(peer_version lftp), $(peer_version ncftp)"

    # One untimed download first, so the first timed run does not pay for cold caches.
    timeout "$RUN_TIMEOUT" curl -sS -o /dev/null "$(ftp_url)/$PAYLOAD" ||
        die "warm-up download failed"

    TARNWICK_ENV=(env "TARNWICK_HOME=$WORK/home")

    run_rounds
    print_report
    fail_on_corrupt
}

main
