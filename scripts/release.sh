#!/usr/bin/env bash
# Builds the release Kelvora_Installer.exe with a vendor's settings, as root on
# Debian 12, from a fresh build folder, optionally signs it (Authenticode,
# osslsigncode) and verifies the signature, and writes dist/Kelvora_Installer.exe
# and dist/SHA256SUMS. Settings come from the environment (README, "Releasing"):
#   KELVORA_DOWNLOAD_URL           required, https://...
#   KELVORA_INSTALLER_PUBLISHER    optional, publisher whose signature the download must carry
#   KELVORA_RESUME_ATTEMPTS        optional, 0 to 20
#   KELVORA_FALLBACK_URLS          optional, https addresses tried in order after it (";" between)
#   KELVORA_INSTALLER_KEYS         optional, PEM P-256 public key files (";" between; relative to the
#                                  source folder or absolute), one of which must have signed the download
#   KELVORA_SIGN_CERT + KELVORA_SIGN_KEY            PEM chain and PEM key, or
#   KELVORA_SIGN_PKCS12 + KELVORA_SIGN_PASSWORD_FILE
#   KELVORA_SIGN_CA                PEM chain the signature must verify against (with either)
#   KELVORA_SIGN_TIMESTAMP_URL     optional RFC 3161 time-stamp server
# Any run first removes an earlier dist/; only a run that succeeds leaves one.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
export LC_ALL=C TZ=UTC
umask 022

fail() {
  echo "release: $*" >&2
  exit 1
}

work=""
staging=""
cleanup() {
  if [ -n "$work" ]; then rm -rf -- "$work"; fi
  if [ -n "$staging" ]; then rm -rf -- "$staging"; fi
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -rf -- dist

# --- The settings, checked before anything is built.
url=${KELVORA_DOWNLOAD_URL:-}
publisher=${KELVORA_INSTALLER_PUBLISHER:-}
resume=${KELVORA_RESUME_ATTEMPTS:-0}
# Every address becomes a string literal in the program (the same rule as
# cmake/DownloadAddress.cmake).
check_address() {
  local setting=$1 address=$2
  [[ "$address" =~ ^https://[^/?#@]+/.+$ ]] || fail "$setting must be an https:// address with a host and a path, not '$address'"
  case "$address" in
    *[[:space:][:cntrl:]\"\'\\\;]*) fail "$setting must not contain blanks, control characters, quotes, backslashes or semicolons" ;;
  esac
}
[ -n "$url" ] || fail "KELVORA_DOWNLOAD_URL is required: the https address of Kelvora_Install.exe"
check_address KELVORA_DOWNLOAD_URL "$url"
# A list as CMake writes one: ";" between the addresses. A line break would
# hide every line after the first from the reading below.
case "${KELVORA_FALLBACK_URLS:-}" in
  *$'\n'* | *$'\r'*) fail "KELVORA_FALLBACK_URLS must not contain a line break: give the addresses on one line with ';' between them" ;;
esac
fallback_list=""
IFS=';' read -r -a fallbacks <<<"${KELVORA_FALLBACK_URLS:-}" || true
for address in ${fallbacks[@]+"${fallbacks[@]}"}; do
  [ -n "$address" ] || continue
  check_address KELVORA_FALLBACK_URLS "$address"
  fallback_list+="${fallback_list:+;}$address"
done
# The keys: a list as CMake writes one. A line break would leave the rest
# of the list unread, so it is refused rather than cut off.
keys=${KELVORA_INSTALLER_KEYS:-}
case "$keys" in *$'\n'* | *$'\r'*) fail "KELVORA_INSTALLER_KEYS must not contain a line break: put ';' between the key files" ;; esac
key_list=""
key_paths=()
IFS=';' read -r -a key_entries <<<"$keys" || true
for key_file in ${key_entries[@]+"${key_entries[@]}"}; do
  [ -n "$key_file" ] || continue
  case "$key_file" in /*) ;; *) key_file="$root/$key_file" ;; esac
  [ -f "$key_file" ] && [ -r "$key_file" ] || fail "KELVORA_INSTALLER_KEYS: no readable file at '$key_file'"
  key_paths+=("$key_file")
  key_list+="${key_list:+;}$key_file"
done
case "$publisher" in *[[:cntrl:]]*) fail "KELVORA_INSTALLER_PUBLISHER must not contain control characters" ;; esac
[[ "$resume" =~ ^([0-9]|1[0-9]|20)$ ]] || fail "KELVORA_RESUME_ATTEMPTS must be a whole number from 0 to 20"

cert=${KELVORA_SIGN_CERT:-}
key=${KELVORA_SIGN_KEY:-}
pkcs12=${KELVORA_SIGN_PKCS12:-}
password_file=${KELVORA_SIGN_PASSWORD_FILE:-}
ca=${KELVORA_SIGN_CA:-}
timestamp_url=${KELVORA_SIGN_TIMESTAMP_URL:-}
signing=no
if [ -n "$cert$key" ]; then
  [ -z "$pkcs12" ] || fail "give either KELVORA_SIGN_CERT and KELVORA_SIGN_KEY or KELVORA_SIGN_PKCS12, not both"
  [ -n "$cert" ] && [ -n "$key" ] || fail "KELVORA_SIGN_CERT and KELVORA_SIGN_KEY are given together"
  signing=pem
elif [ -n "$pkcs12" ]; then
  [ -n "$password_file" ] || fail "KELVORA_SIGN_PKCS12 needs KELVORA_SIGN_PASSWORD_FILE"
  signing=pkcs12
elif [ -n "$password_file$ca$timestamp_url" ]; then
  fail "signing settings without a certificate: give KELVORA_SIGN_CERT and KELVORA_SIGN_KEY, or KELVORA_SIGN_PKCS12"
fi
if [ "$signing" != no ]; then
  [ -n "$ca" ] || fail "signing needs KELVORA_SIGN_CA, the PEM chain to verify the signature against"
  for name in KELVORA_SIGN_CERT KELVORA_SIGN_KEY KELVORA_SIGN_PKCS12 KELVORA_SIGN_PASSWORD_FILE KELVORA_SIGN_CA; do
    file=${!name:-}
    if [ -n "$file" ] && ! { [ -f "$file" ] && [ -r "$file" ]; }; then
      fail "$name: no readable file at '$file'"
    fi
  done
  case "$timestamp_url" in "" | http://?* | https://?*) ;; *) fail "KELVORA_SIGN_TIMESTAMP_URL must be an http:// or https:// address" ;; esac
fi

bash scripts/install-deps.sh

work=$(mktemp -d "${TMPDIR:-/tmp}/kelvora-release.XXXXXX")
# The compilers' own temporary files too (the MinGW-w64 driver leaves empty ones).
export TMPDIR="$work/tmp"
mkdir "$TMPDIR"
if [ "$signing" = pkcs12 ]; then
  # A wrong password is told now, not after the build. OpenSSL 3 opens older
  # files (RC2, 3DES) only with -legacy.
  if ! openssl pkcs12 -in "$pkcs12" -passin "file:$password_file" -noout >/dev/null 2>&1 &&
     ! openssl pkcs12 -legacy -in "$pkcs12" -passin "file:$password_file" -noout >/dev/null 2>&1; then
    fail "KELVORA_SIGN_PKCS12 cannot be opened with the password in KELVORA_SIGN_PASSWORD_FILE (wrong password, or not a PKCS#12 file)"
  fi
fi

# --- The build: only the exe, in a fresh folder. Its bytes depend on the
# commit and the settings only (no paths, no time stamps, see CMakeLists.txt).
if command -v git >/dev/null && [ "$(git -C "$root" rev-parse --show-toplevel 2>/dev/null)" = "$root" ]; then
  commit=$(git -C "$root" rev-parse HEAD)
  git -C "$root" diff --quiet HEAD -- 2>/dev/null || commit="$commit (with uncommitted changes)"
  SOURCE_DATE_EPOCH=$(git -C "$root" log -1 --format=%ct)
  export SOURCE_DATE_EPOCH
else
  commit="(not a git checkout)"
fi
build="$work/build"
echo "release: building in a fresh folder"
if ! cmake -S "$root" -B "$build" -G "Unix Makefiles" --toolchain "$root/cmake/mingw-w64-posix.cmake" \
       -DCMAKE_BUILD_TYPE=Release -DKELVORA_BUILD_TESTS=OFF \
       -DKELVORA_DOWNLOAD_URL="$url" -DKELVORA_INSTALLER_PUBLISHER="$publisher" \
       -DKELVORA_RESUME_ATTEMPTS="$resume" -DKELVORA_FALLBACK_URLS="$fallback_list" \
       -DKELVORA_INSTALLER_KEYS="$key_list" >"$work/configure.log" 2>&1; then
  cat "$work/configure.log" >&2
  fail "configuring the build failed"
fi
if ! cmake --build "$build" -j"$(nproc 2>/dev/null || echo 2)" --target Kelvora_Installer >"$work/build.log" 2>&1; then
  tail -n 40 "$work/build.log" >&2
  fail "the build failed"
fi
built="$build/src/app/Kelvora_Installer.exe"
# Each key's fingerprint: the SHA-256 of its DER SubjectPublicKeyInfo, as
# `openssl ec -pubin -in KEY -outform DER | sha256sum` gives it (the configure
# step has refused anything that is not a P-256 public key).
key_fingerprints=()
for key_file in ${key_paths[@]+"${key_paths[@]}"}; do
  openssl ec -pubin -in "$key_file" -conv_form uncompressed -outform DER -out "$work/key.der" 2>/dev/null ||
    fail "KELVORA_INSTALLER_KEYS: $key_file cannot be read as a public key"
  key_fingerprints+=("$(sha256sum "$work/key.der" | cut -d' ' -f1)  $key_file")
done
version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")
[ -n "$version" ] || fail "the build folder names no project version"
unsigned_sha256=$(sha256sum "$built" | cut -d' ' -f1)

# --- Signing: into the staging folder (beside dist/, so that the final rename
# is one step), verified there before anything else.
staging=$(mktemp -d "$root/.dist-staging.XXXXXX")
chmod 755 "$staging"
exe="$staging/Kelvora_Installer.exe"
if [ "$signing" = no ]; then
  cp "$built" "$exe"
else
  sign_args=(-h sha256 -n "Kelvora Installer")
  if [ "$signing" = pem ]; then
    sign_args+=(-certs "$cert" -key "$key")
    if [ -n "$password_file" ]; then sign_args+=(-readpass "$password_file"); fi
  else
    sign_args+=(-pkcs12 "$pkcs12" -readpass "$password_file")
  fi
  if [ -n "$timestamp_url" ]; then sign_args+=(-ts "$timestamp_url"); fi
  if ! osslsigncode sign "${sign_args[@]}" -in "$built" -out "$exe" >"$work/sign.log" 2>&1; then
    cat "$work/sign.log" >&2
    fail "signing failed"
  fi
  if ! osslsigncode verify -CAfile "$ca" -in "$exe" >"$work/verify.log" 2>&1; then
    cat "$work/verify.log" >&2
    fail "the signed exe does not verify against KELVORA_SIGN_CA: nothing released"
  fi
fi
(cd "$staging" && sha256sum Kelvora_Installer.exe >SHA256SUMS && sha256sum -c --quiet SHA256SUMS)
size=$(stat -c %s "$exe")
sha256=$(cut -d' ' -f1 "$staging/SHA256SUMS")
mv -T -- "$staging" "$root/dist"
staging=""

echo "release: dist/Kelvora_Installer.exe and dist/SHA256SUMS"
echo "  version:           $version"
echo "  commit:            $commit"
echo "  download address:  $url"
echo "  publisher:         ${publisher:-(none: any downloaded installer is started)}"
echo "  resume attempts:   $resume"
echo "  fallback addresses: ${fallback_list:-(none)}"
if ((${#key_fingerprints[@]})); then
  for line in "${key_fingerprints[@]}"; do echo "  installer key:     $line"; done
else
  echo "  installer keys:    (none: no detached signature is asked for)"
fi
case "$signing" in
  no) echo "  signed:            no" ;;
  *) echo "  signed:            yes (SHA-256, verified against KELVORA_SIGN_CA${timestamp_url:+, time-stamped})" ;;
esac
echo "  size:              $size bytes"
echo "  SHA-256:           $sha256"
echo "  unsigned SHA-256:  $unsigned_sha256 (what a rebuild of this commit with these settings gives)"
