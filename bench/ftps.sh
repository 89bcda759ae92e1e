#!/usr/bin/env bash
# FTPS benchmark: tarnwick-cli over explicit TLS against peers, through a local vsftpd on
# 127.0.0.1 with ssl_enable=YES and a certificate made by openssl for the run.
#   (a) one big file down and up: tarnwick-cli (TLS) vs curl --ssl-reqd, with tarnwick-cli
#       over plain FTP beside them (the same server allows both);
#   (b) a directory of small files downloaded as a tree: tarnwick-cli vs lftp (mirror,
#       ftp:ssl-force), both against vsftpd's default require_ssl_reuse=YES;
#   (c) the same tree: tarnwick-cli vs Python's ftplib.FTP_TLS, which never resumes the TLS
#       session on a data connection, so this pair runs against a second vsftpd with
#       require_ssl_reuse=NO.
# The clients of a pair run in turn, A B A B; every run's result is compared with the
# server's files (cmp, diff -r); wrong data from anyone fails the script. Reported per pair:
# name, input, tarnwick-cli's median rate, the peer's, and the ratio (above 1: faster).
#
#   bash bench/ftps.sh BUILD_DIR
#
# Environment:
#   FTPS_SIZE_MB   size of the big file in MiB (default 1024)
#   FTPS_FILES     files in the tree (default 2000), FTPS_FILE_KB KiB each (default 4)
#   ROUNDS         rounds per pair (default 3)
#   TARNWICK_CLI   the tarnwick-cli to measure (default BUILD_DIR/src/cli/tarnwick-cli)
# Needs root (or sudo) for vsftpd; installs vsftpd, curl, lftp and python3 when missing.
set -euo pipefail

readonly CLIENTS=(tarnwick plain curl lftp ftplib)  # each has its upload directory
readonly PAYLOAD=payload.bin
readonly DIR=many

# shellcheck source=bench/ftp_bench_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/ftp_bench_lib.sh"

[ $# -eq 1 ] || die "usage: bash bench/ftps.sh BUILD_DIR"
resolve_cli "$1"
SIZE_MB=${FTPS_SIZE_MB:-1024}
FILES=${FTPS_FILES:-2000}
FILE_KB=${FTPS_FILE_KB:-4}
ROUNDS=${ROUNDS:-3}
RUN_TIMEOUT=900
for v in "$SIZE_MB" "$FILES" "$FILE_KB" "$ROUNDS"; do
    is_positive_int "$v" || die "sizes and ROUNDS must be positive integers"
done
SSL_REUSE=YES

# The library's server, with TLS allowed (not forced: the plain run shares it).
eval "$(declare -f write_server_config | sed '1s/write_server_config/plain_server_config/')"
write_server_config() {
    plain_server_config
    cat >>"$WORK/vsftpd.conf" <<EOF
ssl_enable=YES
allow_anon_ssl=YES
force_anon_logins_ssl=NO
force_anon_data_ssl=NO
require_ssl_reuse=$SSL_REUSE
ssl_ciphers=HIGH
rsa_cert_file=$WORK/cert.pem
rsa_private_key_file=$WORK/cert.pem
EOF
}

make_certificate() {
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj /CN=localhost \
        -addext subjectAltName=IP:127.0.0.1 -keyout "$WORK/key.pem" -out "$WORK/crt.pem" \
        >/dev/null 2>&1 || die "openssl could not make a certificate"
    cat "$WORK/key.pem" "$WORK/crt.pem" >"$WORK/cert.pem"
    chmod 600 "$WORK/cert.pem"
}

# ---------------------------------------------------------------- the clients

url() { echo "$1://$FTP_USER:$FTP_PASS@$HOST:$CONTROL_PORT$2"; }
TW=()  # tarnwick-cli with its own home

# command CLIENT JOB DEST: sets CMD. JOB is down, up or tree.
command_for() {
    local client=$1 job=$2 dest=$3
    local lftp_open="set cmd:fail-exit yes; set net:max-retries 1; set ftp:ssl-force true;
        set ftp:ssl-protect-data true; set ssl:verify-certificate no;
        open -u $FTP_USER,$FTP_PASS -p $CONTROL_PORT $HOST"
    case "$client:$job" in
    tarnwick:down) CMD=("${TW[@]}" get "$(url ftpes "/$PAYLOAD")" "$dest") ;;
    tarnwick:up) CMD=("${TW[@]}" put "$SRV/$PAYLOAD" "$(url ftpes /up/tarnwick/)") ;;
    tarnwick:tree) CMD=("${TW[@]}" get "$(url ftpes "/$DIR/")" "$dest") ;;
    plain:down) CMD=("${TW[@]}" get "$(url ftp "/$PAYLOAD")" "$dest") ;;
    plain:up) CMD=("${TW[@]}" put "$SRV/$PAYLOAD" "$(url ftp /up/plain/)") ;;
    curl:down) CMD=(curl -sS -k --ssl-reqd -o "$dest/$PAYLOAD" "$(url ftp "/$PAYLOAD")") ;;
    curl:up) CMD=(curl -sS -k --ssl-reqd -T "$SRV/$PAYLOAD" "$(url ftp /up/curl/)") ;;
    lftp:tree) CMD=(lftp -c "$lftp_open; mirror /$DIR \"$dest/$DIR\"") ;;
    ftplib:tree) CMD=(python3 -c "$FTPLIB_TREE" "$HOST" "$CONTROL_PORT" "$DIR" "$dest/$DIR") ;;
    esac
}

# Downloads every file of one directory, each over a new TLS data connection (no resume).
readonly FTPLIB_TREE='
import ftplib, os, ssl, sys
host, port, folder, dest = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
context = ssl.create_default_context(); context.check_hostname = False
context.verify_mode = ssl.CERT_NONE
ftp = ftplib.FTP_TLS(context=context); ftp.connect(host, port, timeout=60)
ftp.login("anonymous", "tarnwick-bench"); ftp.prot_p(); ftp.cwd("/" + folder)
os.makedirs(dest, exist_ok=True)
for name in ftp.nlst():
    with open(os.path.join(dest, name), "wb") as out:
        ftp.retrbinary("RETR " + name, out.write)
ftp.quit()'

# check JOB CLIENT DEST: the result equals the server's source.
check() {
    case "$1" in
    down) cmp -s "$SRV/$PAYLOAD" "$3/$PAYLOAD" ;;
    up) cmp -s "$SRV/$PAYLOAD" "$SRV/up/$2/$PAYLOAD" ;;
    tree) diff -rq "$SRV/$DIR" "$3/$DIR" >/dev/null ;;
    esac
}

# ---------------------------------------------------------------- pairs

REPORT=()

# pair NAME INPUT JOB UNIT AMOUNT CLIENT...: ROUNDS rounds, each client once in order; the
# first client's median against every other's.
pair() {
    local name=$1 input=$2 job=$3 unit=$4 amount=$5 round client dest
    shift 5
    declare -A rates=()
    echo "$name ($input)"
    for ((round = 0; round < ROUNDS; round++)); do
        for client in "$@"; do
            dest="$WORK/dl/$client"
            rm -rf "$dest" "$SRV/up/$client/$PAYLOAD" && mkdir -p "$dest"
            command_for "$client" "$job" "$dest"
            measured_run "$WORK/log" "${CMD[@]}" ||
                { tail -n 5 "$WORK/log" >&2; die "$client failed: $name"; }
            check "$job" "$client" "$dest" || die "$client delivered wrong data: $name"
            rm -rf "$dest" "$SRV/up/$client/$PAYLOAD"
            rates[$client]+=" $(awk -v a="$amount" -v s="$RUN_SECONDS" 'BEGIN { printf "%.1f", a / s }')"
            printf '  %-8s %8.2f s  %s %s\n' "$client" "$RUN_SECONDS" "${rates[$client]##* }" "$unit"
        done
    done
    local mine peer
    # shellcheck disable=SC2086 # space-separated numbers
    mine=$(median ${rates[$1]})
    for client in "${@:2}"; do
        # shellcheck disable=SC2086
        peer=$(median ${rates[$client]})
        REPORT+=("$(printf '%-20s %-22s %14s %-7s %10s %6s' "$name" "$input" "$mine $unit" \
            "$client" "$peer" "$(awk -v t="$mine" -v p="$peer" 'BEGIN { printf "%.2f", t / p }')")")
    done
}

print_report() {
    echo
    echo "median of $ROUNDS round(s), whole process; ratio = tarnwick-cli / peer (above 1: faster)"
    printf '%-20s %-22s %14s %-7s %10s %6s\n' name input tarnwick peer "peer's" ratio
    printf '%s\n' "${REPORT[@]}"
}

# ---------------------------------------------------------------- main

main() {
    ensure_packages curl lftp python3 openssl
    if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
    make_work_dir
    require_free_mib $((SIZE_MB * 3 + 64))
    make_certificate
    head -c "$((SIZE_MB * 1048576))" /dev/urandom >"$SRV/$PAYLOAD"
    mkdir -p "$SRV/$DIR"
    (cd "$SRV/$DIR" && for name in $(seq -f 'file%06g.dat' 1 "$FILES"); do
        head -c "$((FILE_KB * 1024))" /dev/urandom >"$name"
    done)
    chmod -R a+rX "$SRV"
    TW=("$CLI" --quiet --insecure --home "$WORK/cli-home")
    mkdir -p "$WORK/cli-home"

    start_server
    echo "vsftpd (require_ssl_reuse=YES) on $HOST:$CONTROL_PORT, $(peer_version curl), $(peer_version lftp)"
    pair "download" "$SIZE_MB MiB file" down MiB/s "$SIZE_MB" tarnwick curl plain
    pair "upload" "$SIZE_MB MiB file" up MiB/s "$SIZE_MB" tarnwick curl plain
    pair "tree download" "$FILES files of $FILE_KB KiB" tree files/s "$FILES" tarnwick lftp
    stop_pid "$SERVER_PID"
    SERVER_PID=""

    SSL_REUSE=NO
    start_server
    echo "vsftpd (require_ssl_reuse=NO) on $HOST:$CONTROL_PORT, python3 ftplib.FTP_TLS"
    pair "tree, no-reuse peer" "$FILES files of $FILE_KB KiB" tree files/s "$FILES" tarnwick ftplib
    print_report
}

main
