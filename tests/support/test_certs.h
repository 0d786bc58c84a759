// Certificates for the TLS tests, made at test time with the openssl command (EC
// P-256 keys, valid two days) in a directory the caller owns:
//   ca.pem               the test CA
//   server.pem/.key      signed by it, for IP 127.0.0.1 and DNS localhost
//   othername.pem/.key   signed by it, for DNS other.invalid only
//   client.pem/.key      signed by it, for client authentication
//   wrongca.pem          an unrelated CA that signed none of them
#ifndef TARVEX_TESTS_SUPPORT_TEST_CERTS_H_
#define TARVEX_TESTS_SUPPORT_TEST_CERTS_H_

#include <string>

class TestCerts {
 public:
  // Writes the files into `dir` (created when missing). Check ok() afterwards;
  // error() holds openssl's output when it failed.
  explicit TestCerts(std::string dir);

  bool ok() const { return ok_; }
  const std::string& error() const { return error_; }
  // Full path of one of the files above, e.g. file("ca.pem").
  std::string file(const std::string& name) const { return dir_ + "/" + name; }

 private:
  std::string dir_;
  bool ok_ = false;
  std::string error_;
};

#endif  // TARVEX_TESTS_SUPPORT_TEST_CERTS_H_
