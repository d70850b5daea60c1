#!/bin/bash
# Demo: builds zelpost and zelsend, starts the private test servers, sends a
# Japanese mail with an attachment through zelsend (POP before SMTP), fetches
# it back over POP3, shows it decoded and stops the servers.
#
# Usage: scripts/demo.sh            (build folder: $ZEL_DEMO_BUILD or build-demo)
set -eu

ROOT=$(cd "$(dirname "$0")/.." && pwd)
BUILD=${ZEL_DEMO_BUILD:-$ROOT/build-demo}
SERVERS=/tmp/zdemo$$
WORK=$(mktemp -d /tmp/zeldemo.XXXXXX)
PY=/usr/bin/python3

cleanup() {
  "$ROOT/scripts/test-servers.sh" stop "$SERVERS" >/dev/null 2>&1 || true
  rm -rf "$WORK"
}
trap cleanup EXIT

echo "== build"
cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release -DZELPOST_TESTS=OFF >/dev/null
cmake --build "$BUILD" -j2 --target zelpost zelsend >/dev/null
echo "built $BUILD/libzelpost.so and $BUILD/zelsend"

echo "== start the test servers"
"$ROOT/scripts/test-servers.sh" start "$SERVERS"
. "$SERVERS/servers.env"

echo "== prepare a send file (Shift-JIS) and an attachment"
$PY - "$WORK" <<'PY'
import sys, os
work = sys.argv[1]
attachment = os.path.join(work, "見積書.txt")
with open(attachment, "wb") as f:
    f.write("お見積もりは以下のとおりです。\r\n合計 12,000円\r\n".encode("cp932"))
text = ("To: 山田花子 <alice@localhost>\r\n"
        "Subject: お見積もりの件\r\n"
        "X-AttachmentFile: " + attachment + "\r\n"
        "--------\r\n"
        "山田様\r\n\r\nお世話になっております。\r\nお見積もりを添付いたします。\r\n")
open(os.path.join(work, "mail.qml"), "wb").write(text.encode("cp932"))
PY
echo "$WORK/mail.qml"

echo "== send it with zelsend (POP before SMTP as alice)"
# zelsend takes its arguments in the locale's character set (UTF-8 here).
LC_ALL=C.UTF-8 "$BUILD/zelsend" "-S$SMTP_HOST:$SMTP_PORT" -Mbob@localhost "-N鈴木一郎" \
  "-F$WORK/mail.qml" "-BS$POP3_HOST:$POP3_PORT" -BUalice -BPalicepw

echo "== fetch it back over POP3 and show it decoded"
$PY - "$POP3_HOST" "$POP3_PORT" "$WORK" <<'PY'
import sys, poplib, email, email.policy, hashlib, os
host, port, work = sys.argv[1], int(sys.argv[2]), sys.argv[3]
pop = poplib.POP3(host, port)
pop.user("alice"); pop.pass_("alicepw")
count, _ = pop.stat()
raw = b"\r\n".join(pop.retr(count)[1]) + b"\r\n"
pop.quit()
msg = email.message_from_bytes(raw, policy=email.policy.default)
print("Subject:", msg["Subject"])
print("From:   ", msg["From"])
print("To:     ", msg["To"])
print("Date:   ", msg["Date"])
for part in msg.walk():
    if part.get_content_maintype() == "multipart":
        continue
    name = part.get_filename()
    if name is None:
        print("--- body ---")
        print(part.get_content().rstrip())
    else:
        data = part.get_payload(decode=True)
        original = open(os.path.join(work, "見積書.txt"), "rb").read()
        same = "identical to the original" if data == original else "DIFFERS from the original"
        print("--- attachment %s: %d bytes, %s ---" % (name, len(data), same))
        print(data.decode("cp932").rstrip())
PY

echo "== stop the test servers"
