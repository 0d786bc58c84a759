#include "operator/check_report.h"

#include <cstdint>
#include <cstdlib>

namespace {

constexpr int kLabelWidth = 24;  // characters of a row's label column

}  // namespace

void CheckReport::heading(const std::string& title) {
  std::fprintf(out_, "\n%s\n", title.c_str());
}

void CheckReport::row(const std::string& label, const std::string& value) {
  std::fprintf(out_, "  %-*s %s\n", kLabelWidth, label.c_str(), value.c_str());
}

void CheckReport::error(const std::string& text) {
  problems_.push_back("error  " + text);
  ++errors_;
}

void CheckReport::warning(const std::string& text) {
  problems_.push_back("warn   " + text);
  ++warnings_;
}

void CheckReport::tried(const std::string& label, const ProbeResult& r) {
  row(label, (r.ok ? "ok      " : "FAILED  ") + r.detail);
  if (!r.ok) ++failedTries_;
}

void CheckReport::numberText(const char* file, const std::string& key, const std::string& text,
                             bool port) {
  if (text == kCheckAbsent || text.empty()) return;
  const uint64_t value = std::strtoull(text.c_str(), nullptr, 0);
  if (text.size() > 1 && text[0] == '0' && text[1] != 'x' && text[1] != 'X') {
    const std::size_t digits = text.find_first_not_of('0');
    const std::string meant = digits == std::string::npos ? "0" : text.substr(digits);
    const std::string line = std::string(file) + ": " + key + "=" + text +
                             " reads as octal, giving " + std::to_string(value) +
                             "; write " + meant + " without the leading 0";
    if (port) {
      error(line);
    } else {
      warning(line);
    }
  } else if (port && (value == 0 || value > 65535)) {
    error(std::string(file) + ": " + key + "=" + text + " is not a port 1..65535");
  }
}

int CheckReport::finish() {
  heading("Problems");
  if (problems_.empty()) std::fprintf(out_, "  none\n");
  for (const std::string& p : problems_) std::fprintf(out_, "  %s\n", p.c_str());
  const bool good = errors_ == 0 && failedTries_ == 0;
  std::fprintf(out_, "\nResult: %d error(s), %d warning(s), %d failed tr%s: %s\n", errors_,
               warnings_, failedTries_, failedTries_ == 1 ? "y" : "ies",
               good ? "the settings can work and everything answers"
                    : "the service cannot work like this");
  return good ? 0 : 1;
}
