#!/bin/bash
# Makes the seed certificates of the certificate-viewer fuzzer with the openssl command:
#   fuzz/seeds/certview_make_seeds.sh
# One certificate carries every extension the viewer knows, another a few it does not.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
out=certview_model_fuzz

cat >"$tmp/ext.cnf" <<'CNF'
[req]
distinguished_name = dn
[dn]
[policies]
policyIdentifier = 1.2.3.4
CPS.1 = "http://cps.example.test/cps"
userNotice.1 = @notice
[notice]
explicitText = "Seed notice"
organization = "Seed Org"
noticeNumbers = 1, 300
CNF

openssl req -x509 -newkey rsa:1024 -nodes -keyout "$tmp/rsa.key" -days 30 -set_serial 0xF301 \
  -subj "/C=CZ/O=Seed/OU=Unit/CN=Seed all extensions" -config "$tmp/ext.cnf" \
  -addext "certificatePolicies=ia5org,@policies,2.5.29.32.0" \
  -addext "basicConstraints=critical,CA:TRUE,pathlen:1" \
  -addext "nameConstraints=permitted;DNS:.example.test,excluded;email:bad.test" \
  -addext "policyConstraints=requireExplicitPolicy:1,inhibitPolicyMapping:2" \
  -addext "keyUsage=critical,digitalSignature,keyCertSign,cRLSign" \
  -addext "extendedKeyUsage=serverAuth,clientAuth,1.2.3.4" \
  -addext "subjectKeyIdentifier=hash" \
  -addext "2.5.29.35=DER:30:06:80:04:01:02:03:04" \
  -addext "subjectAltName=email:seed@example.test,DNS:seed.example.test,IP:::1,URI:http://x.test" \
  -addext "issuerAltName=DNS:issuer.example.test,IP:192.168.0.1" \
  -addext "inhibitAnyPolicy=2" \
  -addext "crlDistributionPoints=URI:http://crl.example.test/a.crl" \
  -addext "authorityInfoAccess=OCSP;URI:http://ocsp.example.test,caIssuers;URI:http://ca.test" \
  -addext "subjectInfoAccess=caRepository;URI:http://repo.test" \
  -addext "2.5.29.16=DER:30:22:80:0F:32:30:32:30:30:31:30:31:30:30:30:30:30:30:5A:81:0F:32:30:33:30:30:31:30:31:30:30:30:30:30:30:5A" \
  -addext "policyMappings=1.2.3.4:1.2.3.5" \
  -addext "2.5.29.9=DER:30:12:30:10:06:08:2B:06:01:05:05:07:09:04:31:04:13:02:43:5A" \
  -addext "freshestCRL=URI:http://delta.example.test" \
  -addext "nsCertType=client,server,email" \
  -addext "nsComment=Seed comment" \
  -outform DER -out "$out/all-extensions.der"

openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -keyout "$tmp/ec.key" \
  -subj "/CN=Seed unknown extensions" -days 30 -config "$tmp/ext.cnf" \
  -addext "1.2.3.4.5=critical,DER:05:00" -addext "tlsfeature=status_request" \
  -outform PEM -out "$out/unknown-extensions.pem"
openssl x509 -in "$out/all-extensions.der" -inform DER -noout -ext certificatePolicies

# Extension values alone (the fuzzer also reads its input as each extension's value):
# directory attributes with two character strings, and a distribution point with a
# relative name, reasons and a CRL issuer.
printf '\x30\x12\x30\x10\x06\x03\x2a\x03\x04\x31\x09\x13\x01\x61\x0c\x04\x3c\x62\x3e\x26' \
  >"$out/directory-attributes-value.der"
printf '\x30\x1d\x30\x1b\xa0\x0b\xa1\x09\x30\x07\x06\x03\x55\x04\x03\x0c\x00\x81\x02\x05\x60\xa2\x08\x82\x06\x63\x61\x2e\x74\x73\x74' \
  >"$out/distribution-point-value.der"
