// CheckReport: what the operator check (tarvex --check) found, printed as it goes
// in aligned columns (headings and rows at once; problems collected and printed
// by finish()). Writes to the FILE it is given, which it does not own. Not
// thread-safe; one report per check.
//
// Problems are errors (the settings cannot work as written) or warnings (they
// work, but probably not as meant); a failed try counts apart. finish() prints the
// problems and the result line and returns 0 when there is no error and every try
// answered, else 1.
#ifndef TARVEX_OPERATOR_CHECK_REPORT_H_
#define TARVEX_OPERATOR_CHECK_REPORT_H_

#include <cstdio>
#include <string>
#include <vector>

#include "operator/reach_probe.h"

// Default of the lookups that must tell a missing key from an empty one.
constexpr const char* kCheckAbsent = "\x01(absent)\x01";

class CheckReport {
 public:
  explicit CheckReport(std::FILE* out) : out_(out) {}

  void heading(const std::string& title);
  void row(const std::string& label, const std::string& value);
  void error(const std::string& text);
  void warning(const std::string& text);
  void tried(const std::string& label, const ProbeResult& r);

  // A number as written in `file`: a leading 0 (octal to the reader) is a warning,
  // for a port an error, and so is a port out of 1..65535. kCheckAbsent and ""
  // pass.
  void numberText(const char* file, const std::string& key, const std::string& text,
                  bool port);

  int finish();

 private:
  std::FILE* out_;
  std::vector<std::string> problems_;
  int errors_ = 0;
  int warnings_ = 0;
  int failedTries_ = 0;
};

#endif  // TARVEX_OPERATOR_CHECK_REPORT_H_
