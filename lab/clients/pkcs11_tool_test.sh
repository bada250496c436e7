#!/usr/bin/env bash
# A standard PKCS#11 client, pkcs11-tool, drives the three lab token modules
# as it would drive the vendors' modules: slots, mechanisms, login, key
# generation, signing and verification, SO functions and its own self test.
# Usage: pkcs11_tool_test.sh MODULES_DIR LAB_DEVICE
set -u
modules=$1
labdevice=$2
here=$(dirname "$0")
. "$here/check.sh"
need pkcs11-tool
need openssl

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work" || exit 1
head -c 32 /dev/urandom >digest
head -c 32 /dev/urandom >other-digest

# A fresh state directory holding one device; $p11 drives MODULE on it.
device()
{
    local module=$1 model=$2 serial=$3 reader=$4
    export ORMID_LAB_DIR=$work/state-$serial
    mkdir -p "$ORMID_LAB_DIR"
    ok "$labdevice" add "$ORMID_LAB_DIR" --model "$model" --serial "$serial" --reader "$reader"
    p11=(pkcs11-tool --module "$modules/lib$module.so")
}

# The paths every make goes through; KEY_TYPE is pkcs11-tool's name of a GOST
# key the model generates.
common_paths()
{
    local serial=$1 reader=$2 key_type=$3
    ok "${p11[@]}" --list-slots
    has "Slot 0 (0x0): $reader" "serial num         : $serial" "token initialized, PIN initialized"
    ok "${p11[@]}" --list-mechanisms
    has "GOSTR3410-KEY-PAIR-GEN" "GOSTR3410, keySize={256,256}, hw, sign, verify" "GOSTR3411, hw, digest"

    # A wrong PIN spends a try, the right one gives them back.
    refused "${p11[@]}" --login --pin 00000000 --list-objects
    has CKR_PIN_INCORRECT
    ok "$labdevice" get "$ORMID_LAB_DIR" "$serial" user-tries-left
    [ "$out" = 9 ] || fail "tries left after a wrong PIN: $out"

    ok "${p11[@]}" --login --pin 12345678 --keypairgen --key-type "$key_type" --id 01 --label gost
    has "Key pair generated" "Private Key Object; GOSTR3410"
    ok "${p11[@]}" --list-objects
    has "Public Key Object; GOSTR3410" "label:      gost"
    lacks "Private Key Object"
    ok "${p11[@]}" --login --pin 12345678 --list-objects
    has "Private Key Object; GOSTR3410" "Access:     sensitive, always sensitive, never extractable, local"

    ok "${p11[@]}" --login --pin 12345678 --sign --mechanism GOSTR3410 --id 01 --input-file digest \
        --output-file signature
    [ "$(stat -c %s signature)" -eq 64 ] || fail "signature of $(stat -c %s signature) bytes"
    ok "${p11[@]}" --verify --mechanism GOSTR3410 --id 01 --input-file digest --signature-file signature
    has "Signature is valid"
    # pkcs11-tool reports a wrong signature in its output, not its exit status.
    run "${p11[@]}" --verify --mechanism GOSTR3410 --id 01 --input-file other-digest --signature-file signature
    has "Invalid signature"
    lacks "Signature is valid"

    ok "${p11[@]}" --test --login --pin 12345678
    has "No errors"
    lacks CKR_ATTRIBUTE_TYPE_INVALID
    ok "$labdevice" get "$ORMID_LAB_DIR" "$serial" user-tries-left
    [ "$out" = 10 ] || fail "tries left after the right PIN: $out"
}

# Rutoken: GOST R 34.10-2012 256-bit keys on the CryptoPro A set (pkcs11-tool
# calls it GOSTR3410-2012-256:B); its ":A" asks for the TC26 set A, which
# Rutoken ECP lacks and must refuse.
device rtpkcs11ecp rutoken-ecp-3 0A1B2C3D "Aktiv Rutoken ECP 00 00"
common_paths 0A1B2C3D "Aktiv Rutoken ECP 00 00" GOSTR3410-2012-256:B
refused "${p11[@]}" --login --pin 12345678 --keypairgen --key-type GOSTR3410-2012-256:A --id 02
has CKR_ATTRIBUTE_VALUE_INVALID

# The 512-bit pair through the vendor mechanisms.
head -c 64 /dev/urandom >digest512
ok "${p11[@]}" --login --pin 12345678 --keypairgen --key-type GOSTR3410-2012-512:A --id 05
has "Private Key Object; GOSTR3410-2012-512"
ok "${p11[@]}" --login --pin 12345678 --sign --mechanism GOSTR3410_512 --id 05 --input-file digest512 \
    --output-file signature512
[ "$(stat -c %s signature512)" -eq 128 ] || fail "512-bit signature of $(stat -c %s signature512) bytes"
ok "${p11[@]}" --verify --mechanism GOSTR3410_512 --id 05 --input-file digest512 --signature-file signature512
has "Signature is valid"

# With an RSA key the self test signs and verifies; it tries multi-part
# signing first, which the token refuses, and starts again. OpenSSL checks a
# signature against the exported public key.
ok "${p11[@]}" --login --pin 12345678 --keypairgen --key-type rsa:1024 --id 10 --label rsa
ok "${p11[@]}" --test --login --pin 12345678
has "No errors" "RSA-PKCS: OK"
lacks CKR_ATTRIBUTE_TYPE_INVALID
grep -A1 "C_SignUpdate .*rv=0x54" "$ORMID_LAB_DIR/calls.log" | grep -q "C_SignInit .*rv=0x0" ||
    fail "no fresh C_SignInit after the refused C_SignUpdate"
ok "${p11[@]}" --read-object --type pubkey --id 10 --output-file rsa.der
ok "${p11[@]}" --login --pin 12345678 --sign --mechanism RSA-PKCS --id 10 --input-file digest \
    --output-file rsa.sig
ok openssl pkeyutl -verify -pubin -keyform DER -inkey rsa.der -in digest -sigfile rsa.sig
has "Signature Verified Successfully"

# The security officer sets a new user PIN (a read-write session).
ok "${p11[@]}" --login --login-type so --so-pin 87654321 --init-pin --new-pin 11112222
ok "${p11[@]}" --login --pin 11112222 --list-objects
has "Private Key Object; RSA"

# MS_KEY K generates on the TC26 set A, JaCarta on CryptoPro A only.
device pkcs11-angara angara MSK00000001 "MS_KEY K 00 00"
common_paths MSK00000001 "MS_KEY K 00 00" GOSTR3410-2012-256:A
device jcPKCS11-2 jacarta-gost2 JC2000000001 "Aladdin R.D. JaCarta 00 00"
common_paths JC2000000001 "Aladdin R.D. JaCarta 00 00" GOSTR3410:A

echo "pkcs11-tool: all checks passed"
