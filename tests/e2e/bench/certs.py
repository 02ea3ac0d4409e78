"""A test CA, server certificates and code-signing certificates, made with the
openssl CLI into the build tree. Only the Wine prefix is ever told to trust the CA."""

from __future__ import annotations

import fcntl
import hashlib
import subprocess
from dataclasses import dataclass
from pathlib import Path

_CA_CONFIG = """\
[ca]
default_ca = test_ca
[test_ca]
database = {dir}/index.txt
new_certs_dir = {dir}/issued
serial = {dir}/serial
default_md = sha256
policy = any_name
copy_extensions = none
unique_subject = no
[any_name]
commonName = supplied
"""


@dataclass(frozen=True)
class KeyPair:
    cert: Path
    key: Path


@dataclass(frozen=True)
class Certificates:
    ca_cert: Path            # the test CA; trusted in the prefix
    localhost: KeyPair       # valid, subjectAltName DNS:localhost
    expired: KeyPair         # DNS:localhost, validity ended in 2021
    wrong_host: KeyPair      # valid, but for DNS:wrong-host.example
    untrusted: KeyPair       # DNS:localhost, issued by a CA nobody trusts


def _openssl(*args: str, cwd: Path) -> None:
    subprocess.run(["openssl", *args], cwd=cwd, check=True, timeout=60, stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)


def _make_ca(folder: Path, name: str, subject: str) -> None:
    _openssl("req", "-x509", "-newkey", "rsa:2048", "-nodes", "-sha256", "-days", "3650", "-subj", subject,
             "-keyout", f"{name}.key", "-out", f"{name}.pem",
             "-addext", "basicConstraints=critical,CA:TRUE",
             "-addext", "keyUsage=critical,keyCertSign,cRLSign",
             "-addext", "subjectKeyIdentifier=hash", cwd=folder)
    db = folder / f"{name}-db"
    (db / "issued").mkdir(parents=True, exist_ok=True)
    (db / "index.txt").write_text("")
    (db / "serial").write_text("1000\n")
    (folder / f"{name}.cnf").write_text(_CA_CONFIG.format(dir=db))


def _issue(folder: Path, ca: str, name: str, host: str, dates: tuple[str, str] | None = None) -> KeyPair:
    (folder / f"{name}.ext").write_text(
        f"subjectAltName=DNS:{host}\nbasicConstraints=CA:FALSE\n"
        "keyUsage=critical,digitalSignature,keyEncipherment\nextendedKeyUsage=serverAuth\n")
    _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-subj", f"/CN={host}",
             "-keyout", f"{name}.key", "-out", f"{name}.csr", cwd=folder)
    start, end = dates or ("20240101000000Z", "20451231000000Z")
    _openssl("ca", "-batch", "-notext", "-config", f"{ca}.cnf", "-cert", f"{ca}.pem", "-keyfile", f"{ca}.key",
             "-in", f"{name}.csr", "-out", f"{name}.pem", "-extfile", f"{name}.ext",
             "-startdate", start, "-enddate", end, cwd=folder)
    return KeyPair(folder / f"{name}.pem", folder / f"{name}.key")


def make_certificates(folder: Path) -> Certificates:
    """Makes the set once and reuses it afterwards (several test processes may ask at once)."""
    folder.mkdir(parents=True, exist_ok=True)
    result = Certificates(
        ca_cert=folder / "ca.pem",
        localhost=KeyPair(folder / "localhost.pem", folder / "localhost.key"),
        expired=KeyPair(folder / "expired.pem", folder / "expired.key"),
        wrong_host=KeyPair(folder / "wrong-host.pem", folder / "wrong-host.key"),
        untrusted=KeyPair(folder / "untrusted.pem", folder / "untrusted.key"))
    done = folder / "complete"
    with open(folder / ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not done.exists():
            _make_ca(folder, "ca", "/CN=Kelvora Bench Test CA")
            _make_ca(folder, "other-ca", "/CN=Kelvora Bench Untrusted CA")
            _issue(folder, "ca", "localhost", "localhost")
            _issue(folder, "ca", "expired", "localhost", ("20200101000000Z", "20210101000000Z"))
            _issue(folder, "ca", "wrong-host", "wrong-host.example")
            _issue(folder, "other-ca", "untrusted", "localhost")
            done.write_text("ok\n")
    return result


def code_signing_certificate(folder: Path, common_name: str, organisation: str = "") -> KeyPair:
    """A code-signing certificate (extendedKeyUsage=codeSigning) issued by the
    test CA to the subject CN=common_name (and O=organisation when given); made
    once per subject and reused afterwards."""
    ca = make_certificates(folder)
    subject = "".join(f"/{key}={value}" for key, value in (("O", organisation), ("CN", common_name)) if value)
    name = "codesign-" + hashlib.sha256(subject.encode("utf-8")).hexdigest()[:16]
    pair = KeyPair(folder / f"{name}.pem", folder / f"{name}.key")
    with open(folder / ".lock", "w") as lock:
        fcntl.flock(lock, fcntl.LOCK_EX)
        if not pair.cert.exists():
            (folder / f"{name}.ext").write_text(
                "basicConstraints=CA:FALSE\nkeyUsage=critical,digitalSignature\nextendedKeyUsage=codeSigning\n"
                "subjectKeyIdentifier=hash\nauthorityKeyIdentifier=keyid\n")
            _openssl("req", "-new", "-newkey", "rsa:2048", "-nodes", "-utf8", "-subj", subject,
                     "-keyout", pair.key.name, "-out", f"{name}.csr", cwd=folder)
            # x509 rather than ca: the subject stays exactly as asked for.
            _openssl("x509", "-req", "-in", f"{name}.csr", "-CA", ca.ca_cert.name, "-CAkey", "ca.key",
                     "-set_serial", str(int(name[9:], 16)), "-days", "3650", "-sha256",
                     "-extfile", f"{name}.ext", "-out", f"{name}.tmp", cwd=folder)
            (folder / f"{name}.tmp").rename(pair.cert)
    return pair
