#!/usr/bin/env python3
"""A time-stamping service (RFC 3161 over HTTP) on 127.0.0.1 for the tests
of `kestrune-medium sign --timestamp`, answering with `openssl ts -reply`.

    tsa_server.py FOLDER

Makes its own certificate and key in FOLDER (tsa-cert.pem: what a verifier
must trust), listens on a free port and writes it to FOLDER/port once it
accepts requests. Runs until it is ended.
"""
import http.server
import os
import subprocess
import sys
import tempfile

folder = sys.argv[1]
certificate = os.path.join(folder, "tsa-cert.pem")
key = os.path.join(folder, "tsa-key.pem")
config = os.path.join(folder, "tsa.cnf")

subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "30",
                "-subj", "/CN=Kestrune Test Time Stamps", "-addext", "extendedKeyUsage=critical,timeStamping",
                "-keyout", key, "-out", certificate], check=True, capture_output=True)
with open(os.path.join(folder, "serial"), "w") as serial:
    serial.write("01\n")
with open(config, "w") as text:
    text.write(f"""[tsa]
default_tsa = test_tsa
[test_tsa]
serial = {folder}/serial
crypto_device = builtin
signer_cert = {certificate}
signer_key = {key}
signer_digest = sha256
default_policy = 1.2.3.4.1
digests = sha1, sha256, sha384, sha512
accuracy = secs:1
ordering = yes
tsa_name = no
ess_cert_id_chain = no
ess_cert_id_alg = sha256
""")


class TimeStamps(http.server.BaseHTTPRequestHandler):
    def do_POST(self):
        query = self.rfile.read(int(self.headers.get("Content-Length", "0")))
        with tempfile.TemporaryDirectory(dir=folder) as work:
            request, reply = os.path.join(work, "request.tsq"), os.path.join(work, "reply.tsr")
            with open(request, "wb") as out:
                out.write(query)
            made = subprocess.run(["openssl", "ts", "-reply", "-config", config, "-queryfile", request,
                                   "-out", reply], capture_output=True)
            if made.returncode != 0:
                self.send_error(500, made.stderr.decode(errors="replace")[:200])
                return
            with open(reply, "rb") as answer:
                body = answer.read()
        self.send_response(200)
        self.send_header("Content-Type", "application/timestamp-reply")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def log_message(self, *arguments):
        pass


server = http.server.HTTPServer(("127.0.0.1", 0), TimeStamps)
with open(os.path.join(folder, "port.tmp"), "w") as port:
    port.write(str(server.server_address[1]))
os.rename(os.path.join(folder, "port.tmp"), os.path.join(folder, "port"))
server.serve_forever()
