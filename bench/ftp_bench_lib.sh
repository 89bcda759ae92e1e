# shellcheck shell=bash
# Shared pieces of the FTP benchmark scripts (transfer.sh, tree.sh): packages, a private
# vsftpd on free loopback ports, measured client runs, interleaved rounds and the report.
# Sourced, never run: scripts/bench skips it.
#
# Sourcing it installs the cleanup trap (stops the client run and vsftpd, removes WORK).
# The sourcing script sets, before calling into it:
#   CLIENTS      client names, tarnwick first (the others are the peers)
#   DIRECTIONS   download and/or upload
#   RUN_TIMEOUT  seconds one client run may take before it is killed
#   CLI          the tarnwick-cli to measure (see resolve_cli)
#   RATE_UNIT    what a rate counts per second, e.g. "MiB/s" or "files/s"
#   RUN_AMOUNT   how many of those units one run moves
#   WORK, SRV    (main, after ensure_packages) the temp dir and the server's root in it
# and defines these hooks:
#   client_supports CLIENT DIRECTION   succeeds when the client is run in that direction
#   client_command CLIENT DIRECTION DEST   sets the array CMD; DEST is an empty local dir
#   result_path CLIENT DIRECTION DEST      prints where the run left its result
#   check_result PATH    succeeds when the result is right, else sets CHECK_DETAIL
# Results live in the associative arrays STATE (ok, failed or corrupt), RATES (one rate per
# round, space-separated), PEAK_RSS (KiB) and MEDIAN, keyed "client:direction".

readonly FTP_USER=anonymous
readonly FTP_PASS=tarnwick-bench  # URL-safe: it goes into ftp:// URLs as is
readonly HOST=127.0.0.1

die() {
    echo "${0##*/}: $*" >&2
    exit 1
}

is_positive_int() { [[ "$1" =~ ^[1-9][0-9]*$ ]]; }

# The client under test: $TARNWICK_CLI when set (e.g. a build from another tree), else the
# one in BUILD_DIR.
resolve_cli() { CLI=${TARNWICK_CLI:-$1/src/cli/tarnwick-cli}; }

SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"

# ---------------------------------------------------------------- state and cleanup

WORK=""            # temp dir holding everything the script creates
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

# Creates WORK, SRV ($WORK/srv, the server's root) and the clients' HOME.
make_work_dir() {
    WORK=$(mktemp -d "${TMPDIR:-/tmp}/tarnwick-bench.XXXXXX")
    SRV="$WORK/srv"
    mkdir -p "$SRV" "$WORK/home" "$WORK/dl"
}

# Fails unless WORK's file system has MIB MiB free.
require_free_mib() {
    local avail_kb
    avail_kb=$(df -Pk "$WORK" | awk 'NR == 2 { print $4 }')
    ((avail_kb / 1024 > $1)) || die "need $1 MiB free in $WORK"
}

# ---------------------------------------------------------------- packages

# Installs whichever of vsftpd, the measuring tools and the given packages are missing.
ensure_packages() {
    local -a needed=(vsftpd coreutils procps time "$@") missing=()
    local p
    for p in "${needed[@]}"; do
        dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' ||
            missing+=("$p")
    done
    [ ${#missing[@]} -eq 0 ] && return 0
    echo "${0##*/}: installing ${missing[*]}" >&2
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

# "name version" of a peer, for the line that says what was measured.
peer_version() {
    case "$1" in
    curl) curl --version | head -n 1 | cut -d' ' -f1-2 ;;
    lftp) echo "lftp $(lftp --version | head -n 1 | grep -o 'Version [^ ]*' | cut -d' ' -f2)" ;;
    ncftp) echo "ncftp $(ncftpget -v 2>&1 | grep -o '[0-9]\+\.[0-9.]\+' | head -n 1)" ;;
    wget) echo "wget $(wget --version | head -n 1 | cut -d' ' -f3)" ;;
    esac
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

# Sets CONTROL_PORT and a passive range PASV_MIN..PASV_MAX of 32 free ports.
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
# writable by the ftp user (vsftpd refuses it), so uploads go to per-client subdirectories
# SRV/up/CLIENT.
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

# Starts vsftpd on SRV; stopped by the cleanup trap.
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

# ---------------------------------------------------------------- how each client logs in

ftp_url() { echo "ftp://$FTP_USER:$FTP_PASS@$HOST:$CONTROL_PORT"; }

# lftp commands that open the server: any error ends lftp with a non-zero status.
lftp_open() {
    echo "set cmd:fail-exit yes; set ftp:ssl-allow no; set net:max-retries 1;" \
        "open -u $FTP_USER,$FTP_PASS -p $CONTROL_PORT $HOST"
}

# Sets the array NCFTP_LOGIN: the options and host shared by ncftpget and ncftpput.
# shellcheck disable=SC2034 # used by the sourcing script
set_ncftp_login() { NCFTP_LOGIN=(-V -u "$FTP_USER" -p "$FTP_PASS" -P "$CONTROL_PORT" "$HOST"); }

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

label() { [ "$1" = tarnwick ] && echo tarnwick-cli || echo "$1"; }

# One run of one client: run, time, check, record, then remove the result. A peer's failure
# ends the script; tarnwick-cli's non-zero exit only marks its row failed; wrong data from
# anyone is fatal at the end (tarnwick-cli, see fail_on_corrupt) or at once (peers).
run_client() {
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
    result=$(result_path "$client" "$direction" "$dest")
    if [ "$status" -ne 0 ]; then
        echo "  $(label "$client") $direction: failed (exit $status)"
        tail -n 5 "$log" | sed 's/^/    /'
        [ "$client" = tarnwick ] || die "peer $client failed its $direction"
        STATE[$key]=failed
        $SUDO rm -rf "$result"
        return 0
    fi
    if ! check_result "$result"; then
        echo "  $(label "$client") $direction: WRONG DATA ($result: $CHECK_DETAIL)" >&2
        [ "$client" = tarnwick ] || die "peer $client delivered wrong data on $direction"
        STATE[$key]=corrupt
        return 0
    fi
    $SUDO rm -rf "$result"
    RATES[$key]+=" $(awk -v a="$RUN_AMOUNT" -v s="$RUN_SECONDS" 'BEGIN { printf "%.1f", a / s }')"
    if ((RUN_RSS_KB > PEAK_RSS[$key])); then PEAK_RSS[$key]=$RUN_RSS_KB; fi
    printf '  %-12s %-8s %8.2f s  %s %s  %s KiB\n' "$(label "$client")" "$direction" \
        "$RUN_SECONDS" "${RATES[$key]##* }" "$RATE_UNIT" "$RUN_RSS_KB"
}

# ROUNDS rounds; each runs every client in every direction it supports, the clients'
# order rotating by one each round so none always goes first.
run_rounds() {
    declare -gA STATE RATES PEAK_RSS MEDIAN
    local client direction round i n=${#CLIENTS[@]}
    for client in "${CLIENTS[@]}"; do
        for direction in "${DIRECTIONS[@]}"; do
            client_supports "$client" "$direction" || continue
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
                client_supports "$client" "$direction" || continue
                run_client "$client" "$direction"
            done
        done
    done
}

# ---------------------------------------------------------------- report

median() {
    printf '%s\n' "$@" | sort -g |
        awk '{ v[NR] = $1 } END { if (NR % 2) print v[(NR + 1) / 2]; else printf "%.1f\n", (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}

# The table of median rates and peak RSS per client and direction; fills MEDIAN.
print_rate_table() {
    local client direction key rate rss
    printf '%-13s %-9s %12s %14s\n' client direction "$RATE_UNIT" "peak RSS MiB"
    for client in "${CLIENTS[@]}"; do
        for direction in "${DIRECTIONS[@]}"; do
            client_supports "$client" "$direction" || continue
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
}

# tarnwick-cli's median rate over each peer's, per direction the peer was run in.
print_ratios() {
    local client direction
    echo "tarnwick-cli / peer (median rate; above 1 is faster)"
    for client in "${CLIENTS[@]:1}"; do
        printf '  %-6s' "$client"
        for direction in "${DIRECTIONS[@]}"; do
            client_supports "$client" "$direction" || continue
            if [ "${STATE[tarnwick:$direction]}" = ok ]; then
                printf '  %s %s' "$direction" "$(awk -v t="${MEDIAN[tarnwick:$direction]}" \
                    -v p="${MEDIAN[$client:$direction]}" 'BEGIN { printf "%.2f", t / p }')"
            else
                printf '  %s n/a' "$direction"
            fi
        done
        echo
    done
}

# Wrong data from tarnwick-cli fails the script, after the report was printed.
fail_on_corrupt() {
    local direction
    for direction in "${DIRECTIONS[@]}"; do
        [ "${STATE[tarnwick:$direction]:-}" != corrupt ] ||
            die "tarnwick-cli delivered wrong data on $direction (see above)"
    done
}
