#!/bin/bash
# Network client benchmarks, each against its anchor run side by side on this
# machine with the same private servers:
#
#   RATIO pop3_retr_vs_fetchmail  fetchmail time / bench_net time to fetch
#                                 POP3_COUNT messages of about 4 KB (login,
#                                 listing, RETR of each; kept on the server;
#                                 fetchmail -k --bsmtp); goal 3 or more
#   RATIO pop3_retr_tls_vs_fetchmail_tls
#                                 the same over implicit TLS (POP3S), both
#                                 verifying the server against the test CA
#                                 (fetchmail --ssl --sslcertfile); goal 2 or
#                                 more
#   RATIO smtp_send_vs_msmtp      msmtp time / bench_net time for SMTP_COUNT
#                                 sends of one 4 KB message (Open, Deliver,
#                                 Quit per message; one msmtp process per
#                                 message); goal 20 or more
#
# Usage: scripts/bench-net.sh [POP3_COUNT [SMTP_COUNT]]   (default 1000 200)
# Small values (e.g. 5 3) make a quick run for CI. Builds into
# $ZEL_BENCH_BUILD (default build-bench) as Release. Each side runs
# POP3_ROUNDS times (default 7; one POP3 round takes well under a second, and
# on a shared machine a few rounds are easily all disturbed) or twice (SMTP)
# after a warm-up, the two sides in turn; the best time counts.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${ZEL_BENCH_BUILD:-$ROOT/build-bench}
POP3_COUNT=${1:-1000}
SMTP_COUNT=${2:-200}
POP3_ROUNDS=${POP3_ROUNDS:-7}
PY=/usr/bin/python3
SERVERS=/tmp/zbn$$
WORK=$(mktemp -d /tmp/zelbenchnet.XXXXXX)
# Output of both POP3 clients (bench_net's message files, fetchmail's BSMTP
# file) goes to tmpfs when there is one: creating a file on a disk file
# system can cost more than its whole POP3 exchange (about 1.7 ms per new
# file on an ext4 of a loaded test machine), which would compare file
# systems instead of clients.
. "$ROOT/scripts/bench-lib.sh"
OUT=$(out_dir zelbenchnet "$WORK")
trap bench_cleanup EXIT

for tool in fetchmail msmtp; do
  command -v $tool >/dev/null || { echo "bench-net: $tool is not installed" >&2; exit 1; }
done

bench_build bench_net
BENCH=$BUILD/bench/net/bench_net
start_servers

# POP3_COUNT messages of about 4 KB (CR LF lines, some starting with a dot)
# in alice's maildir, owned by the mail user like delivered mail.
$PY - "$MAIL_DIR/alice" "$POP3_COUNT" <<'PY'
import os, pwd, sys
maildir, count = sys.argv[1], int(sys.argv[2])
nobody = pwd.getpwnam("nobody")
for i in range(count):
    lines = ["Message-Id: <bench%d@zelpost.test>" % i, "Subject: bench %d" % i,
             "From: bench@zelpost.test", "To: alice@localhost", ""]
    for j in range(56):
        lines.append(("." if j % 9 == 0 else "") + ("line %04d of message %05d " % (j, i)) * 2)
    name = "%012d.bench" % i
    path = os.path.join(maildir, "tmp", name)
    with open(path, "wb") as f:
        f.write(("\r\n".join(lines) + "\r\n").encode())
    os.chown(path, nobody.pw_uid, nobody.pw_gid)
    os.rename(path, os.path.join(maildir, "new", name))
PY

# run_fetchmail [TLS]: plain POP3, or with an argument POP3S verified
# against the test CA.
run_fetchmail() {
  if [ $# -gt 0 ]; then
    fetchmail_keep "$WORK" "$OUT" "$POP3S_PORT" "$TLS_CA_FILE"
  else
    fetchmail_keep "$WORK" "$OUT" "$POP3_PORT"
  fi
}
# run_pop3 ROUND [TLS]: the same for bench_net.
run_pop3() {
  if [ $# -gt 1 ]; then
    out=$("$BENCH" pop3s "localhost:$POP3S_PORT" alice alicepw "$OUT/out$1" "$TLS_CA_FILE")
  else
    out=$("$BENCH" pop3 "127.0.0.1:$POP3_PORT" alice alicepw "$OUT/out$1")
  fi
  [ "$out" = "retrieved $POP3_COUNT" ] || { echo "bench-net: bench_net pop3: $out" >&2; exit 1; }
}

run_fetchmail  # warm-up: Dovecot builds its index of the maildir
run_fetchmail tls
# pop3_rounds NAME [TLS]: both clients in turn, the best of each.
pop3_rounds() {
  local name=$1 round
  shift
  ours=() anchor=()
  for round in $(seq "$POP3_ROUNDS"); do
    mkdir "$OUT/out$round"  # a fresh folder: no file is truncated
    ours+=("$(timed run_pop3 "$round" "$@")")
    rm -rf "$OUT/out$round"
    anchor+=("$(timed run_fetchmail "$@")")
  done
  OURS=$(best "${ours[@]}")
  ANCHOR=$(best "${anchor[@]}")
  echo "$name: bench_net $OURS s, fetchmail $ANCHOR s for $POP3_COUNT messages"
}
pop3_rounds pop3
echo "RATIO pop3_retr_vs_fetchmail $(ratio "$ANCHOR" "$OURS")"
pop3_rounds pop3s tls
echo "RATIO pop3_retr_tls_vs_fetchmail_tls $(ratio "$ANCHOR" "$OURS")"

# One message of about 4 KB as the DATA phase (CR LF, final ".") for
# bench_net, and the same message unstuffed for msmtp.
$PY - "$WORK/data.eml" "$WORK/plain.eml" <<'PY'
import sys
lines = ["From: bench@zelpost.test", "To: bob@localhost", "Subject: smtp bench", ""]
lines += ["send line %04d " % j * 4 for j in range(66)]
plain = "\r\n".join(lines) + "\r\n"
open(sys.argv[2], "wb").write(plain.encode())
open(sys.argv[1], "wb").write((plain + ".\r\n").encode())
PY
MRC=$WORK/msmtprc
printf 'account default\nhost 127.0.0.1\nport %s\nauth off\ntls off\nfrom bench@zelpost.test\n' "$SMTP_PORT" > "$MRC"
chmod 600 "$MRC"
run_msmtp() {
  for _ in $(seq "$SMTP_COUNT"); do
    msmtp -C "$MRC" --host=127.0.0.1 --port="$SMTP_PORT" --tls=off --auth=off \
      --from=bench@zelpost.test -- bob@localhost < "$WORK/plain.eml" \
      || { echo "bench-net: msmtp failed" >&2; exit 1; }
  done
}
run_smtp() {
  out=$("$BENCH" smtp "127.0.0.1:$SMTP_PORT" "$SMTP_COUNT" "$WORK/data.eml" bob@localhost)
  [ "$out" = "sent $SMTP_COUNT" ] || { echo "bench-net: bench_net smtp: $out" >&2; exit 1; }
}
ours=() anchor=()
for _ in 1 2; do
  ours+=("$(timed run_smtp)")
  anchor+=("$(timed run_msmtp)")
done
OURS=$(best "${ours[@]}")
ANCHOR=$(best "${anchor[@]}")
echo "smtp: bench_net $OURS s, msmtp $ANCHOR s for $SMTP_COUNT messages"
echo "RATIO smtp_send_vs_msmtp $(ratio "$ANCHOR" "$OURS")"
