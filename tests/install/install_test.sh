#!/bin/bash
# Installs the build into a temporary prefix and uses the installed copy as
# its users would: a C host program built outside the tree, once with
# pkg-config and once with find_package, runs against the installed
# library; the installed zelsend and zelrecv load the library by its
# run-time name alone (a run-time package has no link libzelpost.so); the
# man pages render without warnings.
#   install_test.sh BUILD_DIR C_COMPILER VERSION
set -euo pipefail
build=$1 cc=$2 version=$3
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/zelinstall.XXXXXX")
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
fail() { echo "FAIL: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$prefix" >/dev/null
pc=$(find "$prefix" -name zelpost.pc)
[ -n "$pc" ] || fail "no zelpost.pc"
libdir=$(dirname "$(dirname "$pc")")
[ -f "$libdir/libzelpost.so.$version" ] && [ -L "$libdir/libzelpost.so.${version%%.*}" ] &&
  [ -L "$libdir/libzelpost.so" ] || fail "library and its links in $libdir"

# The host prints the version text when the library behaved.
run_host() {
  local out
  out=$("$2") || fail "$1: host exit status $?"
  [ "$out" = "zelpost.dll ver.$version" ] || fail "$1: host printed '$out'"
  echo "$1: $out"
}

export PKG_CONFIG_PATH=${pc%/*}
# shellcheck disable=SC2046
"$cc" "$here/host/host.c" -o "$work/host-pkg-config" $(pkg-config --cflags --libs zelpost) \
  -Wl,-rpath,"$(pkg-config --variable=libdir zelpost)"
run_host pkg-config "$work/host-pkg-config"

cmake -S "$here/host" -B "$work/host-build" -DCMAKE_C_COMPILER="$cc" \
  -DCMAKE_PREFIX_PATH="$prefix" >/dev/null
cmake --build "$work/host-build" >/dev/null
run_host find_package "$work/host-build/host"

# Reaching the send file's error proves the library was loaded.
rm "$libdir/libzelpost.so"
cd "$work"
status=0
err=$(LC_ALL=C.UTF-8 "$prefix/bin/zelsend" -S127.0.0.1:1 -Mm -Nn -Fnothere.qml \
  2>&1 >/dev/null </dev/null) || status=$?
[ "$status" = 255 ] && [ "$(head -n 1 <<< "$err")" = "err: 送信ファイルが開けない [nothere.qml]" ] ||
  fail "installed zelsend: status $status, '$err'"
echo "zelsend: loads $(readlink "$libdir/libzelpost.so.${version%%.*}")"
# A refused login is reported after the library's receive has run.
status=0
err=$(ZEL_INSTALL_PW=pw LC_ALL=C.UTF-8 "$prefix/bin/zelrecv" -S127.0.0.1:1 -Uu -Ll -Mm \
  -EZEL_INSTALL_PW 2>&1 >/dev/null </dev/null) || status=$?
[ "$status" = 69 ] && [ "$err" = "err: POP3サーバへのログインまたはメール一覧の取得に失敗 [127.0.0.1:1]
詳細: 接続を拒否された [127.0.0.1:1]" ] ||
  fail "installed zelrecv: status $status, '$err'"
echo "zelrecv: loads the library"

# zelsendmail: the message read, the account's server refused.
printf 'account default\nsmtp_host 127.0.0.1\nsmtp_port 1\nfrom m@example.jp\n' > "$work/accounts"
status=0
err=$(echo hello | LC_ALL=C.UTF-8 "$prefix/bin/zelsendmail" --config "$work/accounts" -oi to@example.jp \
  2>&1 >/dev/null) || status=$?
[ "$status" = 69 ] && [ "$(head -n 1 <<< "$err")" = "err: SMTP初期化でエラー発生 [127.0.0.1:1]" ] ||
  fail "installed zelsendmail: status $status, '$err'"
echo "zelsendmail: loads the library"
[ -f "$prefix/share/doc/zelpost/examples/accounts" ] || fail "no example accounts file"

for program in zelsend zelrecv zelsendmail; do
  man_page=$prefix/share/man/man1/$program.1
  [ -f "$man_page" ] || fail "no man page $program.1"
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$man_page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man page $program.1: $warnings"
done
echo "man pages: render"
