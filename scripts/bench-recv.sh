#!/bin/bash
# Receive-all benchmarks: the zelrecv program against its anchors, run side
# by side on this machine with the same private Dovecot, each writing its
# mail to the disk that holds the build folder (not tmpfs: where users keep
# their mail). Before every run the maildir is seeded afresh, so that each
# tool meets the server in the same state (new mail, no index of
# Dovecot's). COUNT messages of about 4 KB (Japanese subject and body):
#
#   RATIO recvall_vs_mpop          mpop time / zelrecv time, both keeping
#                                  the mail (mpop: Maildir delivery, keep on,
#                                  only_new off, auth user); goal 1.2 or more
#   RATIO recvall_tls_vs_mpop_tls  the same over implicit TLS (POP3S), both
#                                  verifying the server against the test CA;
#                                  goal 1.2 or more
#   RATIO recvall_dele_vs_mpop_dele
#                                  the same, both deleting on the server
#                                  (zelrecv -D flushes its files once before
#                                  QUIT; mpop syncs each message)
#   RATIO recvall_durable_vs_mpop  the same at equal durability: zelrecv
#                                  with a seen-UIDL file (-K), whose
#                                  display files, list and folder are on
#                                  stable storage before the seen file
#                                  records them (one flush step per batch),
#                                  against mpop, which flushes each message
#                                  before it records its UIDL; goal 1.2 or
#                                  more
#   RATIO maildir_durable_vs_mpop  the same delivering into a Maildir
#                                  (--maildir -K): each batch written in
#                                  tmp/, flushed, moved into new/, new/
#                                  flushed, then recorded; goal 1.2 or more
#   RATIO recvall_vs_fetchmail     fetchmail -k --bsmtp time / zelrecv time,
#                                  plain POP3 (--sslproto ''); goal 1.5 or
#                                  more
#   RATIO imap_recvall_vs_pop3_recvall
#                                  zelrecv time over POP3 / zelrecv --imap
#                                  time, the same maildir Dovecot serves
#                                  over both, both with a seen-UIDL file
#                                  (IMAP records its marks, so it flushes
#                                  as the POP3 run with -K does); goal 0.8
#                                  or more
#   RATIO seen_run_vs_listing      zelrecv time / listing time for SEEN_COUNT
#                                  messages that are all in the seen-UIDL
#                                  file (nothing is fetched), against a plain
#                                  STAT + UIDL listing by Python's poplib;
#                                  goal 1.0 or less
#
# Times are wall times of whole processes; the CPU time (user + system) of
# each is printed beside it, and for the durable runs and mpop the flush
# calls (fsync, fdatasync) of one run, counted by strace. zelrecv shows no dialog here (its output is not
# a terminal).
#
# Usage: scripts/bench-recv.sh [COUNT [SEEN_COUNT]]   (default 1000 20000)
# Small values (e.g. 5 20) make a quick run for CI. Builds into
# $ZEL_BENCH_BUILD (default build-bench) as Release. Each run of ROUNDS
# (default 5) runs every tool once, in turn; the best time of each counts.
# The load of the machine (uptime) is printed at the start and the end.
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${ZEL_BENCH_BUILD:-$ROOT/build-bench}
COUNT=${1:-1000}
SEEN_COUNT=${2:-20000}
ROUNDS=${ROUNDS:-5}
PY=/usr/bin/python3
SERVERS=/tmp/zbr$$
WORK=$(mktemp -d /tmp/zelbenchrecv.XXXXXX)
. "$ROOT/scripts/bench-lib.sh"
trap bench_cleanup EXIT

for tool in mpop fetchmail strace; do
  command -v $tool >/dev/null || { echo "bench-recv: $tool is not installed" >&2; exit 1; }
done

bench_build zelpost zelrecv
# Every tool's mail on the build folder's disk. Nothing is deleted between
# runs: each run writes into a new folder, and all go at the end (ext4
# allocates inodes slowly for a while after many were freed).
OUT=$(mktemp -d "$BUILD/zelbenchrecv.XXXXXX")
export XDG_CONFIG_HOME=$OUT/config ZELRECV_PASSWORD=alicepw
mkdir -p "$XDG_CONFIG_HOME"
start_servers
echo "load: $(uptime)"

# seed FOLDER N SIZE: N messages of about SIZE bytes as files of FOLDER: an
# ISO-2022-JP subject and body, CR LF lines, some starting with a dot;
# owned by the mail user.
seed() {
  $PY - "$@" <<'PY'
import base64, os, pwd, sys
folder, count, size = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
nobody = pwd.getpwnam("nobody")
os.makedirs(folder)
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
    path = os.path.join(folder, "%012d.bench" % i)
    with open(path, "wb") as f:
        f.write(head + body)
    os.chown(path, nobody.pw_uid, nobody.pw_gid)
PY
}

# mpop_rc RUN TLS: an rc file for one mpop run delivering into RUN.
mpop_rc() {
  local rc=$1/mpoprc keep=on
  [ "$3" = dele ] && keep=off
  {
    echo "account bench"
    echo "host 127.0.0.1"
    echo "user alice"
    echo "password alicepw"
    echo "keep $keep"
    echo "only_new off"
    echo "received_header off"
    echo "delivery maildir $1/mail"
    if [ "$2" = tls ]; then
      echo "port $POP3S_PORT"
      echo "tls on"
      echo "tls_starttls off"
      echo "tls_trust_file $TLS_CA_FILE"
    else
      echo "port $POP3_PORT"
      echo "tls off"
      echo "auth user"
    fi
  } > "$rc"
  chmod 600 "$rc"
  echo "$rc"
}

# run TOOL: one run of TOOL, into a new folder, after a fresh seeding;
# prints "WALL CPU" and checks that it stored every message. With FLUSHES
# set, the run goes under strace, which writes its count of calls there.
run() {
  local tool=$1 run rc stored wrap=()
  run=$(mktemp -d "$OUT/$tool.XXXXXX")
  mkdir -p "$run/mail"
  reseed_maildir "$WORK/seed" alice
  [ -n "${FLUSHES:-}" ] && wrap=(strace -f -qq -c -o "$FLUSHES" -e trace=fsync,fdatasync)
  case $tool in
    zelrecv|zelrecv_tls|zelrecv_dele|zelrecv_imap|zelrecv_durable|zelrecv_maildir)
      local args=(-S127.0.0.1:$POP3_PORT)
      # IMAP marks what it stored (a record, flushed first): against the
      # POP3 run that records too.
      [ $tool = zelrecv_imap ] && args=(--imap -S127.0.0.1:$IMAP_PORT "-K$run/seen.dat")
      [ $tool = zelrecv_tls ] && args=(-S127.0.0.1:$POP3S_PORT -T1 "-C$TLS_CA_FILE")
      [ $tool = zelrecv_dele ] && args+=(-D)
      [ $tool = zelrecv_durable ] && args+=("-K$run/seen.dat")
      [ $tool = zelrecv_maildir ] && args+=("-K$run/seen.dat" --maildir "$run/maildir")
      measure "${wrap[@]}" "$BUILD/zelrecv" "${args[@]}" -Ualice -EZELRECV_PASSWORD "-L$run/list.txt" \
        "-M$run/mail"
      if [ $tool = zelrecv_maildir ]; then
        stored=$(find "$run/maildir/new" -type f | wc -l)
      else
        stored=$(find "$run/mail" -name '*.wml' | wc -l)
      fi
      ;;
    mpop|mpop_tls|mpop_dele)
      mkdir -p "$run/mail/new" "$run/mail/cur" "$run/mail/tmp"
      rc=$(mpop_rc "$run" "${tool#mpop_}" "${tool#mpop_}")
      measure "${wrap[@]}" mpop -q -C "$rc" "--uidls-file=$run/uidls" bench
      stored=$(find "$run/mail/new" -type f | wc -l)
      ;;
    fetchmail)
      rc=$run/fetchmailrc
      echo "poll 127.0.0.1 protocol pop3 user alice password alicepw" > "$rc"
      chmod 600 "$rc"
      # (its warning about running as root aside)
      measure fetchmail -f "$rc" -a -k --bsmtp "$run/mail/bsmtp" -i "$run/ids" -N -s \
        --sslproto '' --service "$POP3_PORT" 2> >(grep -v 'as root' >&2)
      stored=$(grep -c '^DATA' "$run/mail/bsmtp")
      ;;
  esac
  [ "$stored" -eq "$COUNT" ] || { echo "bench-recv: $tool stored $stored of $COUNT" >&2; exit 1; }
}

seed "$WORK/seed" "$COUNT" 4096
TOOLS="zelrecv mpop zelrecv_durable zelrecv_maildir zelrecv_tls mpop_tls zelrecv_dele mpop_dele fetchmail zelrecv_imap"
declare -A times
for tool in $TOOLS; do run "$tool" >/dev/null; done  # warm-up
for _ in $(seq "$ROUNDS"); do
  for tool in $TOOLS; do
    times[$tool]+="$(run "$tool" | tr ' ' ':') "
  done
done
# Each tool's best run by wall time, and its best CPU time.
declare -A wall
for tool in $TOOLS; do
  pairs=()
  for p in ${times[$tool]}; do pairs+=("${p/:/ }"); done
  b=$(best_wall "${pairs[@]}")
  wall[$tool]=${b%% *}
  printf 'recv: %-12s %s s wall, %s s CPU (best CPU %s s) for %s messages\n' "$tool" \
    "${b%% *}" "${b##* }" "$(best_cpu "${pairs[@]}")" "$COUNT"
done
# The flush calls of one run of each durable tool.
for tool in zelrecv_durable zelrecv_maildir mpop zelrecv_dele mpop_dele; do
  FLUSHES=$WORK/flushes run "$tool" >/dev/null
  printf 'flushes: %-15s %s fsync/fdatasync calls per run of %s messages\n' "$tool" \
    "$(awk '$NF == "fsync" || $NF == "fdatasync" { n += $4 } END { print n + 0 }' "$WORK/flushes")" "$COUNT"
done
echo "RATIO recvall_vs_mpop $(ratio "${wall[mpop]}" "${wall[zelrecv]}")"
echo "RATIO recvall_durable_vs_mpop $(ratio "${wall[mpop]}" "${wall[zelrecv_durable]}")"
echo "RATIO maildir_durable_vs_mpop $(ratio "${wall[mpop]}" "${wall[zelrecv_maildir]}")"
echo "RATIO recvall_tls_vs_mpop_tls $(ratio "${wall[mpop_tls]}" "${wall[zelrecv_tls]}")"
echo "RATIO recvall_dele_vs_mpop_dele $(ratio "${wall[mpop_dele]}" "${wall[zelrecv_dele]}")"
echo "RATIO recvall_vs_fetchmail $(ratio "${wall[fetchmail]}" "${wall[zelrecv]}")"
echo "RATIO imap_recvall_vs_pop3_recvall $(ratio "${wall[zelrecv_durable]}" "${wall[zelrecv_imap]}")"

# --- a run that finds everything seen against a plain listing ------------
rm -rf "$WORK/seed"
seed "$WORK/seed" "$SEEN_COUNT" 600
reseed_maildir "$WORK/seed" alice
SEEN=$OUT/seen.dat
mkdir -p "$OUT/seen-mail"
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
$PY -c "$LISTING" "$POP3_PORT" "$SEEN"  # also warms Dovecot's index up
ours=() anchor=()
for _ in $(seq "$ROUNDS"); do
  ours+=("$(measure "$BUILD/zelrecv" "-S127.0.0.1:$POP3_PORT" -Ualice -EZELRECV_PASSWORD \
    "-L$OUT/seen-list.txt" "-M$OUT/seen-mail" "-K$SEEN")")
  anchor+=("$(measure "$PY" -c "$LISTING" "$POP3_PORT")")
done
[ "$(stat -c %s "$SEEN")" = $((80 * SEEN_COUNT)) ] || { echo "bench-recv: seen file lost keys" >&2; exit 1; }
[ ! -e "$OUT/seen-list.txt" ] || { echo "bench-recv: the seen run stored mail" >&2; exit 1; }
OURS=$(best_wall "${ours[@]}")
ANCHOR=$(best_wall "${anchor[@]}")
echo "seen: zelrecv ${OURS%% *} s wall, ${OURS##* } s CPU; poplib STAT+UIDL ${ANCHOR%% *} s wall, ${ANCHOR##* } s CPU for $SEEN_COUNT messages"
echo "RATIO seen_run_vs_listing $(ratio "${OURS%% *}" "${ANCHOR%% *}")"
echo "load: $(uptime)"
