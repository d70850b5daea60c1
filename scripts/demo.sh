#!/bin/bash
# Demo: builds zelpost, zelsend, zelrecv and the example host
# save_attachment, starts the private test servers, sends a Japanese mail
# with an attachment through zelsend (POP before SMTP), receives it with
# zelrecv, shows it from its display file, saves the attachment through the
# library's attachment dialog and checks it against the original byte for
# byte, then stops the servers.
#
# Usage: scripts/demo.sh            (build folder: $ZEL_DEMO_BUILD or build-demo)
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${ZEL_DEMO_BUILD:-$ROOT/build-demo}
SERVERS=/tmp/zdemo$$
WORK=$(mktemp -d /tmp/zeldemo.XXXXXX)
# The display file counter (zelpost.ini) and the library's log stay in the
# demo's folder; arguments and messages are UTF-8.
export XDG_CONFIG_HOME=$WORK XDG_STATE_HOME=$WORK LC_ALL=C.UTF-8

cleanup() {
  "$ROOT/scripts/test-servers.sh" stop "$SERVERS" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

# Shift-JIS (CP932) text as the terminal shows it, line ends without CR.
show() { iconv -f CP932 -t UTF-8 "$@" | tr -d '\r'; }

echo "== build"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DZELPOST_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target zelpost zelsend zelrecv save_attachment >/dev/null
echo "built $BUILD/libzelpost.so, zelsend, zelrecv and save_attachment"

echo "== start the test servers"
"$ROOT/scripts/test-servers.sh" start "$SERVERS"
. "$SERVERS/servers.env"

echo "== prepare a send file (Shift-JIS) and an attachment"
attachment=$WORK/見積書.txt
printf 'お見積もりは以下のとおりです。\r\n合計 12,000円\r\n' | iconv -f UTF-8 -t CP932 >"$attachment"
printf 'To: 山田花子 <alice@localhost>\r\nSubject: お見積もりの件\r\nX-AttachmentFile: %s\r\n--------\r\n山田様\r\n\r\nお世話になっております。\r\nお見積もりを添付いたします。\r\n' \
  "$attachment" | iconv -f UTF-8 -t CP932 >"$WORK/mail.qml"
# The password from a file: a command line is readable by every user.
(umask 077 && echo alicepw >"$WORK/password")
echo "$WORK/mail.qml"

echo "== send it with zelsend (POP before SMTP as alice)"
"$BUILD/zelsend" "-S$SMTP_HOST:$SMTP_PORT" -Mbob@localhost "-N鈴木一郎" "-F$WORK/mail.qml" \
  "-BS$POP3_HOST:$POP3_PORT" -BUalice "-BF$WORK/password"

echo "== receive it with zelrecv (deleting it on the server)"
mkdir "$WORK/mail"
"$BUILD/zelrecv" "-S$POP3_HOST:$POP3_PORT" -Ualice "-F$WORK/password" "-L$WORK/recv.lst" \
  "-M$WORK/mail" -D -V

echo "== the list file and the display file"
show "$WORK/recv.lst"
display=$(cut -f1 "$WORK/recv.lst")
# The header and the text decoded; the attachment stays encoded, for the
# attachment dialog.
show "$display"

echo "== save the attachment through the library's attachment dialog"
name=$("$BUILD/save_attachment" "$display" 1 "$WORK/saved" | show)
if cmp -s "$attachment" "$WORK/saved"; then
  echo "attachment $name: $(wc -c <"$WORK/saved") bytes, identical to the original"
  show "$WORK/saved"
else
  echo "attachment $name DIFFERS from the original" >&2
  exit 1
fi

echo "== stop the test servers"
