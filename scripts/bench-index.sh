#!/bin/bash
# Mailbox index and attachment benchmarks, each against an anchor run side
# by side on the same file, on the disk that holds the build folder. Each
# side is a whole process; the best of ROUNDS counts, the two sides in turn:
#
#   RATIO index_vs_grep       `grep -c '^X-MailFile:'` wall time / wall time
#                             of the first index of a mailbox of MESSAGES
#                             messages (about 750 bytes each, Shift-JIS);
#                             the CPU times (user + system) are printed
#                             beside; goal 0.8 or more
#   RATIO savepart_vs_base64  `base64 -d` CPU time of the attachment's base64
#                             lines / CPU time of saving the attachment (MB
#                             megabytes, 76-character lines) from its
#                             display file (CPU time: other load on a shared
#                             machine does not count); goal 1 or more
#
# Usage: scripts/bench-index.sh [MESSAGES [MB]]   (default 100000 50)
# Small values (e.g. 200 1) make a quick run for CI. Builds into
# $ZEL_BENCH_BUILD (default build-bench) as Release.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${ZEL_BENCH_BUILD:-$ROOT/build-bench}
MESSAGES=${1:-100000}
MB=${2:-50}
ROUNDS=${ROUNDS:-5}
PY=/usr/bin/python3
. "$ROOT/scripts/bench-lib.sh"
bench_build bench_index
WORK=$(mktemp -d "$BUILD/zelbenchindex.XXXXXX")
trap bench_cleanup EXIT

# timed_to OUTPUT COMMAND...: runs COMMAND with its output to OUTPUT and
# prints "WALL CPU" (seconds); fails when COMMAND fails.
timed_to() {
  $PY - "$@" <<'PY'
import os, sys, time
with open(sys.argv[1], "wb") as out:
    start = time.perf_counter()
    pid = os.posix_spawnp(sys.argv[2], sys.argv[2:], os.environ,
                          file_actions=[(os.POSIX_SPAWN_DUP2, out.fileno(), 1)])
    _, status, usage = os.wait4(pid, 0)
    wall = time.perf_counter() - start
if status != 0:
    sys.exit("%s failed (status %d)" % (sys.argv[2], status))
print("%.6f %.6f" % (wall, usage.ru_utime + usage.ru_stime))
PY
}
cpu() { local t; t=$(timed_to "$@") && echo "${t##* }"; }

# A mailbox as receive-all appends to it: reading copies in Shift-JIS, CR LF.
$PY - "$WORK/inbox.mbx" "$MESSAGES" <<'PY'
import sys
path, count = sys.argv[1], int(sys.argv[2])
body = ["お世話になっております。来週の打ち合わせの件でご連絡いたします。",
        "資料は添付のとおりです。ご確認のほどよろしくお願いいたします。",
        "The meeting is on Tuesday at 10:00 in room 3.", ""] * 3
with open(path, "wb") as f:
    for n in range(1, count + 1):
        lines = ["X-MailFile: C:\\mail\\zel%05d.wml" % (n % 100000),
                 "Message-Id: <%d.%d@mail.example.jp>" % (n, n * 7),
                 "Date: Tue, %02d Dec 2000 10:%02d:00 +0900" % (n % 28 + 1, n % 60),
                 "To: taro@example.jp",
                 "Subject: 打ち合わせの件 その%d" % n,
                 "From: 山田花子 <hanako@example.jp>",
                 ""] + body + ["."]
        f.write(("\r\n".join(lines) + "\r\n").encode("cp932"))
PY

# A display file with one attachment of MB megabytes, and its base64 lines.
$PY - "$WORK/big.wml" "$WORK/big.b64" "$MB" <<'PY'
import sys, random, base64
wml, b64, mb = sys.argv[1], sys.argv[2], float(sys.argv[3])
rnd = random.Random(1)
block_lines = 1150
blocks = max(1, int(mb * 1e6 / (57 * block_lines)))
with open(wml, "wb") as w, open(b64, "wb") as b:
    w.write(b"Subject: big\r\nContent-Type: multipart/mixed; boundary=\"b\"\r\n\r\n--b\r\n"
            b"Content-Type: text/plain\r\n\r\ntext\r\n--b\r\nContent-Type: application/octet-stream\r\n"
            b"Content-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename=\"big.bin\"\r\n\r\n")
    for _ in range(blocks):
        text = base64.encodebytes(rnd.randbytes(57 * block_lines))
        b.write(text)
        w.write(text.replace(b"\n", b"\r\n"))
    w.write(b"--b--\r\n")
PY

echo "load: $(uptime)"
grep_times=() index_times=()
grep_count=$(grep -c '^X-MailFile:' "$WORK/inbox.mbx")
for _ in $(seq "$ROUNDS"); do
  # Not to /dev/null: grep then stops at the first match.
  grep_times+=("$(timed_to "$WORK/count" grep -c '^X-MailFile:' "$WORK/inbox.mbx")")
  rm -f "$WORK/inbox.dir"
  index_times+=("$(timed_to /dev/null "$BUILD/bench_index" index "$WORK/inbox.mbx")")
done
grep_time=$(best_wall "${grep_times[@]}") index_time=$(best_wall "${index_times[@]}")
records=$(wc -l < "$WORK/inbox.dir")
[ "$records" -eq "$grep_count" ] || { echo "bench-index: $records records for $grep_count messages" >&2; exit 1; }
echo "index: $MESSAGES messages ($(du -m "$WORK/inbox.mbx" | cut -f1) MB) in ${index_time%% *} s wall, ${index_time##* } s CPU; grep -c: ${grep_time%% *} s wall, ${grep_time##* } s CPU"
echo "RATIO index_vs_grep $(ratio "${grep_time%% *}" "${index_time%% *}")"

base64_times=() save_times=()
for _ in $(seq "$ROUNDS"); do
  base64_times+=("$(cpu "$WORK/anchor.bin" base64 -d "$WORK/big.b64")")
  save_times+=("$(cpu /dev/null "$BUILD/bench_index" save "$WORK/big.wml" 1 "$WORK/saved.bin")")
done
base64_time=$(best "${base64_times[@]}") save_time=$(best "${save_times[@]}")
cmp -s "$WORK/anchor.bin" "$WORK/saved.bin" || { echo "bench-index: saved attachment differs" >&2; exit 1; }
echo "savePart: $(du -m "$WORK/saved.bin" | cut -f1) MB in $save_time s CPU; base64 -d: $base64_time s"
echo "RATIO savepart_vs_base64 $(ratio "$base64_time" "$save_time")"
echo "load: $(uptime)"
