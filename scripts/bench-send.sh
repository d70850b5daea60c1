#!/bin/bash
# Send benchmarks, each against its anchor run side by side on this machine:
#
#   RATIO zelsend_vs_msmtp  msmtp time / zelsend time for COUNT sends of the
#                           same 4 KB message, one process per message, to
#                           Postfix's smtp-sink (a small C server that
#                           accepts and discards: the clients are measured,
#                           not the server); ROUNDS rounds (default 5), the
#                           two in turn, the best wall time of each counts,
#                           its CPU time printed beside it (goal: 25 or
#                           more)
#   RATIO attach_vs_base64  `base64 -w 72` time / compose time of a message
#                           with an attachment of ATTACH_KB (goal: 1 or more)
#   RATIO utf8_attach_memory  peak memory of composing a UTF-8 message (its
#                           subject holds 髙, beyond ISO-2022-JP) with a 1 KB
#                           attachment / the same with ATTACH_KB: the
#                           attachment is streamed (goal: 0.9 or more)
#
# Usage: scripts/bench-send.sh [COUNT [ATTACH_KB]]   (default 200 51200)
# Small values (e.g. 5 64) make a quick run for CI. Builds into
# $ZEL_BENCH_BUILD (default build-bench) as Release.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${ZEL_BENCH_BUILD:-$ROOT/build-bench}
COUNT=${1:-200}
ATTACH_KB=${2:-51200}
PY=/usr/bin/python3
SERVERS=/tmp/zbs$$
WORK=$(mktemp -d /tmp/zelbench.XXXXXX)
. "$ROOT/scripts/bench-lib.sh"
trap bench_cleanup EXIT

ROUNDS=${ROUNDS:-5}
command -v msmtp >/dev/null || { echo "bench-send: msmtp is not installed" >&2; exit 1; }
SINK=$(command -v smtp-sink || echo /usr/sbin/smtp-sink)
[ -x "$SINK" ] || { echo "bench-send: smtp-sink (postfix) is not installed" >&2; exit 1; }

bench_build zelpost zelsend bench_send_compose
start_servers

# A 4 KB send file with a Japanese subject and body (Shift-JIS, CR LF).
$PY - "$WORK/mail.qml" <<'PY'
import sys
line = "これは送信ベンチマークの本文です。Benchmark body line.\r\n"
body = ""
while len(body.encode("cp932")) < 3900:
    body += line
text = "To: alice@localhost\r\nSubject: 送信ベンチマーク\r\n\r\n" + body
open(sys.argv[1], "wb").write(text.encode("cp932"))
PY

# The same message as msmtp sends it: the composed DATA phase without its
# dot-stuffing and final "." line.
: > "$WORK/empty.bin"
"$BUILD/bench_send_compose" "$WORK/mail.qml" "" "$WORK/mail.data" 1 >/dev/null
$PY - "$WORK/mail.data" "$WORK/mail.eml" <<'PY'
import sys
lines = open(sys.argv[1], "rb").read().split(b"\r\n")
assert lines[-2] == b"." and lines[-1] == b""
out = [l[1:] if l.startswith(b".") else l for l in lines[:-2]]
open(sys.argv[2], "wb").write(b"\r\n".join(out) + b"\r\n")
PY
: > "$WORK/msmtprc"
chmod 600 "$WORK/msmtprc"

# smtp-sink on a free port (-u: it runs as nobody when started as root),
# stopped by the EXIT trap with the servers.
SINK_PORT=$($PY -c "import socket; s = socket.socket(); s.bind(('127.0.0.1', 0)); print(s.getsockname()[1])")
"$SINK" -u nobody "127.0.0.1:$SINK_PORT" 200 >/dev/null 2>&1 &
SINK_PID=$!
trap 'kill $SINK_PID 2>/dev/null; bench_cleanup' EXIT
for _ in $(seq 100); do
  $PY -c "import socket, sys; socket.create_connection(('127.0.0.1', int(sys.argv[1]))).close()" \
    "$SINK_PORT" 2>/dev/null && break
  sleep 0.05
done

echo "load: $(uptime)"
ZELSEND=("$BUILD/zelsend" "-S127.0.0.1:$SINK_PORT" -Mbench@localhost -NBench "-F$WORK/mail.qml")
MSMTP=(msmtp -C "$WORK/msmtprc" --host=127.0.0.1 "--port=$SINK_PORT" --tls=off --auth=off
  --from=bench@localhost -- alice@localhost)
measure_each 2 "$WORK/mail.eml" "${ZELSEND[@]}" >/dev/null  # warm-up
measure_each 2 "$WORK/mail.eml" "${MSMTP[@]}" >/dev/null
ours=() anchor=()
for _ in $(seq "$ROUNDS"); do
  ours+=("$(measure_each "$COUNT" /dev/null "${ZELSEND[@]}")")
  anchor+=("$(measure_each "$COUNT" "$WORK/mail.eml" "${MSMTP[@]}")")
done
OURS=$(best_wall "${ours[@]}") ANCHOR=$(best_wall "${anchor[@]}")
echo "send: zelsend ${OURS%% *} s wall, ${OURS##* } s CPU; msmtp ${ANCHOR%% *} s wall, ${ANCHOR##* } s CPU for $COUNT sends"
echo "RATIO zelsend_vs_msmtp $(ratio "${ANCHOR%% *}" "${OURS%% *}")"
echo "load: $(uptime)"

# Attachment: compose (best of 3) against base64 -w 72 (best of 3), both
# reading the same file and writing next to it.
head -c $((ATTACH_KB * 1024)) /dev/urandom > "$WORK/attach.bin"
printf 'To: alice@localhost\r\nSubject: attach\r\n\r\nbody\r\n' > "$WORK/attach.qml"
compose_time=$(TMPDIR=$WORK "$BUILD/bench_send_compose" "$WORK/attach.qml" "$WORK/attach.bin" \
  "$WORK/attach.eml" 3 | sed -n 's/^SECONDS //p')
base64_time=
for _ in 1 2 3; do
  start=$(now)
  base64 -w 72 "$WORK/attach.bin" > "$WORK/attach.b64"
  t=$(seconds "$start" "$(now)")
  if [ -z "$base64_time" ] || $PY -c "import sys; sys.exit(0 if float(sys.argv[1]) < float(sys.argv[2]) else 1)" "$t" "$base64_time"; then
    base64_time=$t
  fi
done
echo "compose: $ATTACH_KB KB in $compose_time s; base64 -w 72: $base64_time s"
echo "RATIO attach_vs_base64 $(ratio "$base64_time" "$compose_time")"

# Memory: the same compose with a UTF-8 message, small and large attachment;
# the peak resident size of the process (ru_maxrss, KB).
peak_kb() {
  $PY -c 'import os, sys
pid = os.fork()
if pid == 0:
    os.dup2(os.open(os.devnull, os.O_WRONLY), 1)
    os.execv(sys.argv[1], sys.argv[1:])
_, status, usage = os.wait4(pid, 0)
sys.exit(1) if status else print(usage.ru_maxrss)' "$@"
}
$PY - "$WORK/utf8.qml" <<'PY'
import sys
text = "To: alice@localhost\r\nSubject: 髙橋さんへ\r\n\r\n本文です。\r\n"
open(sys.argv[1], "wb").write(text.encode("cp932"))
PY
head -c 1024 /dev/urandom > "$WORK/small.bin"
small_kb=$(TMPDIR=$WORK peak_kb "$BUILD/bench_send_compose" "$WORK/utf8.qml" "$WORK/small.bin" "$WORK/utf8.eml" 1)
large_kb=$(TMPDIR=$WORK peak_kb "$BUILD/bench_send_compose" "$WORK/utf8.qml" "$WORK/attach.bin" "$WORK/utf8.eml" 1)
grep -q '^Content-Type: text/plain; charset=UTF-8' "$WORK/utf8.eml" || { echo "bench-send: the message is not UTF-8" >&2; exit 1; }
echo "UTF-8 message peak memory: 1 KB attachment $small_kb KB; $ATTACH_KB KB attachment $large_kb KB"
echo "RATIO utf8_attach_memory $(ratio "$small_kb" "$large_kb")"
