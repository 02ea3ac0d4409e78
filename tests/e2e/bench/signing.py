"""Authenticode signatures on the stand-in installer, made with osslsigncode
and a code-signing certificate of the test CA (bench/certs.py)."""

from __future__ import annotations

import subprocess
from pathlib import Path

from .certs import KeyPair


def sign(unsigned: Path, signer: KeyPair, ca_cert: Path, out: Path) -> Path:
    """Writes `unsigned` signed by `signer` (SHA-256, the CA's certificate
    carried along in the signature) to `out`, and returns `out`."""
    chain = out.with_name(out.name + ".chain.pem")
    chain.write_bytes(signer.cert.read_bytes() + ca_cert.read_bytes())
    out.unlink(missing_ok=True)
    subprocess.run(["osslsigncode", "sign", "-certs", str(chain), "-key", str(signer.key), "-h", "sha256",
                    "-n", "Kelvora Installation", "-in", str(unsigned), "-out", str(out)],
                   check=True, timeout=60, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                   stderr=subprocess.PIPE)
    chain.unlink()
    return out


def with_one_byte_changed(signed: bytes) -> bytes:
    """The signed file with one byte in the middle of its code flipped: the
    signature is still there, but its digest no longer matches."""
    changed = bytearray(signed)
    changed[len(signed) // 3] ^= 0x01
    return bytes(changed)
