# Helpers of the benchmark scripts (sourced; PY names the Python, ROOT the
# source tree, BUILD the build folder).
#   bench_build TARGET...
#                       configures BUILD as Release with the benchmarks and
#                       without the tests, and builds TARGET... (quietly)
#   start_servers       starts the private test servers in SERVERS and reads
#                       their servers.env
#   bench_cleanup       the EXIT trap: stops the servers in SERVERS (when
#                       set) and removes WORK and OUT (when set)
#   now                 the wall clock in seconds
#   seconds T0 T1       T1 - T0
#   ratio A B           A / B, two decimals
#   best T...           the smallest time
#   timed COMMAND...    runs COMMAND and prints its wall time
#   out_dir NAME ELSE   a new folder NAME.* on tmpfs when there is one (file
#                       creation on a loaded disk would be measured instead
#                       of the programs), else ELSE
#   fetchmail_keep WORK OUT PORT [CAFILE]
#                       fetchmail fetching alice's mail from 127.0.0.1:PORT
#                       and keeping it (-k), into the BSMTP file OUT/bsmtp,
#                       with its rc and id files in WORK; with CAFILE over
#                       POP3S verified against that CA (fetchmail checks DNS
#                       names only, so the server is named localhost)
bench_build() {
  cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DZELPOST_BENCH=ON -DZELPOST_TESTS=OFF >/dev/null
  cmake --build "$BUILD" -j2 --target "$@" >/dev/null
}
start_servers() {
  "$ROOT/scripts/test-servers.sh" start "$SERVERS" >/dev/null
  . "$SERVERS/servers.env"
}
bench_cleanup() {
  if [ -n "${SERVERS:-}" ]; then
    "$ROOT/scripts/test-servers.sh" stop "$SERVERS" >/dev/null 2>&1 || true
  fi
  rm -rf "$WORK" ${OUT:+"$OUT"}
}
now() { date +%s.%N; }
seconds() { $PY -c "import sys; print('%.6f' % (float(sys.argv[2]) - float(sys.argv[1])))" "$1" "$2"; }
ratio() { $PY -c "import sys; print('%.2f' % (float(sys.argv[1]) / max(float(sys.argv[2]), 1e-9)))" "$1" "$2"; }
best() { $PY -c "import sys; print(min(float(a) for a in sys.argv[1:]))" "$@"; }
timed() { local t0 t1; t0=$(now); "$@"; t1=$(now); seconds "$t0" "$t1"; }
out_dir() {
  if [ -d /dev/shm ] && [ -w /dev/shm ]; then mktemp -d "/dev/shm/$1.XXXXXX"; else echo "$2"; fi
}
fetchmail_keep() {
  local host=127.0.0.1 transport=(--sslproto '')
  if [ $# -gt 3 ]; then host=localhost transport=(--ssl --sslcertck --sslcertfile "$4"); fi
  local rc=$1/fetchmailrc-$host
  [ -f "$rc" ] || { echo "poll $host protocol pop3 user alice password alicepw" > "$rc"; chmod 600 "$rc"; }
  rm -f "$1/ids" "$2/bsmtp"
  fetchmail -f "$rc" -a -k --bsmtp "$2/bsmtp" -i "$1/ids" -N -s "${transport[@]}" \
    --service "$3" >/dev/null 2>&1 || { echo "fetchmail failed" >&2; exit 1; }
}
