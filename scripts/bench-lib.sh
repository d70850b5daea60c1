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
#   measure COMMAND...  runs the program COMMAND (its standard output
#                       discarded) and prints "WALL CPU": its wall time and
#                       the CPU time (user + system) of the process and its
#                       children; fails when COMMAND fails
#   measure_each N INPUT COMMAND...
#                       runs the program COMMAND N times, one after the
#                       other, each reading the file INPUT (standard output
#                       discarded), and prints "WALL CPU" of all N; fails
#                       when one run fails
#   best_wall "WALL CPU"...  the pair with the smallest wall time
#   best_cpu "WALL CPU"...   the smallest CPU time
#   reseed_maildir SEED USER
#                       makes USER's maildir on the test Dovecot hold exactly
#                       the messages of the folder SEED (as new mail, with no
#                       index of Dovecot's), once the sessions before have
#                       ended; the messages are hard links to SEED when it is
#                       on the same file system, so that the disk's cost of
#                       making and freeing files is not measured
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
measure() {
  $PY -c 'import os, sys, time
start = time.perf_counter()
pid = os.fork()
if pid == 0:
    out = os.open(os.devnull, os.O_WRONLY)
    os.dup2(out, 1)
    os.execvp(sys.argv[1], sys.argv[1:])
_, status, usage = os.wait4(pid, 0)
wall = time.perf_counter() - start
if status != 0:
    sys.exit("%s failed (status %d)" % (sys.argv[1], status))
print("%.6f %.6f" % (wall, usage.ru_utime + usage.ru_stime))' "$@"
}
measure_each() {
  $PY -c 'import os, resource, sys, time
count, path, argv = int(sys.argv[1]), sys.argv[2], sys.argv[3:]
null = os.open(os.devnull, os.O_WRONLY)
start = time.perf_counter()
for _ in range(count):
    source = os.open(path, os.O_RDONLY)
    pid = os.posix_spawnp(argv[0], argv, os.environ,
                          file_actions=[(os.POSIX_SPAWN_DUP2, source, 0),
                                        (os.POSIX_SPAWN_DUP2, null, 1)])
    os.close(source)
    _, status = os.waitpid(pid, 0)
    if status != 0:
        sys.exit("%s failed (status %d)" % (argv[0], status))
wall = time.perf_counter() - start
usage = resource.getrusage(resource.RUSAGE_CHILDREN)
print("%.6f %.6f" % (wall, usage.ru_utime + usage.ru_stime))' "$@"
}
best_wall() { $PY -c "import sys; print(min(sys.argv[1:], key=lambda p: float(p.split()[0])))" "$@"; }
best_cpu() { $PY -c "import sys; print(min(float(p.split()[1]) for p in sys.argv[1:]))" "$@"; }
reseed_maildir() {
  local box=$MAIL_DIR/$2 i
  for i in $(seq 500); do
    pgrep -P "$DOVECOT_PID" -x 'pop3|pop3-login' >/dev/null || break
    sleep 0.01
  done
  rm -rf "$box/new" "$box/cur" "$box/tmp" "$box"/dovecot*
  mkdir -p "$box/cur" "$box/tmp"
  cp -al "$1" "$box/new" 2>/dev/null || { rm -rf "$box/new"; cp -a "$1" "$box/new"; }
  chown -R nobody:nogroup "$box"
}
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
