# Shared by the benchmarks (sourced, not run): where the program is, how a
# request is started, how commands are timed and how a figure is printed.
#
# A benchmark prints ratios against a reference timed in the same run and
# never judges them: it fails only when a tool is missing or a command does
# not answer as expected. hyperfine times whole commands without a shell in
# between (-N); ratios come from the mean times.

BENCH_DIR=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
REPO_DIR=$(dirname "$BENCH_DIR")
. "$REPO_DIR/scripts/lib-servers.sh"
# Another build (a different linking, say) is measured by naming it here.
PROGRAM=${PLUGIN_FILES:-$REPO_DIR/build/plugin_files}
WARMUP=${BENCH_WARMUP:-10}

die() {
    echo "bench: $*" >&2
    exit 1
}

# A missing tool is installed from its Debian package when we are allowed to;
# otherwise the benchmark stops and says what to install.
need_tools() { # tool:package...
    srv_ensure "$@" || die "missing tools: $*"
}

bench_setup() {
    need_tools hyperfine:hyperfine node:nodejs
    [ -x "$PROGRAM" ] || die "no program at $PROGRAM: build it first (cmake -S . -B build -G Ninja && cmake --build build)"
    BENCH_TMP=$(mktemp -d)
    trap 'rm -rf "$BENCH_TMP"' EXIT
    # The allowed roots of every request; a benchmark may replace them.
    BENCH_ROOTS=$BENCH_TMP
}

# Runs a command as a web server starts the program: an empty environment
# but for the request's query, the allowed roots, the node's password when
# BENCH_PASSWORD is set, and the settings (NAME=VALUE) in BENCH_SETTINGS.
BENCH_SETTINGS=()
cgi_env() { # query command [args...]
    local password=()
    [ -n "${BENCH_PASSWORD:-}" ] && password=(KIV_PASSWORD="$BENCH_PASSWORD")
    env -i PATH="$PATH" QUERY_STRING="$1" FILES_ALLOWED_ROOT="$BENCH_ROOTS" "${password[@]}" "${BENCH_SETTINGS[@]}" "${@:2}"
}

# Stops the benchmark unless the request's answer holds the text: a figure
# of a request that went wrong would measure the wrong thing.
expect_answer() { # query text
    cgi_env "$1" "$PROGRAM" </dev/null >"$BENCH_TMP/answer" || die "request $1 failed"
    grep -qF -- "$2" "$BENCH_TMP/answer" || die "request $1 did not answer with $2"
}

# Times each command under the request's environment and leaves, in the
# order given, one time per command in the array TIMES: its mean wall-clock
# time and its mean processor time (user and system) in seconds, as "wall
# cpu". The commands are timed in ROUNDS rounds, each timing all of them in
# turn, and each figure is the median of its rounds: a stretch of load from
# elsewhere on the machine lands in one round of one command, not in the
# ratio. HYPERFINE_ARGS adds options of hyperfine's own (a --prepare, say).
ROUNDS=${BENCH_ROUNDS:-3}
HYPERFINE_ARGS=()
time_cmds() { # query command...
    local round
    for ((round = 0; round < ROUNDS; round++)); do
        # Its warnings about outliers are noise here; they are shown when it fails.
        cgi_env "$1" hyperfine -N --style none --warmup "$WARMUP" "${HYPERFINE_ARGS[@]}" \
            --export-json "$BENCH_TMP/round$round.json" "${@:2}" \
            >"$BENCH_TMP/hyperfine.log" 2>&1 || {
            cat "$BENCH_TMP/hyperfine.log" >&2
            die "hyperfine failed on: ${*:2}"
        }
    done
    mapfile -t TIMES < <(node -e '
        const rounds = process.argv.slice(1).map((f) => JSON.parse(require("fs").readFileSync(f, "utf8")).results);
        const median = (xs) => xs.sort((a, b) => a - b)[Math.floor(xs.length / 2)];
        rounds[0].forEach((_, i) => console.log(median(rounds.map((r) => r[i].mean)),
            median(rounds.map((r) => r[i].user + r[i].system))));' "$BENCH_TMP"/round?.json)
    rm -f "$BENCH_TMP"/round?.json
}

# One line per figure: the name, the ratio of the mean wall-clock times, the
# target ("" for none), both means, and, when both sides have one, the ratio
# of processor times, which a machine busy with other work disturbs less.
ratio_line() { # name times reference-times target
    awk -v n="$1" -v m="$2" -v r="$3" -v t="$4" 'BEGIN {
        split(m, a, " "); split(r, b, " ")
        t = t == "" ? "no target" : "target " t
        printf "%-36s %8.2fx    %-20s  %.3f ms vs %.3f ms", n, a[1] / b[1], "(" t ")", a[1] * 1000, b[1] * 1000
        if (a[2] != "" && b[2] != "") printf ", cpu %.2fx", a[2] / b[2]
        printf "\n" }'
}

value_line() { # name value-with-unit target
    printf '%-36s %9s    (target %s)\n' "$1" "$2" "$3"
}

# Maximum resident set of a request, the largest of three runs, after
# checking the request's answer; the target is 16 MiB unless one is given.
rss_line() { # name query answer [target]
    expect_answer "$2" "$3"
    value_line "peak RSS $1" "$(awk -v k="$(peak_rss_kib "$2")" 'BEGIN { printf "%.1f MiB", k / 1024 }')" "${4:-<= 16 MiB}"
}

peak_rss_kib() { # query
    local max=0 kib
    for _ in 1 2 3; do
        cgi_env "$1" /usr/bin/time -f %M -o "$BENCH_TMP/rss" "$PROGRAM" </dev/null >/dev/null ||
            die "request $1 failed"
        kib=$(tail -n 1 "$BENCH_TMP/rss")
        [ "$kib" -gt "$max" ] && max=$kib
    done
    echo "$max"
}
