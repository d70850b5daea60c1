#!/bin/bash
# Private test mail servers on 127.0.0.1: Dovecot (POP3 with USER/PASS and
# APOP; STLS on the plain listener and a second listener with implicit TLS;
# IMAP from the same maildirs, STARTTLS on its plain listener and IMAPS)
# and an aiosmtpd SMTP server delivering into the maildirs Dovecot serves
# (STARTTLS and AUTH PLAIN/LOGIN against the test users, and XOAUTH2 against
# their tokens, on the plain listener, and a second listener with implicit
# TLS). Each server has the same two listeners once more on ::1 only, at
# ports that 127.0.0.1 refuses (the SMTP server holds them there bound, not
# listening). All listen on free ports; the state file tells tests where.
#
#   scripts/test-servers.sh start  [DIR]   (re)start both, fresh maildirs
#   scripts/test-servers.sh stop   [DIR]   stop both by PID, remove DIR
#   scripts/test-servers.sh status [DIR]   print the state, exit 1 if down
#   scripts/test-servers.sh certs  TLSDIR [DAYS]  only make the certificates
#                                          below (valid DAYS, default 30)
#
# Certificates (DIR/tls): a throw-away CA (ca.pem) made at every start, the
# servers' certificate (cert.pem, key.pem) for localhost, 127.0.0.1 and ::1
# signed by it, and a second CA (other-ca.pem) that signed nothing.
#
# DIR (default $ZEL_SERVERS_DIR or /tmp/zsrv) must be short: Dovecot keeps
# UNIX sockets under DIR/run. Must run as root (Dovecot reads mail as nobody).
#
# State file DIR/servers.env, one KEY=VALUE a line:
#   POP3_HOST POP3_PORT SMTP_HOST SMTP_PORT MAIL_DIR USERS (user:password,...)
#   DOVECOT_PID SMTP_PID LOCAL_POP3 (1 when a listener on port 110 at the
#   address the local host name resolves to was added, else 0)
#   LOCAL_POP3_ADDRESS LOCAL_HOST_NAME
#   POP3S_PORT SMTPS_PORT (implicit TLS) TLS_CA_FILE TLS_OTHER_CA_FILE
#   POP3_V6_PORT POP3S_V6_PORT SMTP_V6_PORT SMTPS_V6_PORT (the same on ::1)
#   TOKENS (user:token,...: the OAuth 2.0 access tokens XOAUTH2 accepts)
#   IMAP_PORT IMAPS_PORT (IMAP of 127.0.0.1, plain with STARTTLS / implicit TLS)
# Each user's maildir has a second IMAP folder, "日本語" (Maildir++ folder
# ".&ZeVnLIqe-"), beside INBOX.
set -u

SCRIPT_DIR=$(cd "$(dirname "$0")" && pwd)
ACTION=${1:-status}
DIR=${2:-${ZEL_SERVERS_DIR:-/tmp/zsrv}}
STATE=$DIR/servers.env
PY=/usr/bin/python3
USERS="alice:alicepw bob:bobpw"
TOKENS="alice:alice-access-token bob:bob-access-token"
# Shared by every start on this machine: port choice and binding in turn.
LOCK=/tmp/zel-test-servers.lock

die() { echo "test-servers: $*" >&2; exit 1; }

state_value() { sed -n "s/^$1=//p" "$STATE" 2>/dev/null | head -n 1; }

# A process that has exited but is not yet reaped (state Z) counts as gone.
alive() {
  [ -n "$1" ] && kill -0 "$1" 2>/dev/null || return 1
  [ "$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null)" != Z ]
}

stop_pid() {
  local pid=$1
  alive "$pid" || return 0
  kill "$pid" 2>/dev/null
  for _ in $(seq 50); do alive "$pid" || return 0; sleep 0.1; done
  kill -9 "$pid" 2>/dev/null
}

do_stop() {
  if [ -f "$STATE" ]; then
    stop_pid "$(state_value SMTP_PID)"
    stop_pid "$(state_value DOVECOT_PID)"
  fi
  case "$DIR" in
    /tmp/?*) rm -rf "$DIR" ;;
    *) [ -f "$STATE" ] && rm -f "$STATE" ;;
  esac
}

# Makes the test certificates in folder $1, valid $2 days (default 30).
# RSA: every TLS stack of the tests, Wine's included, verifies it.
make_certs() {
  local tls=$1 days=${2:-30}
  mkdir -p "$tls" || die "cannot create $tls"
  (
    set -e
    cd "$tls"
    openssl req -x509 -newkey rsa:2048 -nodes -days "$days" -subj "/CN=zelpost test CA" \
      -keyout ca.key -out ca.pem \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
    openssl req -x509 -newkey rsa:2048 -nodes -days "$days" -subj "/CN=zelpost other CA" \
      -keyout other-ca.key -out other-ca.pem \
      -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign"
    openssl req -new -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout key.pem -out cert.csr
    printf '%s\n' "subjectAltName=DNS:localhost,IP:127.0.0.1,IP:::1" "basicConstraints=CA:FALSE" \
      "keyUsage=critical,digitalSignature,keyEncipherment" "extendedKeyUsage=serverAuth" > cert.ext
    openssl x509 -req -in cert.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days "$days" \
      -extfile cert.ext -out cert.pem
    rm -f cert.csr cert.ext ca.srl other-ca.key
    chmod 644 ca.pem other-ca.pem cert.pem
    chmod 600 ca.key key.pem
  ) >"$tls/openssl.log" 2>&1 || { cat "$tls/openssl.log" >&2; die "cannot make certificates in $tls"; }
}

# Prints N free TCP ports of 127.0.0.1, then M ports free on both ::1 and
# 127.0.0.1.
free_ports() {
  $PY - "$1" "${2:-0}" <<'PY'
import socket, sys
socks, ports = [], []
for _ in range(int(sys.argv[1])):
    s = socket.socket(); s.bind(("127.0.0.1", 0)); socks.append(s)
    ports.append(s.getsockname()[1])
while len(ports) < int(sys.argv[1]) + int(sys.argv[2]):
    s6 = socket.socket(socket.AF_INET6); s6.bind(("::1", 0))
    s4 = socket.socket()
    try:
        s4.bind(("127.0.0.1", s6.getsockname()[1]))
    except OSError:
        continue
    socks += [s6, s4]
    ports.append(s6.getsockname()[1])
print(" ".join(str(p) for p in ports))
PY
}

# Prints the address the local host name resolves to when it is a loopback
# address whose port 110 is free; prints nothing otherwise.
local_pop3_address() {
  $PY <<'PY'
import socket
try:
    addr = socket.gethostbyname(socket.gethostname())
except OSError:
    raise SystemExit(0)
if addr.startswith("127."):
    s = socket.socket()
    # As Dovecot binds: only a listener, not a closed connection's
    # TIME_WAIT, keeps the port from being used.
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    try:
        s.bind((addr, 110))
        print(addr)
    except OSError:
        pass
    finally:
        s.close()
PY
}

# True when process PID holds the socket listening on 127.0.0.1:PORT (or, with
# a third argument, on that address): a server that answers on our port is
# then ours, not another test run's that took the port first.
owns_listener() {
  $PY - "$1" "$2" "${3:-127.0.0.1}" <<'PY'
import os, socket, struct, sys
pid, port, address = sys.argv[1], int(sys.argv[2]), sys.argv[3]
family = socket.AF_INET6 if ":" in address else socket.AF_INET
packed = socket.inet_pton(family, address)
want = "".join("%08X" % struct.unpack("=I", packed[i:i + 4])[0] for i in range(0, len(packed), 4))
want += ":%04X" % port
inodes = set()
for line in open("/proc/net/tcp6" if family == socket.AF_INET6 else "/proc/net/tcp").readlines()[1:]:
    f = line.split()
    if f[1] == want and f[3] == "0A":  # LISTEN
        inodes.add("socket:[%s]" % f[9])
try:
    fds = os.listdir("/proc/%s/fd" % pid)
except OSError:
    sys.exit(1)
for fd in fds:
    try:
        if os.readlink("/proc/%s/fd/%s" % (pid, fd)) in inodes:
            sys.exit(0)
    except OSError:
        pass
sys.exit(1)
PY
}

# Waits until HOST PORT answers with a line starting with PREFIX; gives up
# early when the server process PID has ended (its port was taken). With a
# fifth argument, a CA file, the answer must come over TLS (implicit TLS).
wait_greeting() {
  $PY - "$1" "$2" "$3" "$4" "${5:-}" <<'PY'
import socket, ssl, sys, time
host, port, prefix, pid, ca = sys.argv[1], int(sys.argv[2]), sys.argv[3].encode(), sys.argv[4], sys.argv[5]
context = ssl.create_default_context(cafile=ca) if ca else None
def running():
    try:
        return open("/proc/%s/stat" % pid).read().rsplit(")", 1)[1].split()[0] != "Z"
    except OSError:
        return False
deadline = time.time() + 15
while time.time() < deadline and running():
    try:
        with socket.create_connection((host, port), timeout=2) as s:
            if context:
                s = context.wrap_socket(s, server_hostname=host)
            if s.recv(512).startswith(prefix):
                s.sendall(b"QUIT\r\n")
                sys.exit(0)
    except OSError:
        pass
    time.sleep(0.1)
sys.exit(1)
PY
}

do_start() {
  [ "$(id -u)" = 0 ] || die "must run as root"
  [ ${#DIR} -le 60 ] || die "state dir too long (Dovecot sockets): $DIR"
  command -v dovecot >/dev/null || die "dovecot not installed"
  $PY -c "import aiosmtpd" 2>/dev/null || die "python3-aiosmtpd not installed"
  do_stop
  mkdir -p "$DIR" || die "cannot create $DIR"
  chmod 755 "$DIR"
  mkdir -p "$DIR/run" "$DIR/state" "$DIR/mail"
  chmod 755 "$DIR/run" "$DIR/state" "$DIR/mail"
  : > "$DIR/users"
  for entry in $USERS; do
    local user=${entry%%:*} pass=${entry#*:}
    echo "$user:{PLAIN}$pass" >> "$DIR/users"
    mkdir -p "$DIR/mail/$user/new" "$DIR/mail/$user/cur" "$DIR/mail/$user/tmp"
    # A second IMAP folder, named in Japanese ("日本語" in modified UTF-7).
    mkdir -p "$DIR/mail/$user/.&ZeVnLIqe-/new" "$DIR/mail/$user/.&ZeVnLIqe-/cur" \
      "$DIR/mail/$user/.&ZeVnLIqe-/tmp"
  done
  chmod 644 "$DIR/users"
  chown -R nobody:nogroup "$DIR/mail"
  make_certs "$DIR/tls"

  # Test runs of other build trees may start their servers at the same time:
  # choosing ports (and port 110) and binding them happens under one lock, and
  # each server must prove it owns its port; a lost race is tried again.
  exec 9>>"$LOCK"
  flock -w 120 9 || die "cannot lock $LOCK"
  local attempt
  for attempt in 1 2 3; do
    if launch; then
      exec 9>&-
      echo "test-servers: POP3 127.0.0.1:$POP3_PORT (TLS $POP3S_PORT)" \
           "SMTP 127.0.0.1:$SMTP_PORT (TLS $SMTPS_PORT)" \
           "IMAP $IMAP_PORT (TLS $IMAPS_PORT)" \
           "::1 POP3 $POP3_V6_PORT (TLS $POP3S_V6_PORT) SMTP $SMTP_V6_PORT (TLS $SMTPS_V6_PORT)" \
           "local POP3 on port 110: $LOCAL_FLAG ($DIR)"
      return 0
    fi
    stop_pid "$SMTP_PID_NEW"
    stop_pid "$DOVECOT_PID_NEW"
    rm -f "$STATE"
  done
  exec 9>&-
  cat "$DIR/dovecot.out" "$DIR/dovecot.log" "$DIR/smtp.log" >&2 2>/dev/null
  do_stop
  die "servers did not start on their own ports"
}

# Starts Dovecot and the SMTP server on fresh free ports and writes the state
# file. Returns 1 when a server did not come up on a port of its own.
launch() {
  DOVECOT_PID_NEW="" SMTP_PID_NEW=""
  read -r POP3_PORT SMTP_PORT POP3S_PORT SMTPS_PORT IMAP_PORT IMAPS_PORT \
    POP3_V6_PORT POP3S_V6_PORT SMTP_V6_PORT SMTPS_V6_PORT <<< "$(free_ports 6 4)"
  local local_addr local_listener=""
  LOCAL_FLAG=0
  local_addr=$(local_pop3_address)
  if [ -n "$local_addr" ]; then
    LOCAL_FLAG=1
    local_listener="  inet_listener pop3local {
    address = $local_addr
    port = 110
  }"
  fi

  cat > "$DIR/dovecot.conf" <<CONF
protocols = pop3 imap
listen = 127.0.0.1
base_dir = $DIR/run
state_dir = $DIR/state
instance_name = zelpost-test-$(basename "$DIR")
log_path = $DIR/dovecot.log
ssl = yes
ssl_cert = <$DIR/tls/cert.pem
ssl_key = <$DIR/tls/key.pem
disable_plaintext_auth = no
auth_mechanisms = plain apop
auth_failure_delay = 0
first_valid_uid = 1
passdb {
  driver = passwd-file
  args = scheme=PLAIN username_format=%u $DIR/users
}
userdb {
  driver = static
  args = uid=nobody gid=nogroup home=$DIR/mail/%u
}
mail_location = maildir:$DIR/mail/%u
service pop3-login {
  inet_listener pop3 {
    address = 127.0.0.1
    port = $POP3_PORT
  }
  inet_listener pop3s {
    address = 127.0.0.1
    port = $POP3S_PORT
    ssl = yes
  }
  inet_listener pop3v6 {
    address = ::1
    port = $POP3_V6_PORT
  }
  inet_listener pop3sv6 {
    address = ::1
    port = $POP3S_V6_PORT
    ssl = yes
  }
$local_listener
}
service imap-login {
  inet_listener imap {
    address = 127.0.0.1
    port = $IMAP_PORT
  }
  inet_listener imaps {
    address = 127.0.0.1
    port = $IMAPS_PORT
    ssl = yes
  }
}
service anvil {
  unix_listener anvil-auth-penalty {
    mode = 0
  }
}
CONF

  # The servers must not inherit the lock (fd 9): they would hold it.
  dovecot -F -c "$DIR/dovecot.conf" </dev/null >"$DIR/dovecot.out" 2>&1 9>&- &
  local dovecot_pid=$!
  DOVECOT_PID_NEW=$dovecot_pid
  rm -f "$DIR/smtp.ready"
  : > "$DIR/tokens"
  for entry in $TOKENS; do echo "$entry" >> "$DIR/tokens"; done
  $PY "$SCRIPT_DIR/smtp_maildir_server.py" "$DIR" "$SMTP_PORT" "$SMTPS_PORT" \
    "$SMTP_V6_PORT" "$SMTPS_V6_PORT" "$POP3_V6_PORT" "$POP3S_V6_PORT" \
    </dev/null >"$DIR/smtp.log" 2>&1 9>&- &
  local smtp_pid=$!
  SMTP_PID_NEW=$smtp_pid

  cat > "$STATE" <<ENV
POP3_HOST=127.0.0.1
POP3_PORT=$POP3_PORT
SMTP_HOST=127.0.0.1
SMTP_PORT=$SMTP_PORT
MAIL_DIR=$DIR/mail
USERS=$(echo $USERS | tr ' ' ',')
DOVECOT_PID=$dovecot_pid
SMTP_PID=$smtp_pid
LOCAL_POP3=$LOCAL_FLAG
LOCAL_POP3_ADDRESS=$local_addr
LOCAL_HOST_NAME=$(hostname)
POP3S_PORT=$POP3S_PORT
SMTPS_PORT=$SMTPS_PORT
TLS_CA_FILE=$DIR/tls/ca.pem
TLS_OTHER_CA_FILE=$DIR/tls/other-ca.pem
POP3_V6_PORT=$POP3_V6_PORT
POP3S_V6_PORT=$POP3S_V6_PORT
SMTP_V6_PORT=$SMTP_V6_PORT
SMTPS_V6_PORT=$SMTPS_V6_PORT
TOKENS=$(echo $TOKENS | tr ' ' ',')
IMAP_PORT=$IMAP_PORT
IMAPS_PORT=$IMAPS_PORT
ENV

  wait_greeting 127.0.0.1 "$POP3_PORT" "+OK" "$dovecot_pid" || return 1
  wait_greeting 127.0.0.1 "$SMTP_PORT" "220" "$smtp_pid" || return 1
  # A greeting may come from another run's server that holds the port.
  owns_listener "$dovecot_pid" "$POP3_PORT" || return 1
  owns_listener "$smtp_pid" "$SMTP_PORT" || return 1
  wait_greeting 127.0.0.1 "$POP3S_PORT" "+OK" "$dovecot_pid" "$DIR/tls/ca.pem" || return 1
  wait_greeting 127.0.0.1 "$SMTPS_PORT" "220" "$smtp_pid" "$DIR/tls/ca.pem" || return 1
  owns_listener "$dovecot_pid" "$POP3S_PORT" || return 1
  owns_listener "$smtp_pid" "$SMTPS_PORT" || return 1
  wait_greeting 127.0.0.1 "$IMAP_PORT" "* OK" "$dovecot_pid" || return 1
  wait_greeting 127.0.0.1 "$IMAPS_PORT" "* OK" "$dovecot_pid" "$DIR/tls/ca.pem" || return 1
  owns_listener "$dovecot_pid" "$IMAP_PORT" || return 1
  owns_listener "$dovecot_pid" "$IMAPS_PORT" || return 1
  wait_greeting ::1 "$POP3_V6_PORT" "+OK" "$dovecot_pid" || return 1
  wait_greeting ::1 "$SMTP_V6_PORT" "220" "$smtp_pid" || return 1
  wait_greeting ::1 "$POP3S_V6_PORT" "+OK" "$dovecot_pid" "$DIR/tls/ca.pem" || return 1
  wait_greeting ::1 "$SMTPS_V6_PORT" "220" "$smtp_pid" "$DIR/tls/ca.pem" || return 1
  for port in "$POP3_V6_PORT" "$POP3S_V6_PORT"; do
    owns_listener "$dovecot_pid" "$port" ::1 || return 1
  done
  for port in "$SMTP_V6_PORT" "$SMTPS_V6_PORT"; do
    owns_listener "$smtp_pid" "$port" ::1 || return 1
  done
  if [ "$LOCAL_FLAG" = 1 ]; then
    owns_listener "$dovecot_pid" 110 "$local_addr" || return 1
  fi
  return 0
}

do_status() {
  [ -f "$STATE" ] || { echo "test-servers: not running ($DIR)"; exit 1; }
  cat "$STATE"
  alive "$(state_value DOVECOT_PID)" && alive "$(state_value SMTP_PID)" || exit 1
}

case "$ACTION" in
  start) do_start ;;
  stop) do_stop ;;
  status) do_status ;;
  certs) [ $# -ge 2 ] || die "usage: $0 certs TLSDIR [DAYS]"; make_certs "$2" "${3:-30}" ;;
  *) die "usage: $0 start|stop|status|certs [DIR]" ;;
esac
