#!/usr/bin/env python3
"""A scripted Shoutcast server for the tests, for what no free server does:

    python3 shoutcast-peer.py v1|v2 HOST PORT PASSWORD LOG [NAK...]

v1: a DNAS 2 taking v1 sources: the password line ("password" or "password:#sid") is
logged and answered "OK2" when its password matches, "invalid password" otherwise; the
"icy-" headers are logged, then the stream is kept.

v2: Ultravox 2.1. Every message is checked for its framing (sync byte, reserved byte,
length, trailing 0); the handshake must come in order: cipher key request, the
authentication (decrypted with XTEA and checked), MIME type, bitrate, maximum payload,
name, genre, URL, public flag, standby. Then data messages of one type, each within the
agreed size, and cacheable XML metadata. NAK arguments "SID:TYPE=TEXT" (TYPE in hex, like
1002; SID a stream id, or * for any) answer that message of a source of that stream
with TEXT instead of its ACK.

One line per event goes to LOG ("password-line ...", "header ...", "order ok", "auth
USER PASSWORD", "title ...", "error ..."); each connection's stream payloads go to
LOG.N.data, N counting from 1. An HTTP GET of "/stats?sid=N&json=1" gets DNAS 2's
statistics: the name "Peer Stream", the last title and 3 listeners; other requests a
404, and a TLS handshake the close."""
import json
import html
import re
import socket
import struct
import sys
import threading

CIPHER_KEY = "kv-test-cipher"
MAX_PAYLOAD = 16000
ORDER = [0x1009, 0x1001, 0x1040, 0x1002, 0x1008, 0x1100, 0x1101, 0x1102, 0x1103, 0x1004]
DATA_TYPES = {0x7000, 0x8001, 0x8003}
METADATA = 0x3902

log_lock = threading.Lock()
connections = 0
last_title = ""


def log(path, line):
    with log_lock, open(path, "a", encoding="utf-8") as f:
        f.write(line + "\n")


def xtea_decrypt_hex(text, key):
    raw = bytes.fromhex(text)
    k = struct.unpack(">4I", key.encode()[:16].ljust(16, b"\0"))
    out = b""
    for at in range(0, len(raw), 8):
        v0, v1 = struct.unpack(">2I", raw[at:at + 8])
        delta, mask = 0x9E3779B9, 0xFFFFFFFF
        total = (delta * 32) & mask
        for _ in range(32):
            v1 = (v1 - ((((v0 << 4) ^ (v0 >> 5)) + v0) ^ (total + k[(total >> 11) & 3]))) & mask
            total = (total - delta) & mask
            v0 = (v0 - ((((v1 << 4) ^ (v1 >> 5)) + v1) ^ (total + k[total & 3]))) & mask
        out += struct.pack(">2I", v0, v1)
    return out.rstrip(b"\0").decode("utf-8", "replace")


def read_exact(conn, count):
    data = b""
    while len(data) < count:
        chunk = conn.recv(count - len(data))
        if not chunk:
            raise EOFError
        data += chunk
    return data


def message(kind, payload):
    payload = payload.encode() if isinstance(payload, str) else payload
    return struct.pack(">BBHH", 0x5A, 0, kind, len(payload)) + payload + b"\0"


def serve_v2(conn, password, path, naks, number):
    data_file = open(f"{path}.{number}.data", "wb")
    step = 0
    payload_limit = MAX_PAYLOAD
    data_type = None
    sid = "*"
    while True:
        header = read_exact(conn, 6)
        sync, reserved, kind, size = struct.unpack(">BBHH", header)
        if sync != 0x5A or reserved != 0:
            log(path, "error framing %r" % header)
            return
        body = read_exact(conn, size + 1)
        if body[-1] != 0:
            log(path, "error trailer 0x%04x" % kind)
            return
        payload = body[:-1]
        if step < len(ORDER):
            if kind != ORDER[step]:
                log(path, "error order: 0x%04x where 0x%04x belongs" % (kind, ORDER[step]))
                return
            step += 1
            text = payload.decode("utf-8", "replace")
            answer = "ACK"
            if kind == 0x1009:
                answer = "ACK:" + CIPHER_KEY
            elif kind == 0x1001:
                parts = text.split(":")
                if len(parts) != 4 or parts[0] != "2.1":
                    log(path, "error auth payload " + text)
                    return
                user, secret = xtea_decrypt_hex(parts[2], CIPHER_KEY), xtea_decrypt_hex(parts[3], CIPHER_KEY)
                sid = parts[1]
                log(path, "auth sid=%s user=%s password=%s" % (sid, user, secret))
                answer = "ACK:2.1 Allow" if secret == password else "NAK:2.1 Deny"
            elif kind == 0x1008:
                desired, minimum = (int(v) for v in text.split(":"))
                payload_limit = min(desired, MAX_PAYLOAD)
                answer = "ACK:%d" % payload_limit
            else:
                log(path, "message 0x%04x %s" % (kind, text))
            answer = naks.get((sid, kind), naks.get(("*", kind), answer))
            conn.sendall(message(kind, answer))
            if answer.startswith("NAK"):
                return
            if step == len(ORDER):
                log(path, "order ok")
            continue
        if kind == METADATA:
            xml = payload[6:].decode("utf-8", "replace")
            found = re.search(r"<TIT2>(.*?)</TIT2>", xml, re.S)
            global last_title
            last_title = html.unescape(found.group(1)) if found else ""
            log(path, "title " + (last_title if found else "(none) " + xml))
        elif kind in DATA_TYPES:
            if data_type is None:
                data_type = kind
                log(path, "data 0x%04x" % kind)
            if kind != data_type or len(payload) > payload_limit:
                log(path, "error data message 0x%04x of %d bytes" % (kind, len(payload)))
                return
            data_file.write(payload)
            data_file.flush()
        elif kind == 0x1005:
            log(path, "terminate")
            return
        else:
            log(path, "error unexpected 0x%04x" % kind)
            return


def serve_v1(conn, password, path):
    line = b""
    while not line.endswith(b"\n"):
        line += read_exact(conn, 1)
    text = line.decode("utf-8", "replace").rstrip("\r\n")
    log(path, "password-line " + text)
    given = re.sub(r":#\d+$", "", text)
    if given != password:
        conn.sendall(b"invalid password\r\n")
        return
    conn.sendall(b"OK2\r\nicy-caps:11\r\n\r\n")
    headers = b""
    while not headers.endswith(b"\r\n\r\n"):
        headers += read_exact(conn, 1)
    for header in headers.decode("utf-8", "replace").split("\r\n"):
        if header:
            log(path, "header " + header)
    while conn.recv(65536):
        pass


def answer_http(conn):
    request = b""
    while b"\r\n\r\n" not in request:
        chunk = conn.recv(4096)
        if not chunk:
            return
        request += chunk
    target = request.split(b" ")[1].decode("utf-8", "replace")
    if target.startswith("/stats?") and "json=1" in target:
        body = json.dumps({"currentlisteners": 3, "servertitle": "Peer Stream", "songtitle": last_title}).encode()
        head = "HTTP/1.0 200 OK\r\nContent-Type: application/json\r\n"
    else:
        body, head = b"", "HTTP/1.0 404 Not Found\r\n"
    conn.sendall(head.encode() + b"Content-Length: %d\r\n\r\n" % len(body) + body)


def serve(conn, mode, password, path, naks):
    global connections
    conn.settimeout(60)
    first = conn.recv(4, socket.MSG_PEEK)
    if first[:1] == b"\x16" or first == b"GET ":
        try:
            if first == b"GET ":
                answer_http(conn)
        except OSError:
            pass
        conn.close()
        return
    with log_lock:
        connections += 1
        number = connections
    try:
        if mode == "v1":
            serve_v1(conn, password, path)
        else:
            serve_v2(conn, password, path, naks, number)
    except (EOFError, OSError):
        pass
    finally:
        log(path, "closed")
        conn.close()


def main():
    mode, host, port, password, path = sys.argv[1:6]
    naks = {}
    for spec in sys.argv[6:]:
        key, text = spec.split("=", 1)
        sid, kind = key.split(":")
        naks[(sid, int(kind, 16))] = text
    server = socket.socket(socket.AF_INET, socket.SOCK_STREAM)
    server.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    server.bind((host, int(port)))
    server.listen(8)
    while True:
        conn, _ = server.accept()
        threading.Thread(target=serve, args=(conn, mode, password, path, naks), daemon=True).start()


if __name__ == "__main__":
    main()
