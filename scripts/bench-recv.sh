#!/bin/bash
# Receive-all benchmarks, each against its anchor run side by side on this
# machine with the same private Dovecot:
#
#   RATIO recvall_vs_fetchmail  fetchmail time / bench_recv time to fetch
#                               COUNT messages of about 4 KB (Japanese
#                               subject and body): receive-all decoding each
#                               into its display file and list line, against
#                               fetchmail -k --bsmtp; both keep the mail on
#                               the server (goal: 2 or more)
#   RATIO imap_recvall_vs_pop3_recvall
#                               bench_recv time over POP3 / bench_recv time
#                               over IMAP, for the same COUNT messages that
#                               Dovecot serves from one maildir (goal: 0.8
#                               or more: IMAP costs little more than POP3)
#   RATIO seen_run_vs_listing   bench_recv time / listing time for a
#                               maildrop of SEEN_COUNT messages that are all
#                               in the seen-UIDL file (so nothing is fetched),
#                               against a plain STAT + UIDL listing by
#                               Python's poplib (goal: 2 or less)
#
# Usage: scripts/bench-recv.sh [COUNT [SEEN_COUNT]]   (default 1000 20000)
# Small values (e.g. 5 20) make a quick run for CI. Builds into
# $ZEL_BENCH_BUILD (default build-bench) as Release. Each side runs ROUNDS
# times (default 5) after a warm-up, the two in turn; the best time counts.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${ZEL_BENCH_BUILD:-$ROOT/build-bench}
COUNT=${1:-1000}
SEEN_COUNT=${2:-20000}
ROUNDS=${ROUNDS:-5}
PY=/usr/bin/python3
SERVERS=/tmp/zbr$$
WORK=$(mktemp -d /tmp/zelbenchrecv.XXXXXX)
# The mail folders and fetchmail's BSMTP file go to tmpfs when there is one,
# as in bench-net.sh: file creation on a loaded disk would be measured
# instead of the clients. The profile file (display counter) and the seen
# file stay on disk, as fetchmail's id file does.
. "$ROOT/scripts/bench-lib.sh"
OUT=$(out_dir zelbenchrecv "$WORK")
export XDG_CONFIG_HOME=$WORK/config TMPDIR=$OUT
mkdir -p "$XDG_CONFIG_HOME"
trap bench_cleanup EXIT

command -v fetchmail >/dev/null || { echo "bench-recv: fetchmail is not installed" >&2; exit 1; }

bench_build bench_recv
BENCH=$BUILD/bench_recv
start_servers

# N messages of about SIZE bytes in alice's maildir: an ISO-2022-JP subject
# and body, CR LF lines, some starting with a dot; owned by the mail user.
fill_maildir() {
  $PY - "$MAIL_DIR/alice" "$1" "$2" <<'PY'
import base64, os, pwd, sys
maildir, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
nobody = pwd.getpwnam("nobody")
jis = lambda text: text.encode("iso2022_jp")
for i in range(count):
    subject = base64.b64encode(jis("受信ベンチマーク %d" % i)).decode()
    head = ("Message-Id: <recv%d@zelpost.test>\r\nSubject: =?ISO-2022-JP?B?%s?=\r\n"
            "From: bench@zelpost.test\r\nTo: alice@localhost\r\n"
            "Date: Tue, 02 Oct 2001 09:05:07 +0900\r\n"
            "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=ISO-2022-JP\r\n\r\n"
            % (i, subject)).encode()
    body = b""
    j = 0
    while len(head) + len(body) < size:
        prefix = b"." if j % 9 == 0 else b""
        body += prefix + jis("これは本文の %04d 行目です。" % j) + b" line of the receive benchmark\r\n"
        j += 1
    name = "%012d.bench" % i
    path = os.path.join(maildir, "tmp", name)
    with open(path, "wb") as f:
        f.write(head + body)
    os.chown(path, nobody.pw_uid, nobody.pw_gid)
    os.rename(path, os.path.join(maildir, "new", name))
PY
}

# --- receive-all against fetchmail --------------------------------------
fill_maildir "$COUNT" 4096
run_fetchmail() { fetchmail_keep "$WORK" "$OUT" "$POP3_PORT"; }
run_recv() {
  rm -rf "$OUT/mail" && mkdir "$OUT/mail"
  out=$("$BENCH" "127.0.0.1:$POP3_PORT" alice alicepw "$OUT/list.txt" "$OUT/mail" "$@")
  [ "$out" = "stored $EXPECT" ] || { echo "bench-recv: bench_recv: $out" >&2; exit 1; }
}
EXPECT=$COUNT
run_fetchmail  # warm-up: Dovecot builds its index of the maildir
run_recv
ours=() anchor=()
for _ in $(seq "$ROUNDS"); do
  ours+=("$(timed run_recv)")
  anchor+=("$(timed run_fetchmail)")
done
OURS=$(best "${ours[@]}")
ANCHOR=$(best "${anchor[@]}")
echo "recv: bench_recv $OURS s, fetchmail $ANCHOR s for $COUNT messages"
echo "RATIO recvall_vs_fetchmail $(ratio "$ANCHOR" "$OURS")"

# --- receive-all over IMAP against the same over POP3 ----------------------
run_recv_imap() { BENCH_PROTOCOL=1 run_recv_at "$IMAP_PORT"; }
run_recv_pop3() { run_recv_at "$POP3_PORT"; }
run_recv_at() {
  rm -rf "$OUT/mail" && mkdir "$OUT/mail"
  out=$("$BENCH" "127.0.0.1:$1" alice alicepw "$OUT/list.txt" "$OUT/mail")
  [ "$out" = "stored $COUNT" ] || { echo "bench-recv: bench_recv: $out" >&2; exit 1; }
}
run_recv_imap  # warm-up: Dovecot's IMAP index
ours=() anchor=()
for _ in $(seq "$ROUNDS"); do
  ours+=("$(timed run_recv_imap)")
  anchor+=("$(timed run_recv_pop3)")
done
OURS=$(best "${ours[@]}")
ANCHOR=$(best "${anchor[@]}")
echo "imap: bench_recv over IMAP $OURS s, over POP3 $ANCHOR s for $COUNT messages"
echo "RATIO imap_recvall_vs_pop3_recvall $(ratio "$ANCHOR" "$OURS")"

# --- a run that finds everything seen against a plain listing ------------
rm -f "$MAIL_DIR"/alice/new/* "$MAIL_DIR"/alice/cur/*
fill_maildir "$SEEN_COUNT" 600
LISTING=$(cat <<'PY'
import poplib, sys
pop = poplib.POP3("127.0.0.1", int(sys.argv[1]))
pop.user("alice")
pop.pass_("alicepw")
count, _ = pop.stat()
uidls = pop.uidl()[1]
pop.quit()
if len(uidls) != count:
    sys.exit("listing incomplete")
if len(sys.argv) > 2:  # write the seen-UIDL file: 80-byte records
    with open(sys.argv[2], "wb") as f:
        for line in uidls:
            key = line.split()[1]
            f.write(key + b"\0" * (78 - len(key)) + b"\r\n")
PY
)
run_listing() { $PY -c "$LISTING" "$POP3_PORT"; }
SEEN=$WORK/seen.dat
$PY -c "$LISTING" "$POP3_PORT" "$SEEN"  # also warms Dovecot's index up
EXPECT=0
ours=() anchor=()
for _ in $(seq "$ROUNDS"); do
  ours+=("$(timed run_recv "$SEEN")")
  anchor+=("$(timed run_listing)")
done
[ "$(stat -c %s "$SEEN")" = $((80 * SEEN_COUNT)) ] || { echo "bench-recv: seen file lost keys" >&2; exit 1; }
OURS=$(best "${ours[@]}")
ANCHOR=$(best "${anchor[@]}")
echo "seen: bench_recv $OURS s, poplib STAT+UIDL $ANCHOR s for $SEEN_COUNT messages"
echo "RATIO seen_run_vs_listing $(ratio "$OURS" "$ANCHOR")"
