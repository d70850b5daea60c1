#!/bin/bash
# Screenshots of the library's dialogs as Windows shows them: each dialog of
# dialog_showcase.exe (the progress dialogs of receive-all, half-way through
# a run, with Japanese subject and sender; the attachment dialog listing
# Japanese file names; and, as run-229 and run-232, the progress dialogs
# during a real receive-all against the private Dovecot of
# scripts/test-servers.sh, which this script starts when it can) runs under
# wine64 on a private Xvfb display in a Wine virtual desktop (title bars
# drawn), and the screen is saved as PNG (xwd | xwdtopnm | pnmtopng).
#   ZEL_WIN_BUILD  prefix of the Windows build directories (default build-win);
#                  the x64 build is made by scripts/windows-tests.sh
#   ZEL_SHOTS      output folder (default: screenshots in the x64 build)
# Prints the path of each PNG.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
prefix=${ZEL_WIN_BUILD:-$root/build-win}
w64=$prefix-x64
out=${ZEL_SHOTS:-$w64/screenshots}
mkdir -p "$out"
cmake --build "$w64" -j"${ZEL_JOBS:-2}" --target dialog_showcase >/dev/null

export WINEPREFIX=$w64/wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LC_ALL=ja_JP.UTF-8
W64=/usr/lib/wine/wine64
if [ ! -f "$WINEPREFIX/system.reg" ]; then
  $W64 wineboot -i >/dev/null 2>&1 || true
  /usr/lib/wine/wineserver -w
fi

# A free display number.
display=90
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do display=$((display + 1)); done
Xvfb ":$display" -screen 0 800x600x24 -nolisten tcp >/dev/null 2>&1 &
xvfb=$!
work=$(mktemp -d)
servers=/tmp/zss$$
cleanup() {
  /usr/lib/wine/wineserver -k >/dev/null 2>&1 || true
  kill "$xvfb" 2>/dev/null || true
  "$root/scripts/test-servers.sh" stop "$servers" >/dev/null 2>&1 || true
  rm -rf "$work"
}
trap cleanup EXIT
export DISPLAY=":$display"
for _ in $(seq 50); do [ -e "/tmp/.X11-unix/X$display" ] && break; sleep 0.1; done

# Five Japanese messages for alice on the private Dovecot, for the runs.
if "$root/scripts/test-servers.sh" start "$servers" >/dev/null 2>&1; then
  . "$servers/servers.env"
  /usr/bin/python3 - "$MAIL_DIR/alice" <<'PY'
import base64, os, pwd, sys
maildir = sys.argv[1]
nobody = pwd.getpwnam("nobody")
word = lambda text: "=?ISO-2022-JP?B?%s?=" % base64.b64encode(text.encode("iso2022_jp")).decode()
for i in range(1, 6):
    text = ("Subject: %s\r\nFrom: %s <yamada@example.jp>\r\n\r\nbody\r\n"
            % (word("受信テスト %d 通目" % i), word("山田太郎")))
    name = "%04d.shot" % i
    with open(os.path.join(maildir, "tmp", name), "w") as f:
        f.write(text)
    os.chown(os.path.join(maildir, "tmp", name), nobody.pw_uid, nobody.pw_gid)
    os.rename(os.path.join(maildir, "tmp", name), os.path.join(maildir, "new", name))
PY
  export ZEL_SHOWCASE_POP3="127.0.0.1:$POP3_PORT"
else
  echo "screenshots: no test servers (not root?): the receive-all runs are left out" >&2
fi

showcase=$(cd "$w64" && pwd)/dialog_showcase.exe
for name in $($W64 "$showcase" --list | tr -d '\r'); do
  rm -f "$work"/*.flag
  # The program flags "shown" in its folder once the dialog is up and ends
  # when "done" appears there.
  (cd "$work" && $W64 explorer "/desktop=zelshots,640x400" "$showcase" "$name") >/dev/null 2>&1 &
  pid=$!
  for _ in $(seq 600); do [ -f "$work/shown.flag" ] && break; sleep 0.1; done
  [ -f "$work/shown.flag" ] || { echo "dialog $name did not appear" >&2; exit 1; }
  sleep 1  # let Wine finish drawing
  xwd -root -display "$DISPLAY" | xwdtopnm 2>/dev/null | pnmtopng > "$out/dialog-$name.png"
  touch "$work/done.flag"
  wait "$pid" || true
  echo "$out/dialog-$name.png"
done
