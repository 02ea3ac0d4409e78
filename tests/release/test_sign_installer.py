"""scripts/sign-installer.sh from outside: the key pair it makes, the
signature it writes (what openssl verifies, and what the program reads), and
what it refuses."""

from __future__ import annotations

import os
import stat
import subprocess
from pathlib import Path

import pytest

SOURCE = Path(__file__).resolve().parents[2]
SCRIPT = SOURCE / "scripts" / "sign-installer.sh"


def run(*args: str, env: dict | None = None) -> subprocess.CompletedProcess:
    return subprocess.run(["bash", str(SCRIPT), *args], text=True, capture_output=True, timeout=60,
                          stdin=subprocess.DEVNULL, env=env)


def spki_sha256(public: Path) -> str:
    der = subprocess.run(["openssl", "ec", "-pubin", "-in", str(public), "-outform", "DER"], check=True,
                         capture_output=True, timeout=60).stdout
    return subprocess.run(["sha256sum"], input=der, check=True, capture_output=True, timeout=60).stdout.split()[0].decode()


@pytest.fixture()
def key_pair(tmp_path):
    result = run("--new-key", str(tmp_path / "keys"))
    assert result.returncode == 0, result.stderr
    return tmp_path / "keys" / "installer-key.pem", tmp_path / "keys" / "installer-key.pub.pem", result.stdout


def test_new_key_is_a_p256_pair_whose_private_half_only_its_owner_reads(key_pair):
    private, public, output = key_pair
    assert stat.S_IMODE(private.stat().st_mode) == 0o600
    assert stat.S_IMODE(public.stat().st_mode) == 0o644
    assert public.read_text().startswith("-----BEGIN PUBLIC KEY-----")
    text = subprocess.run(["openssl", "ec", "-in", str(private), "-noout", "-text"], check=True, capture_output=True,
                          text=True, timeout=60).stdout
    assert "ASN1 OID: prime256v1" in text
    derived = subprocess.run(["openssl", "ec", "-in", str(private), "-pubout"], check=True, capture_output=True,
                             text=True, timeout=60).stdout
    assert derived == public.read_text()
    assert f"fingerprint {spki_sha256(public)}" in output


def test_a_new_key_never_replaces_one(key_pair):
    private, public, _ = key_pair
    before = private.read_bytes()
    result = run("--new-key", str(private.parent))
    assert result.returncode != 0 and "already holds a key" in result.stderr
    assert private.read_bytes() == before


def test_signs_so_that_openssl_verifies_and_a_changed_file_fails(key_pair, tmp_path):
    private, public, _ = key_pair
    installer = tmp_path / "Kelvora_Install.exe"
    installer.write_bytes(b"MZ" + os.urandom(100_000))
    result = run(str(private), str(installer))
    assert result.returncode == 0, result.stderr
    signature = tmp_path / "Kelvora_Install.exe.sig"
    assert "verified" in result.stdout and spki_sha256(public) in result.stdout
    verify = ["openssl", "dgst", "-sha256", "-verify", str(public), "-signature", str(signature), str(installer)]
    assert subprocess.run(verify, capture_output=True, timeout=60).returncode == 0
    # DER: a SEQUENCE of two INTEGERs, at most 72 bytes for P-256.
    der = signature.read_bytes()
    assert der[0] == 0x30 and der[1] == len(der) - 2 <= 70
    data = bytearray(installer.read_bytes())
    data[50_000] ^= 1
    installer.write_bytes(bytes(data))
    assert subprocess.run(verify, capture_output=True, timeout=60).returncode != 0


def test_refuses_a_key_of_another_curve_and_writes_nothing(tmp_path):
    key = tmp_path / "p384.pem"
    subprocess.run(["openssl", "ecparam", "-name", "secp384r1", "-genkey", "-noout", "-out", str(key)], check=True,
                   capture_output=True, timeout=60)
    installer = tmp_path / "Kelvora_Install.exe"
    installer.write_bytes(b"MZ")
    result = run(str(key), str(installer))
    assert result.returncode != 0 and "not a P-256 private key" in result.stderr
    assert not (tmp_path / "Kelvora_Install.exe.sig").exists()


def test_a_signature_that_does_not_verify_is_never_written(key_pair, tmp_path):
    """An openssl whose signing damages its output: the check after signing
    refuses it, and no .sig is put in place."""
    private, _, _ = key_pair
    shim = tmp_path / "bin"
    shim.mkdir()
    real = subprocess.run(["bash", "-c", "command -v openssl"], capture_output=True, text=True, check=True).stdout.strip()
    (shim / "openssl").write_text(f"""#!/usr/bin/python3
import subprocess, sys
result = subprocess.run([{real!r}, *sys.argv[1:]])
if result.returncode == 0 and "-sign" in sys.argv:
    out = sys.argv[sys.argv.index("-out") + 1]
    data = bytearray(open(out, "rb").read())
    data[-1] ^= 0x01
    open(out, "wb").write(bytes(data))
sys.exit(result.returncode)
""")
    (shim / "openssl").chmod(0o755)
    installer = tmp_path / "Kelvora_Install.exe"
    installer.write_bytes(b"MZ" + os.urandom(1000))
    result = run(str(private), str(installer), env={**os.environ, "PATH": f"{shim}:{os.environ['PATH']}"})
    assert result.returncode != 0 and "does not verify" in result.stderr
    assert not (tmp_path / "Kelvora_Install.exe.sig").exists()
