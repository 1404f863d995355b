#!/usr/bin/python3
"""SMTP server for the mail tests (aiosmtpd), listening on 127.0.0.1.

Every message received is stored in the directory given by --dir:
  msg-N.eml   the raw message data
  msg-N.txt   what the test checks, one item per line, fields separated by
              tabs (backslash, tab, CR and LF escaped as \\\\ \\t \\r \\n):
                from <envelope sender>
                rcpt <envelope recipient>            (one line each)
                peer <client host:port>              (tells the connections apart)
                tls <yes|no>                         (whether the message came through TLS)
                auth <mechanism> <login> <password>  (only after a successful AUTH)
                header <name> <decoded value>        (in message order)
                date <Date header as ISO 8601>
                part <content type> <disposition> <file name> <charset> <payload file>
                defect <text>                        (any parse defect)
  msg-N.partK.bin  the decoded payload of part K
  connections.txt  one line per accepted connection
  auth.txt         one line per AUTH attempt: mechanism, login, password, result,
                   and "tls" or "plain" for the connection it came through
  ready            written once the server listens

Modes: --refuse ADDR refuses that recipient (550); --mute accepts
connections and never says anything; --hang-data never answers the end of
DATA. --user/--password: the only credentials AUTH accepts (without them any
credentials are accepted). AUTH (LOGIN and PLAIN) is always offered.
TLS with the certificate and key of --cert/--key: --starttls offers STARTTLS,
--require-starttls refuses mail before it, --smtps speaks TLS from the start.
The server runs until SIGTERM.
"""

import argparse
import asyncio
import email
import email.policy
import logging
import os
import signal
import ssl
import warnings

from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword


def esc(value):
    return (str(value).replace("\\", "\\\\").replace("\t", "\\t")
            .replace("\r", "\\r").replace("\n", "\\n"))


def write_atomic(path, data):
    tmp = path + ".tmp"
    with open(tmp, "wb") as f:
        f.write(data)
    os.replace(tmp, path)


def append_line(path, fields):
    with open(path, "a", encoding="utf-8") as f:
        f.write("\t".join(esc(x) for x in fields) + "\n")


def is_tls(server):
    return server.transport is not None and server.transport.get_extra_info("ssl_object") is not None


def as_text(b):
    return b.decode("utf-8", "replace") if isinstance(b, (bytes, bytearray)) else str(b)


class Recorder:
    def __init__(self, args):
        self.dir = args.dir
        self.refuse = set(args.refuse or [])
        self.hang_data = args.hang_data
        self.count = 0

    async def handle_RCPT(self, server, session, envelope, address, rcpt_options):
        if address in self.refuse:
            return "550 5.1.1 <%s>: Empfaenger unbekannt" % address
        envelope.rcpt_tos.append(address)
        return "250 OK"

    async def handle_DATA(self, server, session, envelope):
        if self.hang_data:
            await asyncio.sleep(3600)
        self.count += 1
        base = os.path.join(self.dir, "msg-%d" % self.count)
        raw = envelope.original_content
        write_atomic(base + ".eml", raw)
        lines = [["from", envelope.mail_from]]
        lines += [["rcpt", r] for r in envelope.rcpt_tos]
        lines.append(["peer", "%s:%s" % session.peer[:2]])
        lines.append(["tls", "yes" if is_tls(server) else "no"])
        auth = getattr(session, "brenvo_auth", None)
        if session.authenticated and auth:
            lines.append(["auth"] + list(auth))
        msg = email.message_from_bytes(raw, policy=email.policy.default)
        for d in msg.defects:
            lines.append(["defect", repr(d)])
        for name, value in msg.items():
            lines.append(["header", name, str(value)])
            for d in getattr(value, "defects", []):
                lines.append(["defect", "%s: %r" % (name, d)])
        if msg["Date"] is not None and msg["Date"].datetime is not None:
            lines.append(["date", msg["Date"].datetime.isoformat()])
        k = 0
        for part in msg.walk():
            if part.is_multipart():
                for d in part.defects:
                    lines.append(["defect", repr(d)])
                continue
            k += 1
            payload_name = "msg-%d.part%d.bin" % (self.count, k)
            write_atomic(os.path.join(self.dir, payload_name), part.get_payload(decode=True) or b"")
            for d in part.defects:
                lines.append(["defect", repr(d)])
            lines.append(["part", part.get_content_type(), part.get_content_disposition() or "-",
                          part.get_filename() or "-", part.get_content_charset() or "-",
                          payload_name])
        text = "".join("\t".join(esc(x) for x in line) + "\n" for line in lines)
        write_atomic(base + ".txt", text.encode("utf-8"))
        return "250 OK: Nachricht angenommen"


class RecordingSMTP(SMTP):
    def __init__(self, *args, conn_log, **kwargs):
        super().__init__(*args, **kwargs)
        self.conn_log = conn_log

    def connection_made(self, transport):
        peer = transport.get_extra_info("peername")
        append_line(self.conn_log, ["%s:%s" % peer[:2]])
        super().connection_made(transport)


class Mute(asyncio.Protocol):
    def __init__(self, conn_log):
        self.conn_log = conn_log

    def connection_made(self, transport):
        peer = transport.get_extra_info("peername")
        append_line(self.conn_log, ["%s:%s" % peer[:2]])
        self.transport = transport   # held open, never written to


def main():
    warnings.simplefilter("ignore", DeprecationWarning)
    # Refused handshakes are what some tests want; no tracebacks for them.
    logging.getLogger("mail.log").setLevel(logging.CRITICAL)
    logging.getLogger("asyncio").setLevel(logging.CRITICAL)
    ap = argparse.ArgumentParser()
    ap.add_argument("--port", type=int, required=True)
    ap.add_argument("--dir", required=True)
    ap.add_argument("--user")
    ap.add_argument("--password")
    ap.add_argument("--refuse", action="append")
    ap.add_argument("--mute", action="store_true")
    ap.add_argument("--hang-data", action="store_true")
    ap.add_argument("--cert")
    ap.add_argument("--key")
    ap.add_argument("--starttls", action="store_true")
    ap.add_argument("--require-starttls", action="store_true")
    ap.add_argument("--smtps", action="store_true")
    args = ap.parse_args()

    conn_log = os.path.join(args.dir, "connections.txt")
    auth_log = os.path.join(args.dir, "auth.txt")

    def authenticator(server, session, envelope, mechanism, auth_data):
        if not isinstance(auth_data, LoginPassword):
            return AuthResult(success=False, handled=False)
        login, password = as_text(auth_data.login), as_text(auth_data.password)
        ok = args.user is None or (login == args.user and password == (args.password or ""))
        append_line(auth_log, [mechanism, login, password, "ok" if ok else "refused",
                               "tls" if is_tls(server) else "plain"])
        if ok:
            session.brenvo_auth = (mechanism, login, password)
        return AuthResult(success=ok, handled=False)

    tls = None
    if args.cert:
        tls = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
        tls.load_cert_chain(args.cert, args.key)
    starttls = tls if (args.starttls or args.require_starttls) else None

    handler = Recorder(args)
    if args.mute:
        factory = lambda: Mute(conn_log)
    else:
        factory = lambda: RecordingSMTP(handler, conn_log=conn_log, hostname="brenvo-test",
                                        authenticator=authenticator, auth_require_tls=False,
                                        auth_required=False, tls_context=starttls,
                                        require_starttls=args.require_starttls)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    server = loop.run_until_complete(loop.create_server(
        factory, host="127.0.0.1", port=args.port, ssl=tls if args.smtps else None))
    loop.add_signal_handler(signal.SIGTERM, loop.stop)
    write_atomic(os.path.join(args.dir, "ready"), b"")
    loop.run_forever()
    server.close()
    os._exit(0)


if __name__ == "__main__":
    main()
