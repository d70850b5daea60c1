#!/bin/bash
# Installs every Debian 12 package that building, testing, the demo and the
# Windows cross build need (run as root), and generates the ja_JP.UTF-8
# locale that Wine needs for code page 932 and Japanese file names.
# Run as root; another user goes through sudo (a fresh Debian 12 installed
# with a root password has no sudo, and root needs none).
set -euo pipefail
if [ "$(id -u)" -ne 0 ]; then
  command -v sudo >/dev/null || { echo "install-deps.sh: run as root (no sudo here)" >&2; exit 1; }
  exec sudo bash "$0" "$@"
fi
export DEBIAN_FRONTEND=noninteractive
APT="apt-get -o DPkg::Lock::Timeout=600"
$APT update -q
# Postfix only for its smtp-sink (the send benchmark's server): no mail
# system is configured or started.
echo "postfix postfix/main_mailer_type select No configuration" | debconf-set-selections
$APT install -y -q --no-install-recommends \
  build-essential cmake g++ libgtest-dev googletest libbenchmark-dev python3 \
  python3-venv python3-pip python3-setuptools \
  libssl-dev openssl libgnutls30 \
  clang libclang-rt-14-dev \
  g++-mingw-w64-x86-64 g++-mingw-w64-i686 mingw-w64-tools libwine-dev \
  xvfb xauth x11-apps netpbm fonts-ipafont-gothic \
  dovecot-core dovecot-pop3d dovecot-imapd python3-aiosmtpd fetchmail msmtp mpop postfix notmuch mblaze s-nail coreutils \
  locales valgrind pkg-config man-db groff-base tmux strace mutt neomutt mailutils
$APT install -y -q wine wine64
if ! locale -a | grep -qi '^ja_JP\.utf8$'; then
  sed -i 's/^# *ja_JP.UTF-8 UTF-8/ja_JP.UTF-8 UTF-8/' /etc/locale.gen
  grep -q '^ja_JP.UTF-8 UTF-8' /etc/locale.gen || echo 'ja_JP.UTF-8 UTF-8' >> /etc/locale.gen
  locale-gen
fi
