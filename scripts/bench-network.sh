#!/usr/bin/env bash
# The network mode end to end: an application sends through the library,
# the simulated driver and the bus daemon to a native receiver, all on
# loopback.
#   scripts/bench-network.sh [--no-build]
# (scripts/bench.sh runs it after installing what the builds need; alone, run
# scripts/install-deps.sh first.)
# Measures, for the application under Wine (morvantis.dll: the shipped
# 32-bit build where this machine can run 32-bit code, the 64-bit build
# otherwise) and natively (libmorvantis.so):
#   throughput  1,000,000 frames (MORVANTIS_NET_FLOOD) as fast as the send queue takes them (a refused
#               send is retried and counted); frames a second at the
#               receiver from its first frame to its last, and the frames
#               lost or out of order;
#   latency     10,000 frames a second for 2 s, each carrying its send time
#               on the host's wall clock; one-way p50, p99 and max at the
#               receiver;
#   send call   CAN_Send_Msg in batches of 100 with a 1 ms pause after
#               each: median ns per call over the batches timed whole,
#               p99, p99.9 and max of the calls timed one by one (every
#               other batch); the same figures for the calls of the latency
#               run (natively, each wakes the network thread) and
#               of the throughput run (refused calls included).
# Then one table with both side by side. The daemon listens on a free
# loopback port; every run is bounded in time, and nothing is left running.
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
cd "$root"
jobs=2 # the machine's two cores are shared

flood_count=${MORVANTIS_NET_FLOOD:-1000000}
daemon_queue=$((flood_count > 65536 ? flood_count : 65536))
paced_rate=10000
paced_count=$((paced_rate * 2))
cost_count=20000

if scripts/can-run-32bit; then
    windows_build=build/win-i686
    toolchain=cmake/mingw-i686.cmake
    prefix=$root/build/wineprefix32
else
    windows_build=build/win-x86_64
    toolchain=cmake/mingw-x86_64.cmake
    prefix=$root/build/wineprefix64
fi
if [ "${1:-}" != --no-build ]; then
    cmake -S . -B build/bench -DCMAKE_BUILD_TYPE=Release -DCMAKE_CXX_FLAGS_RELEASE="-O2 -DNDEBUG" \
          -DMORVANTIS_SANITIZE=OFF -DMORVANTIS_BENCHMARK=ON >/dev/null
    cmake --build build/bench -j"$jobs" --target morvantis-bus net-sender net-receiver >/dev/null
    cmake -S . -B "$windows_build" -DCMAKE_TOOLCHAIN_FILE="$root/$toolchain" >/dev/null
    cmake --build "$windows_build" -j"$jobs" --target net-sender >/dev/null
fi
native_sender=$root/build/bench/bench/net-sender
wine_sender=$root/$windows_build/net-sender.exe
receiver=$root/build/bench/bench/net-receiver

work=$(mktemp -d)
daemon=
reader=
cleanup() {
    [ -n "$reader" ] && kill "$reader" 2>/dev/null && wait "$reader" 2>/dev/null
    [ -n "$daemon" ] && kill "$daemon" 2>/dev/null && wait "$daemon" 2>/dev/null
    WINEPREFIX=$prefix wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# Each node's queue in the daemon holds a whole run, so that a receiver
# that falls behind for a moment (the machine is shared) loses nothing.
build/bench/bus/morvantis-bus serve --listen 127.0.0.1:0 --queue "$daemon_queue" >"$work/daemon.out" 2>"$work/daemon.err" &
daemon=$!
for _ in $(seq 100); do
    [ -s "$work/daemon.out" ] && break
    sleep 0.05
done
listening=$(head -n 1 "$work/daemon.out")
port=${listening##*:}
[ -n "$port" ] || { echo "bench-network: the daemon did not start" >&2; exit 1; }

# run NAME SENDER MODE COUNT [RATE]: one receiver and one sender on bus
# NAME; leaves their result lines in $work/NAME.send and $work/NAME.receive.
run() {
    local name=$1 sender=$2 mode=$3 count=$4
    shift 4
    local stamped=()
    [ "$mode" = paced ] && stamped=(--stamped)
    "$receiver" "127.0.0.1:$port" "$name" "$count" "${stamped[@]}" >"$work/$name.receive" &
    reader=$!
    # The sender starts once the receiver is on the bus.
    for _ in $(seq 200); do
        grep -qx ready "$work/$name.receive" && break
        sleep 0.05
    done
    grep -qx ready "$work/$name.receive" || { echo "bench-network: no receiver" >&2; exit 1; }
    # In an empty directory, so that the library runs on its default
    # settings.
    mkdir -p "$work/$name"
    (cd "$work/$name" && MORVANTIS_BUS=127.0.0.1:$port/$name timeout 120 \
        "${@}" "$sender" "$mode" "$count" ${rate:+"$rate"} | tr -d '\r' >"$work/$name.send")
    wait "$reader"
    reader=
    sed -i '/^ready$/d' "$work/$name.receive"
}

for side in wine native; do
    if [ "$side" = wine ]; then
        sender=$wine_sender
        launcher=("$root/scripts/wine-run")
    else
        sender=$native_sender
        launcher=()
    fi
    rate= run "$side-flood" "$sender" flood "$flood_count" "${launcher[@]}"
    rate=$paced_rate run "$side-paced" "$sender" paced "$paced_count" "${launcher[@]}"
    rate= run "$side-cost" "$sender" cost "$cost_count" "${launcher[@]}"
    if [ "$side" = wine ]; then
        WINEPREFIX=$prefix wineserver -w
    fi
done

# field FILE WORD: the value after WORD in the result line.
field() {
    awk -v word="$2" '{ for (i = 1; i < NF; ++i) if ($i == word) { print $(i + 1); exit } }' "$1"
}
# The result lines, then the table.
for f in "$work"/*.send "$work"/*.receive; do
    printf '%-22s %s\n' "$(basename "$f")" "$(cat "$f")"
done
echo
row() { printf '| %-47s | %-31s | %-31s | %-24s |\n' "$@"; }
row measure "Wine: morvantis.dll" "native: libmorvantis.so" goal
row "---" "---" "---" "---"
cell_rate() {
    printf '%s/s, lost %s' "$(field "$work/$1-flood.receive" rate)" \
        "$(($(field "$work/$1-flood.receive" lost) + $(field "$work/$1-flood.receive" disorder)))"
}
row "throughput, $flood_count frames (frames/s, lost)" "$(cell_rate wine)" "$(cell_rate native)" \
    ">= 200000 Wine, 500000 native; 0 lost"
cell_retries() { field "$work/$1-flood.send" retries; }
cell_lost() {
    local total=0 f
    for f in "$work/$1"-*.receive; do
        total=$((total + $(field "$f" lost) + $(field "$f" disorder)))
    done
    echo "$total"
}
row "  sends refused by the full queue (retried)" "$(cell_retries wine)" "$(cell_retries native)" ""
cell_latency() {
    local f=$work/$1-paced.receive
    printf '%s / %s / %s' "$(field "$f" p50)" "$(field "$f" p99)" "$(field "$f" max)"
}
row "  lost or out of order, all three runs" "$(cell_lost wine)" "$(cell_lost native)" "0"
row "latency at $paced_rate/s, us (p50 / p99 / max)" "$(cell_latency wine)" \
    "$(cell_latency native)" "measured"
cell_call() {
    local f=$work/$1.send
    if [ "${1#*-}" = cost ]; then
        printf '%s / ' "$(field "$f" batch_ns)"
    else
        printf '%s / ' "$(field "$f" p50)"
    fi
    printf '%s / %s / %s' "$(field "$f" p99)" "$(field "$f" p999)" "$(field "$f" max)"
}
row "CAN_Send_Msg, ns (median / p99 / p99.9 / max):" "" "" ""
row "  batches of 100, 1 ms apart" "$(cell_call wine-cost)" "$(cell_call native-cost)" \
    "<= 1000, never blocking"
row "  one by one at $paced_rate/s (latency run)" "$(cell_call wine-paced)" \
    "$(cell_call native-paced)" ""
row "  flat out (throughput run)" "$(cell_call wine-flood)" "$(cell_call native-flood)" ""
