#!/usr/bin/python3
"""Loopback FTP server for Tarnwick's tests, built on Debian's python3-pyftpdlib.

Serves --root to one user with full permissions and to anonymous users with read access, on
the listening socket it inherits as descriptor 3 (bound to 127.0.0.1 by the test, so that
clients may connect before this script runs). Exits when its stdin reaches end of file, so
that it never outlives the test process that started it. Its log goes to stderr; it exits
with status 3 when it cannot serve.
"""

import argparse
import os
import socket
import sys
import threading


def parse_arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--user", default="tarnwick")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--certfile", help="PEM certificate and key: offer TLS (AUTH TLS)")
    parser.add_argument("--no-machine-listings", action="store_true",
                        help="no MLST/MLSD: clients list with LIST")
    return parser.parse_args()


def exit_when_parent_goes():
    # The test process holds the other end of stdin; end of file means it is gone.
    while sys.stdin.buffer.read(4096):
        pass
    os._exit(0)


def main():
    args = parse_arguments()
    try:
        from pyftpdlib.authorizers import DummyAuthorizer
        from pyftpdlib.handlers import FTPHandler
        if args.certfile:
            from pyftpdlib.handlers import TLS_FTPHandler as FTPHandler
        from pyftpdlib.servers import FTPServer
    except ImportError as error:
        sys.stderr.write("pyftpdlib is not installed (Debian package python3-pyftpdlib): %s\n"
                         % error)
        return 3

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    authorizer.add_anonymous(args.root, perm="elr")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.banner = "Tarnwick test server ready."
    if args.certfile:
        Handler.certfile = args.certfile
    if args.no_machine_listings:
        Handler.proto_cmds = {name: info for name, info in FTPHandler.proto_cmds.items()
                              if name not in ("MLST", "MLSD")}

    server = FTPServer(socket.socket(fileno=3), Handler)
    threading.Thread(target=exit_when_parent_goes, daemon=True).start()
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
