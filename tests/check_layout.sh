#!/bin/sh
# The layers' include rules that the build alone cannot enforce, since the network, TLS and JSON
# libraries sit on the system include path: run from the repository root, prints every breach.
status=0
breach() {
  rule=$1
  shift
  if found=$(grep -rnE "$@"); then
    printf '%s:\n%s\n' "$rule" "$found"
    status=1
  fi
}
third_party='#include *[<"](boost/|asio|openssl/|nlohmann/)'
breach "the run's logic includes a toolkit or a library of the seams' inside" \
  '#include *[<"](Q|boost/|asio|openssl/|nlohmann/)' scraper/
breach "a seam header shows a library of the platform's inside" "$third_party" \
  --include='*.h' platform/*.h platform/posix platform/win32
breach "a front end reaches inside the platform library" \
  '#include *[<"](platform/tls/|platform/http/|boost/|asio|openssl/|nlohmann/)' app/
exit $status
