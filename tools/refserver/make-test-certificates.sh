#!/bin/sh
# Makes the certificates of the HTTPS tests in FOLDER, fresh at every run:
#
#   ca.pem                the test CA the agent is told to trust
#   other-ca.pem          a second CA that the agent does not trust
#   server.key            the key of every server certificate below
#   server.pem            signed by ca.pem, for 127.0.0.1 and localhost
#   other-ca-server.pem   the same names, signed by other-ca.pem
#   wrong-name.pem        signed by ca.pem, for kfs.wrong.test only
#   expired.pem           signed by ca.pem, for 127.0.0.1, expired in 2020
#
# Usage: make-test-certificates.sh FOLDER
set -eu
folder=$1
mkdir -p "$folder"
cd "$folder"
work=$(mktemp -d ./ca-work.XXXXXX)
trap 'rm -rf "$work"' EXIT

cat >"$work/ca.cnf" <<'EOF'
[ca]
default_ca = test_ca
[test_ca]
database = $ENV::KX_CA_WORK/index.txt
new_certs_dir = $ENV::KX_CA_WORK
serial = $ENV::KX_CA_WORK/serial
default_md = sha256
policy = any_name
unique_subject = no
copy_extensions = none
[any_name]
commonName = supplied
[ca_extensions]
basicConstraints = critical, CA:true
keyUsage = critical, keyCertSign, cRLSign
subjectKeyIdentifier = hash
[server_local]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = IP:127.0.0.1, DNS:127.0.0.1, DNS:localhost
authorityKeyIdentifier = keyid
[server_wrong_name]
basicConstraints = critical, CA:false
keyUsage = critical, digitalSignature, keyEncipherment
extendedKeyUsage = serverAuth
subjectAltName = DNS:kfs.wrong.test
authorityKeyIdentifier = keyid
EOF
export KX_CA_WORK="$PWD/$work"
: >"$work/index.txt"
echo 1000 >"$work/serial"

make_ca() {  # name, common name
    openssl req -x509 -newkey rsa:2048 -nodes -keyout "$1.key" -out "$1.pem" -days 30 \
        -subj "/CN=$2" -config "$work/ca.cnf" -extensions ca_extensions 2>/dev/null
}

sign() {  # output, CA, common name, extensions, start, end
    openssl req -new -key server.key -subj "/CN=$3" -out "$work/request.csr" 2>/dev/null
    openssl ca -batch -config "$work/ca.cnf" -cert "$2.pem" -keyfile "$2.key" \
        -in "$work/request.csr" -out "$1" -notext -extensions "$4" \
        -startdate "$5" -enddate "$6" 2>/dev/null
}

openssl genrsa -out server.key 2048 2>/dev/null
make_ca ca "Korvex Test CA"
make_ca other-ca "Other Test CA"
start=$(date -u -d '-1 day' +%Y%m%d%H%M%SZ)
end=$(date -u -d '+30 days' +%Y%m%d%H%M%SZ)
sign server.pem ca 127.0.0.1 server_local "$start" "$end"
sign other-ca-server.pem other-ca 127.0.0.1 server_local "$start" "$end"
sign wrong-name.pem ca kfs.wrong.test server_wrong_name "$start" "$end"
sign expired.pem ca 127.0.0.1 server_local 20200101000000Z 20200201000000Z
