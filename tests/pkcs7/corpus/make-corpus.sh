#!/bin/sh
# Regenerates the CMS corpus of this folder with openssl (gost engine from
# tests/fixtures/openssl-gost.cnf): keys and certificates, one signed message
# per shape, and a CRL and an unsigned attribute spliced in where openssl
# cannot add them. Run from anywhere; it rewrites the files in place.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
export OPENSSL_CONF="$here/../../fixtures/openssl-gost.cnf"
cd "$here"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
rm -f ./*.pem ./*.der ./*.p7s

printf 'Payment order 17: 1500.00 RUB to account 40702810900000000001\n' > content.txt

# Two CAs, each issuing a certificate of serial 01.
ca() {
    openssl req -new -x509 -days 3650 -newkey rsa:2048 -nodes -subj "/CN=$1/O=Corpus" \
        -keyout "$1-key.pem" -out "$1.pem" -set_serial 100 2>/dev/null
}
issue() { # name ca serial keyfile subject
    openssl req -new -key "$4" -subj "$5" -out "$work/$1.csr" 2>/dev/null
    printf 'subjectKeyIdentifier=hash\nkeyUsage=digitalSignature,nonRepudiation\n' > "$work/ext"
    openssl x509 -req -in "$work/$1.csr" -CA "$2.pem" -CAkey "$2-key.pem" -set_serial "$3" -days 3650 \
        -extfile "$work/ext" -out "$1.pem" 2>/dev/null
}
ca ca-a
ca ca-b
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa-key.pem 2>/dev/null
openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:2048 -out rsa2-key.pem 2>/dev/null
openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out ec-key.pem 2>/dev/null
openssl genpkey -algorithm gost2012_256 -pkeyopt paramset:A -out gost256-key.pem 2>/dev/null
openssl genpkey -algorithm gost2012_512 -pkeyopt paramset:A -out gost512-key.pem 2>/dev/null
issue rsa ca-a 1 rsa-key.pem "/CN=Rsa signer/C=RU"
issue rsa2 ca-b 1 rsa2-key.pem "/CN=Second rsa signer/C=RU"
issue ec ca-a 2 ec-key.pem "/CN=Ecdsa signer/C=RU"
issue gost256 ca-b 3 gost256-key.pem "/CN=Gost 256 signer/C=RU"
issue gost512 ca-b 4 gost512-key.pem "/CN=Gost 512 signer/C=RU"

sign() { # output options...
    out=$1
    shift
    openssl cms -sign -binary -nodetach -outform DER -in content.txt -out "$out.p7s" "$@"
}
sign rsa-sha256-cades -cades -md sha256 -signer rsa.pem -inkey rsa-key.pem
sign rsa-sha1-cades -cades -md sha1 -signer rsa.pem -inkey rsa-key.pem
sign rsa-sha512-cades -cades -md sha512 -signer rsa.pem -inkey rsa-key.pem
sign rsa-stream -stream -cades -md sha256 -signer rsa.pem -inkey rsa-key.pem
sign rsa-keyid -keyid -cades -md sha256 -signer rsa.pem -inkey rsa-key.pem
sign rsa-nocerts -nocerts -md sha256 -signer rsa.pem -inkey rsa-key.pem
sign rsa-noattr -noattr -md sha256 -signer rsa.pem -inkey rsa-key.pem
sign gost256-cades -cades -signer gost256.pem -inkey gost256-key.pem
sign gost512-cades -cades -signer gost512.pem -inkey gost512-key.pem
sign rsa-pss+gost256 -cades -signer rsa.pem -inkey rsa-key.pem -keyopt rsa_padding_mode:pss \
    -signer gost256.pem -inkey gost256-key.pem
sign ecdsa+gost256 -cades -signer ec.pem -inkey ec-key.pem -signer gost256.pem -inkey gost256-key.pem
sign three-signers -cades -signer rsa.pem -inkey rsa-key.pem \
    -signer gost256.pem -inkey gost256-key.pem -signer gost512.pem -inkey gost512-key.pem
# Both certificates of serial 01 travel with the message; rsa2 (ca-b) signs.
sign same-serial -cades -md sha256 -signer rsa2.pem -inkey rsa2-key.pem -certfile rsa.pem

# A CRL of ca-a, spliced into a message with an unsigned attribute.
mkdir -p "$work/ca"
: > "$work/ca/index.txt"
cat > "$work/ca.cnf" <<CNF
[ca]
default_ca = corpus
[corpus]
database = $work/ca/index.txt
crlnumber = $work/ca/crlnumber
default_md = sha256
default_crl_days = 3650
CNF
echo 01 > "$work/ca/crlnumber"
openssl ca -config "$work/ca.cnf" -gencrl -cert ca-a.pem -keyfile ca-a-key.pem -out "$work/crl.pem" 2>/dev/null
openssl crl -in "$work/crl.pem" -outform DER -out ca-a-crl.der
python3 "$here/splice.py" rsa-sha256-cades.p7s ca-a-crl.der crl+unsigned.p7s
python3 "$here/splice.py" --flip-signature rsa-sha256-cades.p7s - bad-signature.p7s

# Certificates as DER for readers without PEM.
for c in ca-a ca-b rsa rsa2 ec gost256 gost512; do
    openssl x509 -in "$c.pem" -outform DER -out "$c.der"
done
