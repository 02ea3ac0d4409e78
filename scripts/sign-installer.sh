#!/usr/bin/env bash
# The vendor's own key: makes a key pair, or signs an installer with it.
#   scripts/sign-installer.sh --new-key DIR
#       writes DIR/installer-key.pem (the private key, readable by its owner
#       only; keep it off the build and web servers) and DIR/installer-key.pub.pem
#       (the public key, for KELVORA_INSTALLER_KEYS), and prints the public
#       key's fingerprint (SHA-256 of its DER SubjectPublicKeyInfo).
#   scripts/sign-installer.sh KEY FILE
#       writes FILE.sig, a DER ECDSA P-256 signature over FILE's SHA-256 made
#       with the private key KEY, and verifies it with openssl before it says
#       it is done. Upload FILE.sig beside FILE, at the same address with
#       ".sig" appended, on every mirror too.
set -euo pipefail
export LC_ALL=C

fail() {
  echo "sign-installer: $*" >&2
  exit 1
}
usage() { fail "usage: $0 --new-key DIR | $0 KEY FILE"; }

fingerprint() {
  openssl ec -pubin -in "$1" -conv_form uncompressed -outform DER 2>/dev/null | sha256sum | cut -d' ' -f1
}

[ $# -eq 2 ] || usage
if [ "$1" = --new-key ]; then
  dir=$2
  mkdir -p -- "$dir"
  private="$dir/installer-key.pem"
  public="$dir/installer-key.pub.pem"
  [ ! -e "$private" ] && [ ! -e "$public" ] || fail "$dir already holds a key: a new one would replace it"
  # The private key is made readable by its owner only before a byte is written.
  (umask 077 && openssl ecparam -name prime256v1 -genkey -noout -out "$private") || fail "making the key failed"
  chmod 600 -- "$private"
  openssl ec -in "$private" -pubout -out "$public" 2>/dev/null || fail "writing the public key failed"
  chmod 644 -- "$public"
  echo "sign-installer: private key $private (keep it secret and backed up)"
  echo "sign-installer: public key  $public (build with KELVORA_INSTALLER_KEYS=$public)"
  echo "sign-installer: fingerprint $(fingerprint "$public")"
  exit 0
fi

key=$1
file=$2
[ -f "$key" ] && [ -r "$key" ] || fail "no readable key at '$key'"
[ -f "$file" ] && [ -r "$file" ] || fail "no readable file at '$file'"
# Only a P-256 key: the program verifies nothing else.
curve=$(openssl ec -in "$key" -noout -text 2>/dev/null | sed -n 's/^ASN1 OID: //p')
[ "$curve" = prime256v1 ] || fail "$key is not a P-256 private key (as --new-key makes it)"
signature="$file.sig"
work=$(mktemp -d "${TMPDIR:-/tmp}/kelvora-sign.XXXXXX")
trap 'rm -rf -- "$work"' EXIT
openssl ec -in "$key" -pubout -out "$work/public.pem" 2>/dev/null || fail "reading the public key of $key failed"
openssl dgst -sha256 -sign "$key" -out "$work/file.sig" "$file" || fail "signing $file failed"
# Checked before it is put in place: a signature that does not verify is never written.
openssl dgst -sha256 -verify "$work/public.pem" -signature "$work/file.sig" "$file" >/dev/null ||
  fail "the signature of $file does not verify: nothing written"
mv -f -- "$work/file.sig" "$signature"
chmod 644 -- "$signature"
echo "sign-installer: $signature verified with the public key $(fingerprint "$work/public.pem")"
