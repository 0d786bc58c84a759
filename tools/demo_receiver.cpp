// demo_receiver: stands in for the receiving platform in the demo. Listens on
// 127.0.0.1, answers every POST with a short JSON text, and prints each document it
// gets on standard output, one block per document and one member per line. Texts
// that are not UTF-8 are shown converted from GBK and marked "[GBK]".
//
//   demo_receiver [--port N] [--port-file FILE]
//   demo_receiver --decode [WIDTH] < FILE
//
// --port 0 (the default) takes a free port; the port is printed on the first line
// and, with --port-file, written to FILE once the receiver listens. Runs until
// SIGTERM or SIGINT. --decode copies standard input to standard output with GBK
// texts converted to UTF-8 (for showing the run log, which mixes both); lines longer
// than WIDTH bytes are cut there.
#include <iconv.h>
#include <json/json.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>

#include "tools/loopback_receiver.h"

namespace {

volatile sig_atomic_t gStop = 0;  // set by SIGTERM / SIGINT

void onStopSignal(int) { gStop = 1; }

bool isUtf8(const std::string& s) {
  std::size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    std::size_t extra = 0;  // continuation bytes of this sequence
    if (c < 0x80) {
      extra = 0;
    } else if ((c & 0xE0) == 0xC0 && c >= 0xC2) {
      extra = 1;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2;
    } else if ((c & 0xF8) == 0xF0 && c <= 0xF4) {
      extra = 3;
    } else {
      return false;
    }
    if (s.size() - i - 1 < extra) return false;
    for (std::size_t k = 1; k <= extra; ++k) {
      if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
    }
    i += extra + 1;
  }
  return true;
}

// GBK bytes as UTF-8 for display; the input unchanged when it is not GBK either.
std::string gbkToUtf8(const std::string& s) {
  iconv_t cd = iconv_open("UTF-8", "GBK");
  if (cd == reinterpret_cast<iconv_t>(-1)) return s;
  std::string out(s.size() * 2 + 4, '\0');
  char* in = const_cast<char*>(s.data());
  std::size_t inLeft = s.size();
  char* o = &out[0];
  std::size_t outLeft = out.size();
  const std::size_t rc = iconv(cd, &in, &inLeft, &o, &outLeft);
  iconv_close(cd);
  if (rc == static_cast<std::size_t>(-1)) return s;
  out.resize(out.size() - outLeft);
  return out;
}

// A line that may mix encodings, for display: every run of non-ASCII bytes is kept
// when it is UTF-8 and converted from GBK otherwise.
std::string decodeMixed(const std::string& line) {
  std::string out;
  std::size_t i = 0;
  while (i < line.size()) {
    std::size_t j = i;
    const bool ascii = static_cast<unsigned char>(line[i]) < 0x80;
    while (j < line.size() && (static_cast<unsigned char>(line[j]) < 0x80) == ascii) ++j;
    const std::string run = line.substr(i, j - i);
    out += (ascii || isUtf8(run)) ? run : gbkToUtf8(run);
    i = j;
  }
  return out;
}

std::string forDisplay(const std::string& s) {
  if (isUtf8(s)) return s;
  return gbkToUtf8(s) + "   [GBK]";
}

std::string describe(const Json::Value& v) {
  if (v.isString()) return forDisplay(v.asString());
  Json::FastWriter w;
  std::string t = w.write(v);
  if (!t.empty() && t.back() == '\n') t.pop_back();
  return t + "   (not a string)";
}

// One printed block for one request body.
std::string render(int docNo, const std::string& target, const std::string& body) {
  std::string out;
  Json::Value root;
  Json::Reader reader;
  if (!reader.parse(body, root, false) || !root.isArray()) {
    out += "=== document " + std::to_string(docNo) + " to " + target + ": " +
           std::to_string(body.size()) + " bytes, not a JSON array:\n" + forDisplay(body) + "\n";
    return out;
  }
  out += "=== document " + std::to_string(docNo) + " to " + target + ": " +
         std::to_string(root.size()) + (root.size() == 1 ? " record, " : " records, ") +
         std::to_string(body.size()) + " bytes\n";
  for (Json::ArrayIndex i = 0; i < root.size(); ++i) {
    const Json::Value& rec = root[i];
    out += "  record " + std::to_string(i + 1) + "\n";
    if (!rec.isObject()) {
      out += "    " + describe(rec) + "\n";
      continue;
    }
    std::string empty;
    for (const std::string& name : rec.getMemberNames()) {
      const Json::Value& v = rec[name];
      if (v.isString() && v.asString().empty()) {
        empty += (empty.empty() ? "" : " ") + name;
        continue;
      }
      char label[40];
      std::snprintf(label, sizeof(label), "    %-13s ", name.c_str());
      out += label + describe(v) + "\n";
    }
    if (!empty.empty()) out += "    (empty strings: " + empty + ")\n";
  }
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int port = 0;
  std::string portFile;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--port") == 0 && i + 1 < argc) {
      port = std::atoi(argv[++i]);
    } else if (std::strcmp(argv[i], "--port-file") == 0 && i + 1 < argc) {
      portFile = argv[++i];
    } else if (std::strcmp(argv[i], "--decode") == 0) {
      const std::size_t width = i + 1 < argc ? std::strtoul(argv[i + 1], nullptr, 10) : 0;
      char* line = nullptr;
      std::size_t cap = 0;
      ssize_t n;
      while ((n = getline(&line, &cap, stdin)) >= 0) {
        std::string text = decodeMixed(std::string(line, static_cast<std::size_t>(n)));
        if (width > 0 && text.size() > width + 1) {
          std::size_t cut = width;
          while (cut > 0 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
          text = text.substr(0, cut) + " ... (" + std::to_string(n) + " bytes in all)\n";
        }
        std::fwrite(text.data(), 1, text.size(), stdout);
      }
      std::free(line);
      return 0;
    } else {
      std::fprintf(stderr, "usage: %s [--port N] [--port-file FILE] | --decode [WIDTH]\n", argv[0]);
      return 2;
    }
  }

  std::mutex mu;
  int documents = 0;  // guarded by mu
  LoopbackReceiver receiver([&](const std::string& target, const std::string& body) {
    std::lock_guard<std::mutex> lock(mu);
    ++documents;
    const std::string text = render(documents, target, body);
    std::fwrite(text.data(), 1, text.size(), stdout);
    std::fflush(stdout);
    return std::string("{\"code\":0,\"message\":\"received document ") +
           std::to_string(documents) + "\"}";
  });

  struct sigaction sa;
  std::memset(&sa, 0, sizeof(sa));
  sa.sa_handler = onStopSignal;
  sigaction(SIGTERM, &sa, nullptr);
  sigaction(SIGINT, &sa, nullptr);

  if (!receiver.start(port)) {
    std::fprintf(stderr, "demo_receiver: %s\n", receiver.error().c_str());
    return 1;
  }
  std::printf("receiver listening on http://127.0.0.1:%d/\n", receiver.port());
  std::fflush(stdout);
  if (!portFile.empty()) {
    const std::string tmp = portFile + ".tmp";
    FILE* f = std::fopen(tmp.c_str(), "w");
    if (f == nullptr) return 1;
    std::fprintf(f, "%d\n", receiver.port());
    std::fclose(f);
    std::rename(tmp.c_str(), portFile.c_str());
  }
  while (!gStop) usleep(50 * 1000);
  receiver.stop();
  return 0;
}
