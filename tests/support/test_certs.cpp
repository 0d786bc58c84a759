#include "tests/support/test_certs.h"

#include <filesystem>

#include "tests/support/child_process.h"

namespace {

constexpr int kOpensslLimitMs = 30000;  // the whole set, on a loaded machine

// $0 is the directory. "leaf NAME CN EXTENSIONS" makes a key and a certificate
// signed by the test CA.
constexpr const char* kScript = R"(set -e
cd "$0"
key() { openssl genpkey -algorithm EC -pkeyopt ec_paramgen_curve:P-256 -out "$1.key"; }
ca() {
  key "$1"
  openssl req -x509 -new -key "$1.key" -out "$1.pem" -days 2 -subj "/CN=tarvex test $1" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
}
leaf() {
  key "$1"
  openssl req -new -key "$1.key" -out "$1.csr" -subj "/CN=$2"
  printf '%s\n' "$3" > "$1.ext"
  openssl x509 -req -in "$1.csr" -CA ca.pem -CAkey ca.key -CAcreateserial -days 2 \
    -extfile "$1.ext" -out "$1.pem"
}
ca ca
ca wrongca
leaf server 127.0.0.1 "subjectAltName=IP:127.0.0.1,DNS:localhost"
leaf othername other.invalid "subjectAltName=DNS:other.invalid"
leaf client tarvex-client "extendedKeyUsage=clientAuth"
)";

}  // namespace

TestCerts::TestCerts(std::string dir) : dir_(std::move(dir)) {
  std::error_code ignored;
  std::filesystem::create_directories(dir_, ignored);
  ok_ = runCommand({"sh", "-c", kScript, dir_}, kOpensslLimitMs, &error_) == 0;
}
