#include "app/common/run_readiness.h"

#include <filesystem>
#include <random>

#include "platform/file_creation.h"
#include "platform/path_text.h"
#include "scraper/request_profile.h"

namespace orgkat {
namespace {

namespace fs = std::filesystem;

// Creates, writes and removes a file, as a run will: a read-only mount, a folder the user may not
// write to or a full disk fail here instead of after the list request. Returns the reason.
std::string OutputDirectoryProblem(const std::string& dir) {
  std::string path;
  std::string problem;
  try {
    OutputFile probe = CreateNumberedFile(dir, ".orgkat-write-check-",
                                          static_cast<std::int32_t>(std::random_device{}()), "");
    path = probe.Path();
    probe.WriteAll("\n", 1);
    probe.Close();
  } catch (const std::exception& e) {
    problem = e.what();
  }
  std::error_code ec;
  if (!path.empty()) fs::remove(PathFromUtf8(path), ec);
  return problem;
}

OperatorNotice OutputDirectoryNotice(const std::string& dir, const std::string& reason,
                                     const std::string& configFile) {
  return {"no file can be created in the output directory " + dir + ": " + reason,
          "В папку " + dir + " нельзя записать файлы (" + reason +
              ").\n\nВыберите другую папку для результатов: добавьте в файл " + configFile +
              " строку\n    output_dir = ПАПКА\nи запустите программу снова."};
}

struct CertificateCheck {
  std::string Folder;
  std::string Missing;  // the names of the missing files, comma-separated
  std::string Failure;  // why the files that are there cannot be used
};

std::optional<CertificateCheck> CheckCertificate(const RunConfig& config) {
  const auto tls = RequestSettings(config).Tls;
  if (!tls) return std::nullopt;
  std::error_code ec;
  CertificateCheck check;
  check.Folder = config.CertDir.empty() ? Utf8FromPath(fs::current_path(ec)) : config.CertDir;
  for (const auto& name : {tls->CertFile, tls->PrivKeyFile}) {
    if (!fs::exists(PathFromUtf8(name), ec)) {
      check.Missing += (check.Missing.empty() ? "" : ", ") + name;
    }
  }
  if (check.Missing.empty()) check.Failure = TlsSetupProblem(*tls);
  if (check.Missing.empty() && check.Failure.empty()) return std::nullopt;
  return check;
}

OperatorNotice CertificateNotice(const RunConfig& config, const CertificateCheck& check,
                                 const std::string& configFile) {
  std::error_code ec;
  const auto cwd = Utf8FromPath(fs::current_path(ec));
  const std::string console =
      (!check.Missing.empty() ? "the client certificate files are missing: " + check.Missing
                              : "the client certificate cannot be used: " + check.Failure +
                                    " (is the key protected by the program's pass phrase?)") +
      "; working directory " + cwd +
      "; every request will fail with \"Connection aborted on request\"";
  return {console, CertificateAdvice(config, configFile)};
}

}  // namespace

std::string CertificateAdvice(const RunConfig& config, const std::string& configFile) {
  const auto check = CheckCertificate(config);
  if (!check) return {};
  const std::string what =
      !check->Missing.empty()
          ? "В папке " + check->Folder + " нет файлов сертификата клиента (" + check->Missing + ")."
          : "Сертификат клиента в папке " + check->Folder + " нельзя использовать (" +
                check->Failure + "): возможно, ключ защищён не тем паролем.";
  return what +
         " Без сертификата каталог отклонит каждый запрос.\n\nПоложите файлы 01cert.pem и "
         "01key.pem в эту папку или укажите папку с ними в файле " +
         configFile + " строкой\n    cert_dir = ПАПКА";
}

RunReadiness CheckBeforeRun(const RunConfig& config, const std::string& configFile) {
  RunReadiness readiness;
  if (const auto problem = OutputDirectoryProblem(config.OutputDir); !problem.empty()) {
    readiness.Error = OutputDirectoryNotice(config.OutputDir, problem, configFile);
    return readiness;
  }
  if (const auto check = CheckCertificate(config)) {
    readiness.Notices.push_back(CertificateNotice(config, *check, configFile));
  }
  return readiness;
}

}  // namespace orgkat
