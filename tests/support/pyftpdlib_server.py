#!/usr/bin/python3
"""Loopback FTP server for Tarnwick's tests, built on Debian's python3-pyftpdlib.

Serves --root on 127.0.0.1 to one user with full permissions and to anonymous users with
read access. Prints "PORT <n>" on stdout once it listens (or "ERROR <reason>" and exits 3),
and exits when its stdin reaches end of file, so that it never outlives the test process
that started it. Its log goes to stderr.
"""

import argparse
import errno
import os
import sys
import threading
import time


def parse_arguments():
    parser = argparse.ArgumentParser()
    parser.add_argument("--root", required=True)
    parser.add_argument("--port", type=int, default=0)
    parser.add_argument("--user", default="tarnwick")
    parser.add_argument("--password", default="secret")
    parser.add_argument("--bind-retry-seconds", type=float, default=10.0)
    return parser.parse_args()


def report(line):
    sys.stdout.write(line + "\n")
    sys.stdout.flush()


def exit_when_parent_goes():
    # The test process holds the other end of stdin; end of file means it is gone.
    while sys.stdin.buffer.read(4096):
        pass
    os._exit(0)


def bind(server_class, handler, port, retry_seconds):
    # A restart reuses the previous port, which a lingering socket may still hold briefly.
    give_up = time.monotonic() + retry_seconds
    while True:
        try:
            return server_class(("127.0.0.1", port), handler)
        except OSError as error:
            if error.errno != errno.EADDRINUSE or port == 0 or time.monotonic() > give_up:
                raise
            time.sleep(0.1)


def main():
    args = parse_arguments()
    try:
        from pyftpdlib.authorizers import DummyAuthorizer
        from pyftpdlib.handlers import FTPHandler
        from pyftpdlib.servers import FTPServer
    except ImportError as error:
        report("ERROR pyftpdlib is not installed (Debian package python3-pyftpdlib): %s" % error)
        return 3

    authorizer = DummyAuthorizer()
    authorizer.add_user(args.user, args.password, args.root, perm="elradfmwMT")
    authorizer.add_anonymous(args.root, perm="elr")

    class Handler(FTPHandler):
        pass

    Handler.authorizer = authorizer
    Handler.banner = "Tarnwick test server ready."

    try:
        server = bind(FTPServer, Handler, args.port, args.bind_retry_seconds)
    except OSError as error:
        report("ERROR cannot listen on 127.0.0.1:%d: %s" % (args.port, error))
        return 3

    threading.Thread(target=exit_when_parent_goes, daemon=True).start()
    report("PORT %d" % server.address[1])
    server.serve_forever()
    return 0


if __name__ == "__main__":
    sys.exit(main())
