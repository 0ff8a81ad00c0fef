# Shared pieces of the benchmark scripts (sourced; bash). Each script sets STOP_TIMEOUT and
# START_TIMEOUT and keeps its pids in variables of its own.

stop_pid() {  # stop_pid PID: SIGTERM, wait a bounded time, then SIGKILL
    local pid=$1 i
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    kill -TERM "$pid" 2>/dev/null
    for ((i = 0; i < STOP_TIMEOUT * 10; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$pid" 2>/dev/null && kill -KILL "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
    return 0
}

# Starts `BIN service=1` on the settings DIR/postvane.start and waits for its READY=1; sets
# spooler_pid (and notify_pid while it waits).
start_spooler() {  # start_spooler DIR BIN HELPER
    local dir=$1 bin=$2 helper=$3 i
    python3 "$helper" notify "$dir/notify" "$START_TIMEOUT" &
    notify_pid=$!
    for ((i = 0; i < 100; i++)); do [ -S "$dir/notify" ] && break; sleep 0.02; done
    [ -S "$dir/notify" ] || die "notify socket did not appear"
    env NOTIFY_SOCKET="$dir/notify" POSTVANE_SETTINGS="$dir/postvane.start" \
        POSTVANE_HOME="$dir/home" POSTVANE_RUNTIME_DIR="$dir/run" \
        XDG_CONFIG_HOME="$dir/home" XDG_DATA_HOME="$dir/home" \
        "$bin" service=1 </dev/null >"$dir/spooler.log" 2>&1 &
    spooler_pid=$!
    wait "$notify_pid" || { tail -n 20 "$dir/spooler.log" >&2; die "no READY=1 from the spooler"; }
    notify_pid=
}

cpu_seconds() {  # cpu_seconds PID: utime + stime of every thread
    local stat rest
    stat=$(<"/proc/$1/stat") || return 1
    rest=${stat##*) }
    # shellcheck disable=SC2086
    set -- $rest
    awk -v u="${12}" -v s="${13}" -v t="$(getconf CLK_TCK)" 'BEGIN { printf "%.2f", (u + s) / t }'
}

peak_rss_mb() {  # peak_rss_mb PID: VmHWM
    awk '/^VmHWM:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/status"
}

pss_mb() {  # pss_mb PID: the proportional set size now (shared pages divided among users)
    awk '/^Pss:/ { printf "%.1f", $2 / 1024 }' "/proc/$1/smaps_rollup"
}

median() {
    sort -g | awk '{ v[NR] = $1 }
        END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
