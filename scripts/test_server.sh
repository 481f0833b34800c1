# Sourced: start_test_server BINARY LOG ARGS... starts the generated-group
# news server on a free port of 127.0.0.1 and sets $port and $server_pid.
# Pointwind stores ports up to 32767, so the port is a free one below that.
start_test_server() {
    local binary="$1" log="$2"
    shift 2
    server_pid=""
    for _ in $(seq 1 50); do
        port=$((10000 + RANDOM % 22768))
        "$binary" --port "$port" "$@" >"$log" 2>&1 &
        server_pid=$!
        for _ in $(seq 1 50); do
            grep -q '^Serving' "$log" 2>/dev/null && break
            kill -0 "$server_pid" 2>/dev/null || break
            sleep 0.1
        done
        grep -q '^Serving' "$log" && return 0
        wait "$server_pid" 2>/dev/null || true
        server_pid=""
    done
    echo "the test news server could not start" >&2
    return 1
}
