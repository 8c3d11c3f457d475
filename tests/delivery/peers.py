#!/usr/bin/python3
"""Peers and readers for the delivery tests, all on 127.0.0.1.

  peers.py smtp PORTFILE OUTDIR USER PASSWORD [OPTIONS]   mail server with AUTH
      --starttls CERT KEY    offer STARTTLS
      --implicit CERT KEY    TLS from the first byte
      --require-tls          AUTH only over TLS
      --login-only           offer AUTH LOGIN but not PLAIN
  peers.py fake PORTFILE MODE LOGFILE            scripted SMTP server
  peers.py ftp PORTFILE ROOT USER PASSWORD [OPTIONS]      FTP server
      --refuse CMD           refuse PORT, PASV or none (default PASV: active only)
      --tls CERT KEY         explicit FTPS, TLS required on both channels
      --implicit             with --tls: implicit FTPS (TLS from the first byte)
  peers.py mail EMLFILE OUTDIR                   splits a received mail
  peers.py zip ARCHIVE                           lists an archive

Servers write their port into PORTFILE once they listen and run until they
are terminated.
"""
import asyncio
import email
import email.policy
import os
import socket
import sys
import threading
import time
import zipfile


def announce(portfile, port):
    tmp = portfile + ".tmp"
    with open(tmp, "w") as f:
        f.write(str(port))
    os.rename(tmp, portfile)


def tls_context(cert, key):
    import ssl
    context = ssl.create_default_context(ssl.Purpose.CLIENT_AUTH)
    context.load_cert_chain(cert, key)
    return context


def run_smtp(portfile, outdir, user, password, *options):
    from aiosmtpd.smtp import SMTP, AuthResult, LoginPassword
    options = list(options)
    starttls = implicit = None
    if "--starttls" in options:
        i = options.index("--starttls")
        starttls = tls_context(options[i + 1], options[i + 2])
    if "--implicit" in options:
        i = options.index("--implicit")
        implicit = tls_context(options[i + 1], options[i + 2])
    require_tls = "--require-tls" in options
    exclude = ["PLAIN"] if "--login-only" in options else None

    class Handler:
        async def handle_DATA(self, server, session, envelope):
            n = len([x for x in os.listdir(outdir) if x.endswith(".eml")])
            path = os.path.join(outdir, "msg%d.eml" % n)
            with open(path + ".tmp", "wb") as f:
                f.write(envelope.original_content)
            with open(os.path.join(outdir, "msg%d.env" % n), "w") as f:
                f.write("%s\n%s\n%s\n" % (envelope.mail_from, ",".join(envelope.rcpt_tos),
                                          session.authenticated))
            os.rename(path + ".tmp", path)
            return "250 OK"

    def authenticator(server, session, envelope, mechanism, data):
        ok = (isinstance(data, LoginPassword) and data.login == user.encode()
              and data.password == password.encode())
        with open(os.path.join(outdir, "auth.txt"), "a") as f:
            f.write("%s %s %s\n" % (mechanism, ok,
                                    "tls" if server.transport.get_extra_info("ssl_object")
                                    else "clear"))
        return AuthResult(success=ok, handled=False)

    loop = asyncio.new_event_loop()
    asyncio.set_event_loop(loop)
    factory = lambda: SMTP(Handler(), authenticator=authenticator,
                           tls_context=starttls, auth_require_tls=require_tls,
                           auth_exclude_mechanism=exclude, decode_data=False)
    server = loop.run_until_complete(
        loop.create_server(factory, "127.0.0.1", 0, ssl=implicit))
    announce(portfile, server.sockets[0].getsockname()[1])
    loop.run_forever()


def run_fake(portfile, mode, logfile):
    """mode: prompt (two replies before the 334 prompt), refuse (recipient
    refused), silent (nothing after the greeting), deny (535 to AUTH, the
    connection stays open), drip (the greeting one byte a second), mute
    (never a byte)."""
    listener = socket.socket()
    listener.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    listener.bind(("127.0.0.1", 0))
    listener.listen(5)
    announce(portfile, listener.getsockname()[1])

    def note(text):
        with open(logfile, "a") as f:
            f.write(text + "\n")

    def serve(conn):
        if mode == "mute":
            while conn.recv(65536):
                note("<bytes>")
            return
        if mode == "drip":
            for byte in b"220 fake ready\r\n":
                conn.sendall(bytes([byte]))
                time.sleep(1)
        conn.sendall(b"220 fake ready\r\n")
        data = b""
        in_data = False
        auth_step = 0
        while True:
            chunk = conn.recv(65536)
            if not chunk:
                return
            data += chunk
            while True:
                if in_data:
                    end = data.find(b"\r\n.\r\n")
                    if end < 0:
                        break
                    data = data[end + 5:]
                    in_data = False
                    note("<message>")
                    conn.sendall(b"250 queued\r\n")
                    continue
                end = data.find(b"\r\n")
                if end < 0:
                    break
                line, data = data[:end].decode("latin-1"), data[end + 2:]
                note(line)
                if mode == "silent":
                    continue
                word = line.upper()
                if auth_step == 1:
                    auth_step = 2
                    conn.sendall(b"334 UGFzc3dvcmQ6\r\n")
                elif auth_step == 2:
                    auth_step = 0
                    conn.sendall(b"235 welcome\r\n")
                elif word.startswith("EHLO"):
                    conn.sendall(b"250-fake\r\n250-SIZE 1000000\r\n250 AUTH LOGIN\r\n")
                elif word.startswith("AUTH") and mode == "deny":
                    conn.sendall(b"535 5.7.8 Authentication credentials invalid\r\n")
                elif word.startswith("AUTH LOGIN"):
                    # Two replies in one packet, then the prompt on its own.
                    conn.sendall(b"250 one\r\n250 two\r\n")
                    time.sleep(0.2)
                    conn.sendall(b"334 VXNlcm5hbWU6\r\n")
                    auth_step = 1
                elif word.startswith("RCPT") and mode == "refuse":
                    conn.sendall(b"550 no such user\r\n")
                elif word.startswith("DATA"):
                    in_data = True
                    conn.sendall(b"354 go ahead\r\n")
                elif word.startswith("QUIT"):
                    conn.sendall(b"221 bye\r\n")
                    conn.close()
                    return
                else:
                    conn.sendall(b"250 ok\r\n")

    while True:
        conn, _ = listener.accept()
        threading.Thread(target=serve, args=(conn,), daemon=True).start()


def run_ftp(portfile, root, user, password, *options):
    from pyftpdlib.authorizers import DummyAuthorizer
    from pyftpdlib.handlers import FTPHandler, TLS_FTPHandler, ThrottledDTPHandler
    from pyftpdlib.servers import FTPServer
    import logging
    logging.basicConfig(level=logging.ERROR)
    options = list(options)
    authorizer = DummyAuthorizer()
    authorizer.add_user(user, password, root, perm="elradfmwMT")
    base = FTPHandler
    if "--tls" in options:
        i = options.index("--tls")
        base = TLS_FTPHandler
        base.certfile = options[i + 1]
        base.keyfile = options[i + 2]
        base.tls_control_required = True
        base.tls_data_required = True

        # Clients such as libcurl start the TLS handshake of the data
        # connection as soon as it is open, before STOR; this data handler
        # answers it instead of waiting for the transfer to begin.
        from pyftpdlib.handlers import TLS_DTPHandler

        class EagerTlsData(TLS_DTPHandler):
            def readable(self):
                return self._ssl_accepting or super().readable()

        base.dtp_handler = EagerTlsData
        if "--implicit" in options:
            # Implicit FTPS: TLS from the first byte, the greeting inside it.
            class ImplicitTls(base):
                def handle(self):
                    self.secure_connection(self.ssl_context)
                    super().handle()
            base = ImplicitTls
    # By default passive mode is refused, so a passing upload proves active
    # mode; "--refuse PORT" refuses active mode instead, "--refuse none"
    # neither.
    refused = ("PASV", "EPSV")
    if "--refuse" in options:
        word = options[options.index("--refuse") + 1]
        refused = {"PORT": ("PORT", "EPRT"), "PASV": ("PASV", "EPSV")}.get(word, ())
    class Refusing(base):
        proto_cmds = {k: v for k, v in base.proto_cmds.items() if k not in refused}
    handler = Refusing
    if "--read-limit" in options:
        # A slow line: uploads arrive at this many bytes a second.
        class Slow(ThrottledDTPHandler):
            pass
        Slow.read_limit = int(options[options.index("--read-limit") + 1])
        handler.dtp_handler = Slow
    handler.authorizer = authorizer
    handler.auth_failed_timeout = 0.1  # the tests try wrong passwords
    server = FTPServer(("127.0.0.1", 0), handler)
    announce(portfile, server.socket.getsockname()[1])
    server.serve_forever()


def split_mail(path, outdir):
    with open(path, "rb") as f:
        message = email.message_from_binary_file(f, policy=email.policy.compat32)
    def put(name, value):
        with open(os.path.join(outdir, name), "wb") as f:
            f.write(value if isinstance(value, bytes) else str(value).encode())
    put("from", message["From"])
    put("to", message["To"])
    put("subject", message["Subject"])
    put("date", message["Date"])
    put("mailer", message["X-mailer"])
    names = []
    for part in message.walk():
        if part.is_multipart():
            continue
        if part.get_content_type() == "text/plain":
            put("body", part.get_payload(decode=True))
        else:
            names.append("%s|%s" % (part.get_param("name"), part.get_filename()))
            put("att-" + part.get_filename(), part.get_payload(decode=True))
    put("attachments", "\n".join(names))
    put("defects", str(len(message.defects)))


def list_zip(path):
    with zipfile.ZipFile(path) as z:
        for info in z.infolist():
            print("%s\t%d\t%d" % (info.filename, info.compress_type, info.file_size))
        z.testzip()


def main():
    command = sys.argv[1]
    if command == "smtp":
        run_smtp(*sys.argv[2:])
    elif command == "fake":
        run_fake(*sys.argv[2:5])
    elif command == "ftp":
        run_ftp(*sys.argv[2:])
    elif command == "mail":
        split_mail(*sys.argv[2:4])
    elif command == "zip":
        list_zip(sys.argv[2])


if __name__ == "__main__":
    main()
