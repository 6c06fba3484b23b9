#!/bin/sh
# A throw-away certificate authority for tests: make-test-ca.sh DIR [NAME]
# DIR/ca.pem (root), DIR/intermediate.pem, and a server certificate signed by
# the intermediate for NAME (default localhost) and 127.0.0.1: DIR/leaf.pem,
# DIR/leaf.key, with DIR/leaf-chain.pem holding the leaf and the intermediate.
# The root and intermediate are kept when DIR has them, so a second run
# renews only the server certificate.
set -eu
dir=$1
name=${2:-localhost}
cd "$dir"
quiet() { "$@" >/dev/null 2>&1; }
if [ ! -f ca.pem ]; then
  quiet openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes -days 2 \
    -subj "/CN=Tovik test root" -keyout ca.key -out ca.pem \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
  quiet openssl req -new -newkey ec -pkeyopt ec_paramgen_curve:P-256 -nodes \
    -subj "/CN=Tovik test intermediate" -keyout intermediate.key -out intermediate.csr
  printf 'basicConstraints=critical,CA:TRUE,pathlen:0\nkeyUsage=critical,keyCertSign,cRLSign\n' > intermediate.ext
  quiet openssl x509 -req -in intermediate.csr -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile intermediate.ext -out intermediate.pem
fi
quiet openssl req -new -newkey rsa:2048 -nodes -subj "/CN=$name" -keyout leaf.key -out leaf.csr
# A revocation list address, as every public authority gives one; nothing serves it.
printf 'subjectAltName=DNS:%s,DNS:localhost,IP:127.0.0.1\nextendedKeyUsage=serverAuth\nkeyUsage=critical,digitalSignature,keyEncipherment\ncrlDistributionPoints=URI:http://127.0.0.1/tovik-test.crl\n' \
  "$name" > leaf.ext
quiet openssl x509 -req -in leaf.csr -CA intermediate.pem -CAkey intermediate.key -CAcreateserial -days 2 \
  -extfile leaf.ext -out leaf.pem
cat leaf.pem intermediate.pem > leaf-chain.pem
