#!/usr/bin/env python3
"""A TLS-only peer for the tests: python3 tls-only-peer.py HOST PORT CERT KEY

A client that opens with a TLS handshake gets one (with CERT) and then the connection is
closed without a word; any other client gets a fatal TLS alert record (protocol_version)
and the close, as many TLS-only servers answer a plain request."""
import socket
import ssl
import sys
import threading

ALERT = bytes([21, 3, 3, 0, 2, 2, 70])


def serve(conn, context):
    try:
        conn.settimeout(10)
        first = conn.recv(1, socket.MSG_PEEK)
        if first[:1] == b"\x16":
            with context.wrap_socket(conn, server_side=True) as tls:
                try:
                    tls.recv(4096)
                except (OSError, ssl.SSLError):
                    pass
            return
        # Read the request first and close in order: closing with unread bytes would reset
        # the connection, and a reset may overtake the alert at the client.
        conn.settimeout(0.5)
        try:
            request = b""
            while b"\r\n\r\n" not in request and len(request) < 65536:
                piece = conn.recv(4096)
                if not piece:
                    break
                request += piece
        except OSError:
            pass
        conn.sendall(ALERT)
        conn.shutdown(socket.SHUT_WR)
        conn.settimeout(5)
        while conn.recv(4096):
            pass
    except (OSError, ssl.SSLError):
        pass
    finally:
        conn.close()


def main():
    host, port, cert, key = sys.argv[1], int(sys.argv[2]), sys.argv[3], sys.argv[4]
    context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
    context.load_cert_chain(cert, key)
    listener = socket.create_server((host, port))
    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn, context), daemon=True).start()


if __name__ == "__main__":
    main()
