#pragma once

#include <filesystem>

namespace orgkat::test {

inline constexpr char kClientPassPhrase[] = "qwzxkvbn";

// Files made by the openssl command in a directory: a self-signed server certificate with an
// unprotected key, and a client certificate "01cert.pem" (subject "/CN=orgkat-client") with its key
// "01key.pem" protected by kClientPassPhrase; and a second client certificate and key, with the
// subject "/CN=orgkat-client-2", protected by the same pass phrase; and a third,
// "/CN=orgkat-client-3" with the same pass phrase, issued by the test authority
// "/CN=orgkat-test-ca" (authority_cert).
struct TestCertificates {
  std::filesystem::path dir;
  std::filesystem::path server_cert;
  std::filesystem::path server_key;
  std::filesystem::path client_cert;
  std::filesystem::path client_key;
  std::filesystem::path second_client_cert;
  std::filesystem::path second_client_key;
  std::filesystem::path authority_cert;
  std::filesystem::path issued_client_cert;
  std::filesystem::path issued_client_key;
};

// Generates the files once per process in a fresh temporary directory; throws on failure.
const TestCertificates& SharedTestCertificates();

// Changes the working directory for its lifetime.
class ScopedWorkingDirectory {
 public:
  explicit ScopedWorkingDirectory(const std::filesystem::path& dir);
  ~ScopedWorkingDirectory();
  ScopedWorkingDirectory(const ScopedWorkingDirectory&) = delete;
  ScopedWorkingDirectory& operator=(const ScopedWorkingDirectory&) = delete;

 private:
  std::filesystem::path previous_;
};

}  // namespace orgkat::test
