# Small servers of the receiving tools' tests, each bounded in time:
#   socks5 PORTFILE LOGFILE [USER PASSWORD]  a SOCKS5 proxy (RFC 1928/1929)
#     that logs each CONNECT request ("ATYP host port"), refuses port 1 with
#     reply 5 and relays the rest.
#   recorder PORTFILE LOGFILE  a POP3 server that logs every line it is sent
#     and refuses every login.
import socket, sys, threading, time

LIFETIME = 120  # seconds a server runs at most


def listen(portfile):
    s = socket.socket()
    s.bind(('127.0.0.1', 0))
    s.listen(16)
    s.settimeout(LIFETIME)
    with open(portfile + '.tmp', 'w') as f:
        f.write(str(s.getsockname()[1]))
    import os
    os.rename(portfile + '.tmp', portfile)
    return s


def recv_exactly(c, n):
    data = b''
    while len(data) < n:
        chunk = c.recv(n - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def relay(a, b):
    try:
        while True:
            data = a.recv(65536)
            if not data:
                break
            b.sendall(data)
    except OSError:
        pass
    for x in (a, b):
        try:
            x.shutdown(socket.SHUT_RDWR)
        except OSError:
            pass


def socks_client(c, log, user, password):
    try:
        version, count = recv_exactly(c, 2)
        methods = recv_exactly(c, count)
        want = 2 if user else 0
        if version != 5 or want not in methods:
            c.sendall(b'\x05\xff')
            return
        c.sendall(bytes([5, want]))
        if user:
            recv_exactly(c, 1)
            u = recv_exactly(c, recv_exactly(c, 1)[0])
            p = recv_exactly(c, recv_exactly(c, 1)[0])
            ok = u.decode() == user and p.decode() == password
            c.sendall(b'\x01' + (b'\x00' if ok else b'\x01'))
            if not ok:
                return
        _, command, _, atyp = recv_exactly(c, 4)
        if atyp == 3:
            host = recv_exactly(c, recv_exactly(c, 1)[0]).decode()
        elif atyp == 1:
            host = socket.inet_ntoa(recv_exactly(c, 4))
        else:
            host = socket.inet_ntop(socket.AF_INET6, recv_exactly(c, 16))
        port = int.from_bytes(recv_exactly(c, 2), 'big')
        with open(log, 'a') as f:
            f.write('%d %s %d\n' % (atyp, host, port))
        if command != 1 or port == 1:
            c.sendall(b'\x05\x05\x00\x01\x00\x00\x00\x00\x00\x00')
            return
        target = socket.create_connection(('127.0.0.1' if host == 'localhost' else host, port), timeout=10)
        c.sendall(b'\x05\x00\x00\x01\x7f\x00\x00\x01\x00\x00')
        threading.Thread(target=relay, args=(target, c), daemon=True).start()
        relay(c, target)
    except (OSError, EOFError, ValueError):
        pass


def recorder_client(c, log):
    f = c.makefile('rb')
    c.sendall(b'+OK recorder\r\n')
    for line in f:
        with open(log, 'ab') as out:
            out.write(line)
        word = line.split(b' ')[0].strip().upper()
        if word == b'QUIT':
            c.sendall(b'+OK bye\r\n')
            break
        c.sendall(b'-ERR refused\r\n' if word in (b'PASS', b'AUTH', b'APOP') else b'+OK\r\n')
    c.close()


def main():
    kind, portfile, log = sys.argv[1:4]
    extra = sys.argv[4:]
    s = listen(portfile)
    end = time.time() + LIFETIME
    while time.time() < end:
        try:
            c, _ = s.accept()
        except OSError:
            break
        c.settimeout(30)
        if kind == 'socks5':
            args = (c, log, extra[0] if extra else None, extra[1] if extra else None)
            threading.Thread(target=socks_client, args=args, daemon=True).start()
        else:
            threading.Thread(target=recorder_client, args=(c, log), daemon=True).start()


main()
