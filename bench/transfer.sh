#!/usr/bin/env bash
# Transfer benchmark: tarnwick-cli against curl, lftp and ncftp, all downloading and uploading
# one random file through the same local vsftpd on 127.0.0.1.
#
#   bash bench/transfer.sh BUILD_DIR      (scripts/bench passes its release build directory)
#
# Environment:
#   TRANSFER_SIZE_MB   size of the random file in MiB (default 1024)
#   ROUNDS             interleaved rounds (default 5); each round runs every client once
#   TARNWICK_CHUNK     bytes; handed to tarnwick-cli as TARNWICK_DATA_CHUNK when set
#   TRANSFER_TIMEOUT   seconds one client run may take before it is killed (default 900)
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
readonly FTP_USER=anonymous
readonly FTP_PASS=tarnwick-bench  # URL-safe: it goes into ftp:// URLs as is
readonly HOST=127.0.0.1

die() {
    echo "transfer.sh: $*" >&2
    exit 1
}

is_positive_int() { [[ "$1" =~ ^[1-9][0-9]*$ ]]; }

[ $# -eq 1 ] || die "$USAGE"
BUILD_DIR=$1
CLI="$BUILD_DIR/src/cli/tarnwick-cli"
SIZE_MB=${TRANSFER_SIZE_MB:-1024}
ROUNDS=${ROUNDS:-5}
RUN_TIMEOUT=${TRANSFER_TIMEOUT:-900}
CHUNK=${TARNWICK_CHUNK:-}
is_positive_int "$SIZE_MB" || die "TRANSFER_SIZE_MB must be a positive integer"
is_positive_int "$ROUNDS" || die "ROUNDS must be a positive integer"
is_positive_int "$RUN_TIMEOUT" || die "TRANSFER_TIMEOUT must be a positive integer"
[ -z "$CHUNK" ] || is_positive_int "$CHUNK" || die "TARNWICK_CHUNK must be a positive integer"

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# ---------------------------------------------------------------- state and cleanup

WORK=""            # temp dir holding everything this script creates
SERVER_PID=""      # the vsftpd listener
RUN_PID=""         # the client run in progress (a `timeout` leading its own process group)
POLICY_GUARD=""    # policy-rc.d we wrote so installing vsftpd starts no system service

# Bounded: TERM, up to 5 s of grace, then KILL.
stop_pid() {
    local pid=$1 i
    kill -TERM "$pid" 2>/dev/null || return 0
    for ((i = 0; i < 50; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -KILL "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    local status=$?
    trap - EXIT INT TERM
    [ -z "$RUN_PID" ] || stop_pid "$RUN_PID"
    # vsftpd's session processes die with their listener.
    [ -z "$SERVER_PID" ] || stop_pid "$SERVER_PID"
    [ -z "$POLICY_GUARD" ] || $SUDO rm -f "$POLICY_GUARD"
    [ -z "$WORK" ] || $SUDO rm -rf "$WORK"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# ---------------------------------------------------------------- packages

ensure_packages() {
    local -a needed=(vsftpd curl lftp ncftp coreutils procps time) missing=()
    local p
    for p in "${needed[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "transfer.sh: installing ${missing[*]}" >&2
    # Installing vsftpd would otherwise start a system-wide server on port 21.
    if [ ! -e /usr/sbin/policy-rc.d ]; then
        POLICY_GUARD=/usr/sbin/policy-rc.d
        printf '#!/bin/sh\nexit 101\n' | $SUDO tee "$POLICY_GUARD" >/dev/null
        $SUDO chmod 755 "$POLICY_GUARD"
    fi
    local log
    log=$(mktemp)
    if ! { $SUDO apt-get update -qq && $SUDO env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
        cat "$log" >&2
        rm -f "$log"
        die "could not install ${missing[*]}"
    fi
    rm -f "$log"
    if [ -n "$POLICY_GUARD" ]; then
        $SUDO rm -f "$POLICY_GUARD"
        POLICY_GUARD=""
    fi
}

# ---------------------------------------------------------------- ports

# Every local TCP port in any state, IPv4 and IPv6.
used_ports() {
    local file _ local_addr _rest
    for file in /proc/net/tcp /proc/net/tcp6; do
        [ -r "$file" ] || continue
        while read -r _ local_addr _rest; do
            [[ "$local_addr" == *:* ]] || continue
            echo $((16#${local_addr##*:}))
        done <"$file"
    done
}

# Ports are picked below the kernel's ephemeral range, so no outgoing connection takes them.
port_is_free() { ! grep -qx "$1" <<<"$USED_PORTS"; }

pick_ports() {
    local tries p ok
    USED_PORTS=$(used_ports)
    for ((tries = 0; tries < 100; tries++)); do
        CONTROL_PORT=$((20000 + RANDOM % 5000))
        port_is_free "$CONTROL_PORT" && break
    done
    for ((tries = 0; tries < 100; tries++)); do
        PASV_MIN=$((25000 + RANDOM % 7500))
        PASV_MAX=$((PASV_MIN + 31))
        ok=1
        for ((p = PASV_MIN; p <= PASV_MAX; p++)); do
            port_is_free "$p" || { ok=0; break; }
        done
        [ "$ok" -eq 1 ] && return 0
    done
    die "no free passive port range found"
}

# ---------------------------------------------------------------- server

# Anonymous login with upload rights: no system user, no PAM. The anonymous root must not be
# writable by the ftp user (vsftpd refuses it), so uploads go to per-client subdirectories.
write_server_config() {
    local ftp_user=ftp
    id -u ftp >/dev/null 2>&1 || ftp_user=nobody
    mkdir -p "$SRV/up" "$WORK/empty"
    local c
    for c in "${CLIENTS[@]}"; do mkdir -p "$SRV/up/$c"; done
    $SUDO chown "$ftp_user" "$SRV"/up/*
    chmod 755 "$WORK" "$SRV" "$SRV/up" "$WORK/empty"
    rm -f "$WORK/vsftpd.conf"
    cat >"$WORK/vsftpd.conf" <<EOF
listen=YES
listen_ipv6=NO
listen_address=$HOST
listen_port=$CONTROL_PORT
background=NO
seccomp_sandbox=NO
anonymous_enable=YES
local_enable=NO
ftp_username=$ftp_user
anon_root=$SRV
write_enable=YES
anon_upload_enable=YES
anon_mkdir_write_enable=YES
anon_umask=022
pasv_enable=YES
pasv_address=$HOST
pasv_min_port=$PASV_MIN
pasv_max_port=$PASV_MAX
port_enable=YES
connect_from_port_20=NO
secure_chroot_dir=$WORK/empty
dirmessage_enable=NO
xferlog_enable=YES
xferlog_std_format=NO
vsftpd_log_file=$WORK/vsftpd.log
EOF
    # vsftpd reads only a config file owned by the user it runs as.
    [ -z "$SUDO" ] || $SUDO chown root "$WORK/vsftpd.conf"
}

# Waits (bounded) for the 220 greeting; fails if the server died, e.g. its port was taken.
await_banner() {
    local i line
    for ((i = 0; i < 50; i++)); do
        kill -0 "$SERVER_PID" 2>/dev/null || return 1
        if { exec 3<>"/dev/tcp/$HOST/$CONTROL_PORT"; } 2>/dev/null; then
            line=""
            read -r -t 2 line <&3 || true
            exec 3>&-
            [[ "$line" == 220* ]] && return 0
        fi
        sleep 0.1
    done
    return 1
}

start_server() {
    local attempt
    for ((attempt = 0; attempt < 5; attempt++)); do
        pick_ports
        write_server_config
        $SUDO vsftpd "$WORK/vsftpd.conf" >"$WORK/vsftpd.out" 2>&1 &
        SERVER_PID=$!
        await_banner && return 0
        stop_pid "$SERVER_PID"
        SERVER_PID=""
    done
    cat "$WORK/vsftpd.out" >&2 || true
    die "vsftpd did not start"
}

# ---------------------------------------------------------------- one measured run

# Runs "$@" with a deadline, under GNU time for the peak RSS. Sets RUN_SECONDS, RUN_RSS_KB;
# returns the command's status. `timeout` leads its own process group, so a stopped run takes
# its client with it.
measured_run() {
    local log=$1 rss_file="$WORK/rss" start end status=0
    shift
    rm -f "$rss_file"
    start=$(date +%s.%N)
    HOME="$WORK/home" timeout -k 10 "$RUN_TIMEOUT" /usr/bin/time -f %M -o "$rss_file" "$@" \
        </dev/null >"$log" 2>&1 &
    RUN_PID=$!
    wait "$RUN_PID" || status=$?
    RUN_PID=""
    end=$(date +%s.%N)
    RUN_SECONDS=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.6f", e - s }')
    # On failure GNU time writes a "Command exited ..." line first; the figure is last.
    RUN_RSS_KB=$(tail -n 1 "$rss_file" 2>/dev/null || echo 0)
    [[ "$RUN_RSS_KB" =~ ^[0-9]+$ ]] || RUN_RSS_KB=0
    return "$status"
}

# The client command for one transfer, into the array CMD.
client_command() {
    local client=$1 direction=$2 dest=$3 url="ftp://$FTP_USER:$FTP_PASS@$HOST:$CONTROL_PORT"
    local lftp_open="set cmd:fail-exit yes; set ftp:ssl-allow no; set net:max-retries 1;"
    lftp_open+=" open -u $FTP_USER,$FTP_PASS -p $CONTROL_PORT $HOST"
    local ncftp_login=(-V -u "$FTP_USER" -p "$FTP_PASS" -P "$CONTROL_PORT" "$HOST")
    case "$client:$direction" in
    tarnwick:download) CMD=("${TARNWICK_ENV[@]}" "$CLI" --quiet get "$url/$PAYLOAD" "$dest") ;;
    tarnwick:upload) CMD=("${TARNWICK_ENV[@]}" "$CLI" --quiet put "$SOURCE" "$url/up/tarnwick/") ;;
    curl:download) CMD=(curl -sS -o "$dest/$PAYLOAD" "$url/$PAYLOAD") ;;
    curl:upload) CMD=(curl -sS -T "$SOURCE" "$url/up/curl/") ;;
    lftp:download) CMD=(lftp -c "$lftp_open; get /$PAYLOAD -o \"$dest/$PAYLOAD\"") ;;
    lftp:upload) CMD=(lftp -c "$lftp_open; put \"$SOURCE\" -o /up/lftp/$PAYLOAD") ;;
    ncftp:download) CMD=(ncftpget "${ncftp_login[@]}" "$dest" "/$PAYLOAD") ;;
    ncftp:upload) CMD=(ncftpput "${ncftp_login[@]}" /up/ncftp "$SOURCE") ;;
    esac
}

label() { [ "$1" = tarnwick ] && echo tarnwick-cli || echo "$1"; }

# One transfer by one client: run, time, check, record. A peer's failure ends the script;
# tarnwick-cli's non-zero exit only marks its row failed; wrong data from anyone is fatal at
# the end (tarnwick-cli) or at once (peers).
run_transfer() {
    local client=$1 direction=$2 key="$1:$2" dest="$WORK/dl/$1" result log status=0
    [ "${STATE[$key]}" = ok ] || return 0
    log="$WORK/log.$client.$direction"
    rm -rf "$dest" && mkdir -p "$dest"
    if [ "$client" = tarnwick ] && [ ! -x "$CLI" ]; then
        STATE[$key]=failed
        echo "  $(label "$client") $direction: failed ($CLI not found)"
        return 0
    fi
    client_command "$client" "$direction" "$dest"
    measured_run "$log" "${CMD[@]}" || status=$?
    if [ "$direction" = download ]; then result="$dest/$PAYLOAD"; else result="$SRV/up/$client/$PAYLOAD"; fi
    if [ "$status" -ne 0 ]; then
        echo "  $(label "$client") $direction: failed (exit $status)"
        tail -n 5 "$log" | sed 's/^/    /'
        [ "$client" = tarnwick ] || die "peer $client failed its $direction"
        STATE[$key]=failed
        return 0
    fi
    if ! check_result "$result"; then
        echo "  $(label "$client") $direction: WRONG DATA ($result: $CHECK_DETAIL)" >&2
        [ "$client" = tarnwick ] || die "peer $client delivered wrong data on $direction"
        STATE[$key]=corrupt
        return 0
    fi
    $SUDO rm -f "$result"
    RATES[$key]+=" $(awk -v b="$SIZE_BYTES" -v s="$RUN_SECONDS" 'BEGIN { printf "%.1f", b / s / 1048576 }')"
    if ((RUN_RSS_KB > PEAK_RSS[$key])); then PEAK_RSS[$key]=$RUN_RSS_KB; fi
    printf '  %-12s %-8s %8.2f s  %s MiB/s  %s KiB\n' "$(label "$client")" "$direction" \
        "$RUN_SECONDS" "${RATES[$key]##* }" "$RUN_RSS_KB"
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

median() {
    printf '%s\n' "$@" | sort -g |
        awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

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
    local client direction key rate rss
    echo
    echo "Transfer of $SIZE_MB MiB over loopback FTP (vsftpd), $ROUNDS round(s), median of rounds"
    printf '%-13s %-9s %12s %14s\n' client direction "MiB/s" "peak RSS MiB"
    for client in "${CLIENTS[@]}"; do
        for direction in "${DIRECTIONS[@]}"; do
            key="$client:$direction"
            if [ "${STATE[$key]}" != ok ]; then
                echo "$(label "$client"): ${STATE[$key]} ($direction)"
                continue
            fi
            # shellcheck disable=SC2086 # the rates are a space-separated list of numbers
            rate=$(median ${RATES[$key]})
            MEDIAN[$key]=$rate
            rss=$(awk -v k="${PEAK_RSS[$key]}" 'BEGIN { printf "%.1f", k / 1024 }')
            printf '%-13s %-9s %12s %14s\n' "$(label "$client")" "$direction" "$rate" "$rss"
        done
    done
    echo
    echo "tarnwick-cli / peer (median rate; above 1 is faster)"
    for client in "${CLIENTS[@]:1}"; do
        printf '  %-6s' "$client"
        for direction in "${DIRECTIONS[@]}"; do
            if [ "${STATE[tarnwick:$direction]}" = ok ]; then
                printf '  %s %s' "$direction" "$(awk -v t="${MEDIAN[tarnwick:$direction]}" \
                    -v p="${MEDIAN[$client:$direction]}" 'BEGIN { printf "%.2f", t / p }')"
            else
                printf '  %s n/a' "$direction"
            fi
        done
        echo
    done
    echo "loopback raw capacity: $(loopback_capacity)"
}

# ---------------------------------------------------------------- main

main() {
    ensure_packages
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench.XXXXXX")
    SRV="$WORK/srv"
    SOURCE="$SRV/$PAYLOAD"
    mkdir -p "$SRV" "$WORK/home" "$WORK/dl"

    local avail_kb
    avail_kb=$(df -Pk "$WORK" | awk 'NR == 2 { print $4 }')
    ((avail_kb / 1024 > SIZE_MB * 3 + 64)) || die "need $((SIZE_MB * 3)) MiB free in $WORK"

    SIZE_BYTES=$((SIZE_MB * 1048576))
    echo "creating $SIZE_MB MiB of random data"
    head -c "$SIZE_BYTES" /dev/urandom >"$SOURCE"
    chmod 644 "$SOURCE"
    EXPECTED_SHA=$(sha256sum <"$SOURCE" | cut -d' ' -f1)

    start_server
    echo "vsftpd on $HOST:$CONTROL_PORT (passive $PASV_MIN-$PASV_MAX), $(curl --version | head -n 1 | cut -d' ' -f1-2)," \
        "lftp $(lftp --version | head -n 1 | grep -o 'Version [^ ]*' | cut -d' ' -f2), ncftp $(ncftpget -v 2>&1 | grep -o '[0-9]\+\.[0-9.]\+' | head -n 1)"

    # One untimed download first, so the first timed run does not pay for cold caches.
    timeout "$RUN_TIMEOUT" curl -sS -o /dev/null \
        "ftp://$FTP_USER:$FTP_PASS@$HOST:$CONTROL_PORT/$PAYLOAD" || die "warm-up download failed"

    TARNWICK_ENV=(env "TARNWICK_HOME=$WORK/home")
    [ -z "$CHUNK" ] || TARNWICK_ENV+=("TARNWICK_DATA_CHUNK=$CHUNK")

    declare -gA STATE RATES PEAK_RSS MEDIAN
    local client direction round i n=${#CLIENTS[@]}
    for client in "${CLIENTS[@]}"; do
        for direction in "${DIRECTIONS[@]}"; do
            STATE[$client:$direction]=ok
            RATES[$client:$direction]=""
            PEAK_RSS[$client:$direction]=0
        done
    done

    for ((round = 0; round < ROUNDS; round++)); do
        echo "round $((round + 1))/$ROUNDS"
        for ((i = 0; i < n; i++)); do
            client=${CLIENTS[(i + round) % n]}
            for direction in "${DIRECTIONS[@]}"; do
                run_transfer "$client" "$direction"
            done
        done
    done

    print_report
    for direction in "${DIRECTIONS[@]}"; do
        [ "${STATE[tarnwick:$direction]}" != corrupt ] ||
            die "tarnwick-cli delivered wrong data on $direction (see above)"
    done
}

main
