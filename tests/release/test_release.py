"""scripts/release.sh from outside: a release built in two folders at two times
gives the same exe bytes (the second one signed with a code-signing certificate
of the test CA, and the same once its signature is removed); what it writes and
prints; and settings or signing material it must refuse, leaving no dist/."""

from __future__ import annotations

import hashlib
import os
import re
import shutil
import struct
import subprocess
import sys
from pathlib import Path

import pytest

SOURCE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tests" / "e2e"))
from bench import certs  # noqa: E402

URL = "https://downloads.kelvora.example/fileadmin/files/kelvora/Kelvora_Install.exe"
FALLBACKS = ["https://mirror-1.kelvora.example/k/Kelvora_Install.exe", "https://mirror-2.kelvora.example/Kelvora_Install.exe"]
PUBLISHER = "Kelvora Prüfverlag GmbH"
PASSWORD = "correct horse 7"
BUILD_TIMEOUT = 1800


def copy_source(target: Path) -> Path:
    """The working tree without build output, at `target`."""
    def ignore(folder: str, names: list[str]) -> set[str]:
        if Path(folder) != SOURCE:
            return set()
        return {n for n in names if n in {".git", "build", "dist"} or n.startswith(".dist-staging")}
    shutil.copytree(SOURCE, target, ignore=ignore, symlinks=True)
    return target


def release(source: Path, tmp: Path, path_prefix: Path | None = None, **settings: str) -> subprocess.CompletedProcess:
    env = {k: v for k, v in os.environ.items() if not k.startswith("KELVORA_")}
    env.update(settings)
    env["TMPDIR"] = str(tmp)
    if path_prefix:
        env["PATH"] = f"{path_prefix}:{env['PATH']}"
    tmp.mkdir(parents=True, exist_ok=True)
    return subprocess.run(["bash", str(source / "scripts" / "release.sh")], env=env, text=True,
                          capture_output=True, timeout=BUILD_TIMEOUT, stdin=subprocess.DEVNULL)


def printed(output: str, label: str) -> str:
    match = re.search(rf"^  {re.escape(label)}:\s+(.*)$", output, re.MULTILINE)
    assert match, f"no '{label}' line in:\n{output}"
    return match.group(1).strip()


def assert_nothing_left(source: Path, tmp: Path) -> None:
    assert not (source / "dist").exists()
    assert not list(source.glob(".dist-staging*"))
    assert list(tmp.iterdir()) == [], "temporary files left behind"


@pytest.fixture(scope="module")
def signing(tmp_path_factory):
    folder = tmp_path_factory.mktemp("certs")
    pair = certs.code_signing_certificate(folder, "Kelvora Software GmbH")
    ca = folder / "ca.pem"
    chain = folder / "chain.pem"
    chain.write_bytes(pair.cert.read_bytes() + ca.read_bytes())
    password = folder / "password"
    password.write_text(PASSWORD + "\n")
    pkcs12 = folder / "signer.p12"
    subprocess.run(["openssl", "pkcs12", "-export", "-in", str(pair.cert), "-inkey", str(pair.key),
                    "-certfile", str(ca), "-passout", f"file:{password}", "-out", str(pkcs12)],
                   check=True, timeout=60, capture_output=True)
    wrong = folder / "wrong-password"
    wrong.write_text("not the password\n")
    return {"chain": chain, "key": pair.key, "ca": ca, "pkcs12": pkcs12, "password": password,
            "wrong": wrong, "missing": folder / "no-such-file.pem"}


def p256_public_key(folder: Path, name: str) -> Path:
    private = folder / f"{name}.pem"
    subprocess.run(["openssl", "ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", str(private)],
                   check=True, timeout=60, capture_output=True)
    public = folder / f"{name}.pub.pem"
    subprocess.run(["openssl", "ec", "-in", str(private), "-pubout", "-out", str(public)], check=True, timeout=60,
                   capture_output=True)
    return public


def spki_der(public: Path) -> bytes:
    return subprocess.run(["openssl", "ec", "-pubin", "-in", str(public), "-outform", "DER"], check=True,
                          timeout=60, capture_output=True).stdout


@pytest.fixture(scope="module")
def installer_keys(tmp_path_factory):
    """Two P-256 public keys: the first given relative to the source folder (each release copies it to
    keys/first.pub.pem there), the second by its absolute path; and one of another curve."""
    folder = tmp_path_factory.mktemp("installer-keys")
    p384 = folder / "p384.pem"
    subprocess.run(["openssl", "ecparam", "-name", "secp384r1", "-genkey", "-noout", "-out", str(p384)],
                   check=True, timeout=60, capture_output=True)
    p384_public = folder / "p384.pub.pem"
    subprocess.run(["openssl", "ec", "-in", str(p384), "-pubout", "-out", str(p384_public)], check=True,
                   timeout=60, capture_output=True)
    return {"first": p256_public_key(folder, "first"), "second": p256_public_key(folder, "second"),
            "p384": p384_public}


def with_relative_key(source: Path, installer_keys) -> Path:
    (source / "keys").mkdir(exist_ok=True)
    shutil.copyfile(installer_keys["first"], source / "keys" / "first.pub.pem")
    return source


@pytest.fixture(scope="module")
def releases(tmp_path_factory, signing, installer_keys):
    """An unsigned release in one folder, then a signed one in another."""
    settings = {"KELVORA_DOWNLOAD_URL": URL, "KELVORA_INSTALLER_PUBLISHER": PUBLISHER,
                "KELVORA_RESUME_ATTEMPTS": "3", "KELVORA_FALLBACK_URLS": ";".join(FALLBACKS),
                "KELVORA_INSTALLER_KEYS": f"keys/first.pub.pem;{installer_keys['second']}"}
    first = with_relative_key(copy_source(tmp_path_factory.mktemp("one") / "kelvora"), installer_keys)
    first_tmp = tmp_path_factory.mktemp("tmp-one")
    unsigned = release(first, first_tmp, **settings)
    assert unsigned.returncode == 0, unsigned.stdout + unsigned.stderr
    second = with_relative_key(copy_source(tmp_path_factory.mktemp("elsewhere") / "a" / "deeper" / "src"),
                               installer_keys)
    second_tmp = tmp_path_factory.mktemp("tmp-two")
    signed = release(second, second_tmp, **settings, KELVORA_SIGN_CERT=str(signing["chain"]),
                     KELVORA_SIGN_KEY=str(signing["key"]), KELVORA_SIGN_CA=str(signing["ca"]))
    assert signed.returncode == 0, signed.stdout + signed.stderr
    return {"unsigned": (first, unsigned.stdout, first_tmp), "signed": (second, signed.stdout, second_tmp)}


def test_release_built_twice_gives_the_same_bytes(releases, tmp_path):
    first = releases["unsigned"][0] / "dist" / "Kelvora_Installer.exe"
    signed = releases["signed"][0] / "dist" / "Kelvora_Installer.exe"
    stripped = tmp_path / "stripped.exe"
    subprocess.run(["osslsigncode", "remove-signature", "-in", str(signed), "-out", str(stripped)],
                   check=True, timeout=60, capture_output=True)
    assert stripped.read_bytes() == first.read_bytes()
    assert signed.read_bytes() != first.read_bytes()
    digest = hashlib.sha256(first.read_bytes()).hexdigest()
    for name, (_, output, _) in releases.items():
        assert printed(output, "unsigned SHA-256").split()[0] == digest, name


@pytest.mark.parametrize("name", ["unsigned", "signed"])
def test_release_builds_in_each_key_and_prints_its_fingerprint(releases, installer_keys, name):
    source, output, _ = releases[name]
    exe = (source / "dist" / "Kelvora_Installer.exe").read_bytes()
    lines = re.findall(r"^  installer key:\s+([0-9a-f]{64})  (.*)$", output, re.MULTILINE)
    expected = []
    for key, path in (("first", source / "keys" / "first.pub.pem"), ("second", installer_keys["second"])):
        der = spki_der(installer_keys[key])
        expected.append((hashlib.sha256(der).hexdigest(), str(path)))
        # The public key blob CNG imports: "ECS1", 32, then X and Y (the DER's last 64 bytes).
        assert b"ECS1" + struct.pack("<I", 32) + der[-64:] in exe, key
    assert lines == expected


@pytest.mark.parametrize("name", ["unsigned", "signed"])
def test_release_writes_the_exe_its_checksum_and_what_it_built(releases, name):
    source, output, tmp = releases[name]
    dist = source / "dist"
    assert list(tmp.iterdir()) == [], "temporary files left behind"
    assert sorted(p.name for p in dist.iterdir()) == ["Kelvora_Installer.exe", "SHA256SUMS"]
    exe = (dist / "Kelvora_Installer.exe").read_bytes()
    digest = hashlib.sha256(exe).hexdigest()
    assert (dist / "SHA256SUMS").read_text() == f"{digest}  Kelvora_Installer.exe\n"
    subprocess.run(["sha256sum", "-c", "--strict", "SHA256SUMS"], cwd=dist, check=True, timeout=60,
                   capture_output=True)
    assert printed(output, "SHA-256") == digest
    assert printed(output, "size") == f"{len(exe)} bytes"
    assert printed(output, "download address") == URL
    assert printed(output, "publisher") == PUBLISHER
    assert printed(output, "resume attempts") == "3"
    assert printed(output, "fallback addresses") == ";".join(FALLBACKS)
    assert all(address.encode("utf-16-le") in exe for address in FALLBACKS)
    assert printed(output, "signed").startswith("yes" if name == "signed" else "no")
    assert URL.encode("utf-16-le") in exe and PUBLISHER.encode("utf-16-le") in exe

    # One version: the project's, in the output and in the exe's version resource.
    version = re.search(r"project\(Kelvora VERSION (\d+)\.(\d+)\.(\d+)", (source / "CMakeLists.txt").read_text())
    major, minor, patch = (int(part) for part in version.groups())
    assert printed(output, "version") == f"{major}.{minor}.{patch}"
    fixed = exe.index(struct.pack("<I", 0xFEEF04BD))
    _, _, file_ms, file_ls, product_ms, product_ls = struct.unpack_from("<6I", exe, fixed)
    assert (file_ms, file_ls) == (product_ms, product_ls) == ((major << 16) | minor, patch << 16)
    assert f"{major}.{minor}.{patch}\0".encode("utf-16-le") in exe


def test_signed_release_verifies_against_the_ca(releases, signing):
    signed = releases["signed"][0] / "dist" / "Kelvora_Installer.exe"
    result = subprocess.run(["osslsigncode", "verify", "-CAfile", str(signing["ca"]), "-in", str(signed)],
                            timeout=60, capture_output=True, text=True)
    assert result.returncode == 0, result.stdout + result.stderr
    assert "Message digest algorithm  : SHA256" in result.stdout
    assert result.stdout.rstrip().endswith("Succeeded")
    assert "CN=Kelvora Software GmbH" in result.stdout


# Settings and signing material refused before anything is built: the case,
# the settings (file names from the `signing` fixture in braces), what the
# message says.
REFUSED = [
    ("no address", {}, "KELVORA_DOWNLOAD_URL is required"),
    ("plain http", {"KELVORA_DOWNLOAD_URL": "http://downloads.kelvora.example/x.exe"}, "must be an https:// address"),
    ("no path", {"KELVORA_DOWNLOAD_URL": "https://downloads.kelvora.example"}, "must be an https:// address"),
    ("quote in address", {"KELVORA_DOWNLOAD_URL": 'https://a.example/x".exe'}, "must not contain"),
    ("resume out of range", {"KELVORA_RESUME_ATTEMPTS": "21"}, "from 0 to 20"),
    ("line break in the keys", {"KELVORA_INSTALLER_KEYS": "{first_key}\n{second_key}"}, "must not contain a line break"),
    ("missing installer key", {"KELVORA_INSTALLER_KEYS": "{first_key};{missing}"},
     "KELVORA_INSTALLER_KEYS: no readable file"),
    ("certificate without key", {"KELVORA_SIGN_CERT": "{chain}", "KELVORA_SIGN_CA": "{ca}"}, "given together"),
    ("both kinds of signer", {"KELVORA_SIGN_CERT": "{chain}", "KELVORA_SIGN_KEY": "{key}",
                              "KELVORA_SIGN_PKCS12": "{pkcs12}", "KELVORA_SIGN_CA": "{ca}"}, "not both"),
    ("no CA", {"KELVORA_SIGN_CERT": "{chain}", "KELVORA_SIGN_KEY": "{key}"}, "needs KELVORA_SIGN_CA"),
    ("CA without signer", {"KELVORA_SIGN_CA": "{ca}"}, "without a certificate"),
    ("missing key file", {"KELVORA_SIGN_CERT": "{chain}", "KELVORA_SIGN_KEY": "{missing}", "KELVORA_SIGN_CA": "{ca}"},
     "KELVORA_SIGN_KEY: no readable file"),
    ("missing CA file", {"KELVORA_SIGN_PKCS12": "{pkcs12}", "KELVORA_SIGN_PASSWORD_FILE": "{password}",
                         "KELVORA_SIGN_CA": "{missing}"}, "KELVORA_SIGN_CA: no readable file"),
    ("PKCS#12 without password", {"KELVORA_SIGN_PKCS12": "{pkcs12}", "KELVORA_SIGN_CA": "{ca}"},
     "needs KELVORA_SIGN_PASSWORD_FILE"),
    ("wrong password", {"KELVORA_SIGN_PKCS12": "{pkcs12}", "KELVORA_SIGN_PASSWORD_FILE": "{wrong}",
                        "KELVORA_SIGN_CA": "{ca}"}, "cannot be opened with the password"),
]


@pytest.fixture(scope="module")
def scratch_source(tmp_path_factory):
    return copy_source(tmp_path_factory.mktemp("refused") / "kelvora")


@pytest.mark.parametrize("case, settings, message", REFUSED, ids=[case[0] for case in REFUSED])
def test_refused_settings_stop_the_release_and_leave_no_dist(scratch_source, signing, installer_keys, tmp_path, case,
                                                             settings, message):
    (scratch_source / "dist").mkdir(exist_ok=True)
    (scratch_source / "dist" / "Kelvora_Installer.exe").write_bytes(b"an earlier release")
    given = {"KELVORA_DOWNLOAD_URL": URL}
    files = {**{k: str(v) for k, v in signing.items()}, "first_key": str(installer_keys["first"]),
             "second_key": str(installer_keys["second"])}
    given.update({name: value.format(**files) for name, value in settings.items()})
    if case == "no address":
        del given["KELVORA_DOWNLOAD_URL"]
    result = release(scratch_source, tmp_path / "tmp", **given)
    assert result.returncode != 0
    assert message in result.stderr, result.stderr
    assert "building" not in result.stdout, "refused only after a build"
    assert PASSWORD not in result.stdout + result.stderr
    assert_nothing_left(scratch_source, tmp_path / "tmp")


@pytest.mark.parametrize("kind", ["p384", "private"])
def test_a_key_that_is_no_p256_public_key_stops_the_configure_step(scratch_source, installer_keys, tmp_path, kind):
    key = installer_keys["p384"] if kind == "p384" else installer_keys["first"].with_name("first.pem")
    result = release(scratch_source, tmp_path / "tmp", KELVORA_DOWNLOAD_URL=URL, KELVORA_INSTALLER_KEYS=str(key))
    assert result.returncode != 0
    assert "configuring the build failed" in result.stderr
    expected = "is not an ECDSA P-256 public key" if kind == "p384" else "is not a PEM public key"
    # CMake wraps its messages: compared with the line breaks and indents made single blanks.
    assert expected in " ".join(result.stderr.split()), result.stderr
    assert "PRIVATE KEY" not in result.stdout + result.stderr
    assert_nothing_left(scratch_source, tmp_path / "tmp")


def test_signature_that_does_not_verify_stops_the_release(scratch_source, signing, tmp_path):
    """osslsigncode that changes one byte of what it signed, the way a signature
    damaged between signing and shipping would look: the check after signing
    refuses it and nothing is released."""
    shim = tmp_path / "bin"
    shim.mkdir()
    (shim / "osslsigncode").write_text(f"""#!/usr/bin/python3
import subprocess, sys
result = subprocess.run([{shutil.which("osslsigncode")!r}, *sys.argv[1:]])
if result.returncode == 0 and sys.argv[1] == "sign":
    out = sys.argv[sys.argv.index("-out") + 1]
    data = bytearray(open(out, "rb").read())
    data[len(data) // 3] ^= 0x01
    open(out, "wb").write(bytes(data))
sys.exit(result.returncode)
""")
    (shim / "osslsigncode").chmod(0o755)
    result = release(scratch_source, tmp_path / "tmp", path_prefix=shim, KELVORA_DOWNLOAD_URL=URL,
                     KELVORA_SIGN_PKCS12=str(signing["pkcs12"]), KELVORA_SIGN_PASSWORD_FILE=str(signing["password"]),
                     KELVORA_SIGN_CA=str(signing["ca"]))
    assert result.returncode != 0
    assert "does not verify against KELVORA_SIGN_CA" in result.stderr, result.stderr
    assert PASSWORD not in result.stdout + result.stderr
    assert_nothing_left(scratch_source, tmp_path / "tmp")
