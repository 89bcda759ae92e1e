#!/usr/bin/env bash
# Recursive-transfer benchmark: tarnwick-cli against lftp, wget and ncftp, all downloading
# and uploading one tree of many small files through the same local vsftpd on 127.0.0.1,
# each over one control connection.
#
#   bash bench/tree.sh BUILD_DIR      (scripts/bench passes its release build directory)
#
# Environment:
#   TREE_FILES     files in the tree (default 2000), 1 to 64 KiB each, spread over 40
#                  directories: 8 at the top, each holding 4 more
#   ROUNDS         interleaved rounds (default 3); each round runs every client once
#   TREE_TIMEOUT   seconds one client run may take before it is killed (default 900)
#   TARNWICK_CLI   the tarnwick-cli to measure (default BUILD_DIR/src/cli/tarnwick-cli)
#
# The tree's content comes from a fixed seed, so every run moves the same bytes. Every
# transferred tree is checked against the sha256 manifest of the source: a file missing,
# extra or different fails the script, whoever delivered it (tarnwick-cli after the report).
# A peer that exits non-zero fails the script; a tarnwick-cli that is missing or exits
# non-zero is only reported ("tarnwick-cli: failed"): its recursive commands are still being
# built. wget only downloads. Rates are files per second, the median of the rounds.
# Not part of the tests: it needs root (or sudo) for vsftpd and may install Debian packages.
set -euo pipefail

readonly USAGE="usage: bash bench/tree.sh BUILD_DIR"
readonly CLIENTS=(tarnwick lftp wget ncftp)
readonly DIRECTIONS=(download upload)
readonly TREE=tree  # the tree's name in the server's root and in every client's result
readonly TOP_DIRS=8
readonly SUBDIRS_EACH=4
readonly TREE_SEED=20240601
readonly RATE_UNIT="files/s"

# shellcheck source=bench/ftp_bench_lib.sh
source "$(dirname "${BASH_SOURCE[0]}")/ftp_bench_lib.sh"

[ $# -eq 1 ] || die "$USAGE"
resolve_cli "$1"
TREE_FILES=${TREE_FILES:-2000}
ROUNDS=${ROUNDS:-3}
RUN_TIMEOUT=${TREE_TIMEOUT:-900}
is_positive_int "$TREE_FILES" || die "TREE_FILES must be a positive integer"
is_positive_int "$ROUNDS" || die "ROUNDS must be a positive integer"
is_positive_int "$RUN_TIMEOUT" || die "TREE_TIMEOUT must be a positive integer"
RUN_AMOUNT=$TREE_FILES

# ---------------------------------------------------------------- the tree

# Writes the tree into DIR: files dealt round-robin over the directories, sizes and bytes
# drawn from TREE_SEED.
generate_tree() {
    /usr/bin/python3 - "$1" "$TREE_FILES" "$TOP_DIRS" "$SUBDIRS_EACH" "$TREE_SEED" <<'EOF'
import os, random, sys
root, files, tops, subs, seed = sys.argv[1], *map(int, sys.argv[2:])
dirs = []
for t in range(1, tops + 1):
    dirs.append(f"dir{t:02d}")
    dirs += [f"dir{t:02d}/sub{s:02d}" for s in range(1, subs + 1)]
for d in dirs:
    os.makedirs(os.path.join(root, d))
rng = random.Random(seed)
for i in range(files):
    size = rng.randint(1024, 64 * 1024)
    with open(os.path.join(root, dirs[i % len(dirs)], f"file{i + 1:05d}.bin"), "wb") as f:
        f.write(rng.randbytes(size))
EOF
}

# Prints "sha256  ./path" for every regular file below DIR, sorted by path.
tree_manifest() {
    (cd "$1" && find . -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum)
}

# ---------------------------------------------------------------- the clients

client_supports() { [ "$1:$2" != wget:upload ]; }

# The client command for one run, into the array CMD. Downloads land in DEST/tree, uploads
# in the server's up/CLIENT/tree.
client_command() {
    local client=$1 direction=$2 dest=$3 url lftp
    url=$(ftp_url)
    # One connection, as for every client: lftp's default, stated so that it stays so.
    lftp="set net:connection-limit 1; $(lftp_open)"
    set_ncftp_login
    case "$client:$direction" in
    tarnwick:download) CMD=("${TARNWICK_ENV[@]}" "$CLI" --quiet get "$url/$TREE/" "$dest") ;;
    tarnwick:upload) CMD=("${TARNWICK_ENV[@]}" "$CLI" --quiet put "$SOURCE" "$url/up/tarnwick/") ;;
    lftp:download) CMD=(lftp -c "$lftp; mirror --parallel=1 /$TREE \"$dest/$TREE\"") ;;
    lftp:upload) CMD=(lftp -c "$lftp; mirror -R --parallel=1 \"$SOURCE\" /up/lftp/$TREE") ;;
    wget:download) CMD=(wget -q -r -l inf -nH -P "$dest" "$url/$TREE/") ;;
    ncftp:download) CMD=(ncftpget -R "${NCFTP_LOGIN[@]}" "$dest" "/$TREE") ;;
    ncftp:upload) CMD=(ncftpput -R "${NCFTP_LOGIN[@]}" /up/ncftp "$SOURCE") ;;
    esac
}

result_path() {
    if [ "$2" = download ]; then echo "$3/$TREE"; else echo "$SRV/up/$1/$TREE"; fi
}

# The result holds exactly the manifest's files with the manifest's sums.
check_result() {
    local wrong
    if [ ! -d "$1" ]; then
        CHECK_DETAIL="missing"
        return 1
    fi
    # The paths on either side of a difference: missing, extra or different files.
    wrong=$(diff <(tree_manifest "$1") "$WORK/manifest" |
        sed -n 's/^[<>] [0-9a-f]*  //p' | LC_ALL=C sort -u) || true
    [ -z "$wrong" ] && return 0
    CHECK_DETAIL="$(wc -l <<<"$wrong") file(s) missing, extra or different, e.g. $(head -n 1 <<<"$wrong")"
    return 1
}

# ---------------------------------------------------------------- main

main() {
    ensure_packages lftp wget ncftp python3
    make_work_dir
    SOURCE="$SRV/$TREE"

    echo "creating $TREE_FILES files in $((TOP_DIRS * (1 + SUBDIRS_EACH))) directories"
    generate_tree "$SOURCE"
    chmod -R a+rX "$SOURCE"
    tree_manifest "$SOURCE" >"$WORK/manifest"
    local tree_mib
    tree_mib=$(find "$SOURCE" -type f -printf '%s\n' | awk '{ n += $1 } END { printf "%.1f", n / 1048576 }')
    require_free_mib $((${tree_mib%.*} * 3 + 64))

    start_server
    echo "vsftpd on $HOST:$CONTROL_PORT (passive $PASV_MIN-$PASV_MAX)," \
        "$(peer_version lftp), $(peer_version wget), $(peer_version ncftp)"

    TARNWICK_ENV=(env "TARNWICK_HOME=$WORK/home")
    run_rounds

    echo
    echo "Tree of $TREE_FILES files ($tree_mib MiB) over loopback FTP (vsftpd)," \
        "one connection each, $ROUNDS round(s), median of rounds"
    print_rate_table
    echo
    print_ratios
    fail_on_corrupt
}

main
