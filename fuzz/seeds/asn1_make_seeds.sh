#!/bin/bash
# Makes the seed certificates of the asn1 fuzzers with the openssl command:
#   fuzz/seeds/asn1_make_seeds.sh
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

openssl req -x509 -newkey rsa:1024 -nodes -keyout "$tmp/rsa.key" -subj "/C=CZ/O=Seed/CN=Seed v3" \
  -days 30 -set_serial 0xF301 \
  -addext "keyUsage=critical,digitalSignature,nonRepudiation" \
  -addext "extendedKeyUsage=clientAuth,emailProtection,1.3.6.1.4.1.311.20.2.2" \
  -addext "subjectAltName=email:seed@example.test,DNS:seed.example.test" \
  -addext "nsCertType=client,email" \
  -outform DER -out "$tmp/rsa-v3.der"
openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$tmp/ec.key" \
  -subj "/CN=Seed EC" -days 30 -outform DER -out "$tmp/ec-v3.der"
openssl x509 -in "$tmp/rsa-v3.der" -inform DER -noout >/dev/null

for name in asn1_der_fuzz asn1_cert_fuzz; do
  cp "$tmp/rsa-v3.der" "$name/rsa-v3.der"
  cp "$tmp/ec-v3.der" "$name/ec-v3.der"
done
