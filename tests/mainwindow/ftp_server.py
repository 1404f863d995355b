"""Anonymous FTP server for the update tests.

Usage: ftp_server.py ROOT PORT [WRITE_LIMIT]
Serves ROOT read-only to the anonymous user on 127.0.0.1:PORT; WRITE_LIMIT
(bytes per second, 0 = none) throttles downloads. Prints "READY" once it
listens.
"""
import logging
import sys

from pyftpdlib.authorizers import DummyAuthorizer
from pyftpdlib.handlers import FTPHandler, ThrottledDTPHandler
from pyftpdlib.servers import FTPServer


def main():
    root, port = sys.argv[1], int(sys.argv[2])
    limit = int(sys.argv[3]) if len(sys.argv) > 3 else 0
    logging.basicConfig(level=logging.ERROR)
    authorizer = DummyAuthorizer()
    authorizer.add_anonymous(root)
    handler = FTPHandler
    handler.authorizer = authorizer
    if limit > 0:
        dtp = ThrottledDTPHandler
        dtp.write_limit = limit
        handler.dtp_handler = dtp
    server = FTPServer(("127.0.0.1", port), handler)
    print("READY", flush=True)
    server.serve_forever()


if __name__ == "__main__":
    main()
