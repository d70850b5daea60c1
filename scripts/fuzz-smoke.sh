#!/bin/sh
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer) in their own build directory and runs each one
# briefly. Fails on the first finding.
#   FUZZ_SECONDS   run time per target (default 15)
#   FUZZ_BUILD_DIR build directory (default build-fuzz in the source tree)
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD_DIR:-$root/build-fuzz}
seconds=${FUZZ_SECONDS:-15}

targets=""
for source in "$root"/fuzz/fuzz_*.cpp; do
  [ -e "$source" ] || continue
  targets="$targets $(basename "$source" .cpp)"
done
[ -n "$targets" ] || { echo "no fuzz targets"; exit 1; }

CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DZELPOST_FUZZ=ON -DZELPOST_TESTS=OFF \
  -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
# shellcheck disable=SC2086
cmake --build "$build" -j"${FUZZ_JOBS:-2}" --target $targets

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
for target in $targets; do
  corpus="$work/$target"
  mkdir -p "$corpus"
  # A few seeds of the shapes the decoders meet.
  printf 'Subject: =?ISO-2022-JP?B?GyRCJUYlOSVIGyhC?= =?iso-8859-1?Q?caf=E9_au?=\n' >"$corpus/word"
  printf 'Date: Mon, 01 Jan 2001 12:00:00 +0900\n' >"$corpus/date"
  printf '\033$BF|K\\\033(B \223\372\226\173 \261\336 YWJj:!!!!' >"$corpus/text"
  printf 'Content-Type: multipart/mixed; boundary="b"\r\n\r\n--b\r\nContent-Transfer-Encoding: base64\r\nContent-Disposition: attachment; filename="a.txt"\r\n\r\nYWJj\r\n--b\r\nContent-Type: application/mac-binhex40\r\n\r\n:!!!!:\r\n--b--\r\n' >"$corpus/mime"
  printf 'Content-Type: multipart/alternative; boundary=b\r\n\r\n--b\r\nContent-Type: text/html; charset=utf-8\r\nContent-Transfer-Encoding: quoted-printable\r\n\r\n<p>=E6=97=A5&amp;<br><a href="x">y</a></p>=\r\n--b--\r\n' >"$corpus/html"
  printf 'X-MailFile: a.wml\r\nSubject: s\r\nDate: 5 Dec 00 01:00:00 GMT\r\n\r\nbody\r\n.\r\n\37700000001\001\r\n' >"$corpus/mailbox"
  printf '* OK [CAPABILITY IMAP4rev1 IDLE UIDPLUS] ready\r\n* 3 FETCH (UID 7 FLAGS (\\Seen (a "b\\"c")) BODY[HEADER.FIELDS (MESSAGE-ID)] {22}\r\nMessage-Id: <a@b>\r\n\r\n)\r\nZ0001 OK [UIDVALIDITY 42] done\r\n&ZeVnLIqe-' >"$corpus/imap"
  echo "== $target ($seconds s)"
  if ! "$build/fuzz/$target" -max_total_time="$seconds" -max_len=4096 -rss_limit_mb=2048 \
      -artifact_prefix="$build/$target-" -print_final_stats=1 "$corpus" >"$work/$target.log" 2>&1; then
    tail -n 40 "$work/$target.log"
    echo "FINDING in $target (artifact in $build)"
    status=1
  else
    grep -E '^(stat::number_of_executed_units|Done)' "$work/$target.log" || true
  fi
done
exit $status
