#!/usr/bin/python3
"""SMTP test server: delivers every accepted message into DIR/mail/LOCAL/new/.

Usage: smtp_maildir_server.py DIR PORT TLSPORT V6PORT V6TLSPORT [HOLDPORT...]

PORT is plain SMTP offering STARTTLS; TLSPORT speaks TLS from the first byte
(implicit TLS); V6PORT and V6TLSPORT are the same on ::1 only. All use
DIR/tls/cert.pem and key.pem. AUTH PLAIN and LOGIN check the users of
DIR/users ("user:{PLAIN}password" lines), AUTH XOAUTH2 the access tokens of
DIR/tokens ("user:token" lines); they are offered only on an encrypted
connection; a send without AUTH is accepted as before. A refused token gets
the error challenge of the providers (base64 JSON), then 535.

The ::1 ports and every HOLDPORT are held bound on 127.0.0.1 without
listening: a client that tries 127.0.0.1 there is refused at once.

The maildirs are the ones the private Dovecot serves, so a message sent by
SMTP can be fetched back over POP3. Refusals on purpose, for failure tests:
  - 550 to a RCPT TO whose address contains "reject";
  - 451 to a RCPT TO whose address contains "defer";
  - 554 after DATA when the sender contains "datafail".
The message is stored exactly as received after the DATA dot-unstuffing
(original_content), owned by the mail user so Dovecot can move and delete it.
"""
import asyncio
import base64
import os
import pwd
import re
import socket
import sys
import time

import ssl

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword

MAIL_USER = pwd.getpwnam("nobody")
SAFE_LOCAL = re.compile(r"^[A-Za-z0-9._-]+$")


class MaildirHandler:
    def __init__(self, base):
        self.base = base
        self.counter = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if "reject" in address:
            return "550 5.1.1 <%s>: recipient refused" % address
        if "defer" in address:
            return "451 4.3.0 <%s>: try again later" % address
        local = address.split("@", 1)[0]
        if not SAFE_LOCAL.match(local):
            return "553 5.1.3 <%s>: bad mailbox name" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if envelope.mail_from and "datafail" in envelope.mail_from:
            return "554 5.6.0 message refused"
        for address in envelope.rcpt_tos:
            self.deliver(address.split("@", 1)[0], envelope.original_content)
        return "250 OK delivered"

    def deliver(self, local, content):
        maildir = os.path.join(self.base, local)
        for sub in ("", "new", "cur", "tmp"):
            path = os.path.join(maildir, sub)
            if not os.path.isdir(path):
                os.makedirs(path, mode=0o700, exist_ok=True)
                os.chown(path, MAIL_USER.pw_uid, MAIL_USER.pw_gid)
        self.counter += 1
        name = "%d.S%d_%d.smtp" % (time.time(), os.getpid(), self.counter)
        tmp = os.path.join(maildir, "tmp", name)
        with open(tmp, "wb") as f:
            f.write(content)
        os.chown(tmp, MAIL_USER.pw_uid, MAIL_USER.pw_gid)
        os.rename(tmp, os.path.join(maildir, "new", name))


class TokenHandler(MaildirHandler):
    """The maildir handler with AUTH XOAUTH2 against the tokens file."""

    ERROR = '{"status":"401","schemes":"bearer","scope":"https://mail.zelpost.test/"}'

    def __init__(self, base, tokens_path):
        super().__init__(base)
        self.tokens = {}
        with open(tokens_path) as f:
            for line in f:
                user, _, token = line.strip().partition(":")
                if user:
                    self.tokens[user] = token

    async def auth_XOAUTH2(self, server, args):
        if len(args) > 1:
            blob = base64.b64decode(args[1])
        else:
            blob = await server.challenge_auth("")
            if not isinstance(blob, bytes):
                return AuthResult(success=False, handled=True)
        fields = dict(part.split("=", 1) for part in blob.decode("latin-1").split("\x01") if "=" in part)
        user, auth = fields.get("user", ""), fields.get("auth", "")
        if user in self.tokens and auth == "Bearer " + self.tokens[user]:
            return AuthResult(success=True, auth_data=LoginPassword(user.encode(), b""))
        await server.challenge_auth(self.ERROR)  # the client answers with an empty line
        return AuthResult(success=False, handled=False,
                          message="535 5.7.8 Username and Password not accepted")


class UserAuthenticator:
    """Accepts the user name and password of a line of the users file."""

    def __init__(self, users_path):
        self.users = {}
        with open(users_path) as f:
            for line in f:
                user, _, password = line.strip().partition(":{PLAIN}")
                if user:
                    self.users[user.encode()] = password.encode()

    def __call__(self, server, session, envelope, mechanism, auth_data):
        ok = (isinstance(auth_data, LoginPassword)
              and self.users.get(auth_data.login) == auth_data.password)
        return AuthResult(success=ok, handled=False)


def listen(port, address="127.0.0.1"):
    # Created with the TCP protocol number so that asyncio sets TCP_NODELAY
    # on every accepted connection (no delayed-ACK stall per reply).
    family = socket.AF_INET6 if ":" in address else socket.AF_INET
    listener = socket.socket(family, socket.SOCK_STREAM, socket.IPPROTO_TCP)
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind((address, port))
    listener.listen(64)
    return listener


def hold(port):
    """Binds 127.0.0.1:port without listening: connections there are refused."""
    held = socket.socket(socket.AF_INET, socket.SOCK_STREAM, socket.IPPROTO_TCP)
    held.bind(("127.0.0.1", port))
    return held


def main():
    base_dir, port, tls_port = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
    v6_port, v6_tls_port = int(sys.argv[4]), int(sys.argv[5])
    held = [hold(p) for p in [v6_port, v6_tls_port] + [int(a) for a in sys.argv[6:]]]
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(os.path.join(base_dir, "tls", "cert.pem"),
                            os.path.join(base_dir, "tls", "key.pem"))
    handler = TokenHandler(os.path.join(base_dir, "mail"), os.path.join(base_dir, "tokens"))
    authenticator = UserAuthenticator(os.path.join(base_dir, "users"))
    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    common = dict(hostname="localhost", decode_data=False, data_size_limit=None,
                  authenticator=authenticator)
    servers = []
    for address, plain_port, implicit_port in (("127.0.0.1", port, tls_port),
                                               ("::1", v6_port, v6_tls_port)):
        # STARTTLS on the plain port; AUTH only once it is encrypted.
        servers.append(loop.run_until_complete(loop.create_server(
            lambda: SMTP(handler, tls_context=context, require_starttls=False,
                         auth_require_tls=True, **common), sock=listen(plain_port, address))))
        # Implicit TLS: aiosmtpd does not know the transport is encrypted, so
        # AUTH is allowed there without its own check.
        servers.append(loop.run_until_complete(loop.create_server(
            lambda: SMTP(handler, auth_require_tls=False, **common),
            sock=listen(implicit_port, address), ssl=context)))
    ready = os.path.join(base_dir, "smtp.ready")
    with open(ready, "w") as f:
        f.write("%d %d\n" % (port, tls_port))
    try:
        loop.run_forever()
    finally:
        for server in servers:
            server.close()
        for socket_ in held:
            socket_.close()


if __name__ == "__main__":
    main()
