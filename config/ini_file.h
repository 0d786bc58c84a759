// IniFile: one INI-style file of the cfg directory, read once into its header and
// key lines. IniReader answers the loaders' lookups from it; the operator check
// reports its key lines as written.
//
// Syntax: lines end at LF (a last line without LF counts); "#" or "//" in the first
// column makes a comment; a line holding "=" is a key line (name before the first
// "=", value after it); a line without "=" that begins with "[" is a header. Spaces
// and CRs are trimmed from both ends of names and values; tabs and all other bytes
// are kept. A key line with an empty name is skipped; one with nothing after "="
// has the empty value.
//
// Every line is seen two ways from the one read:
//   - as written, up to kIniParseMaxLine bytes (every byte beyond counts as part of
//     the value): its number, its whole length, a key line's name and value length,
//     and the section a key line stands under: the name of the latest header above
//     it (the text between "[" and the first "]", or to the end of the line without
//     "]"; "" before any header). This is where the person wrote the key.
//   - as a lookup sees it: cut to limits.maxLine bytes (the rest of such a line is
//     skipped), values to limits.maxValue.
//
// Lookups (find): a section is opened by the first line that, cut, holds no "=" and
// begins with "[" + section + "]"; it stays open to the end of the file (a later
// header does not close it), so a key under any later header is found as well. The
// answer is the first key line after that header with the wanted name (case
// matters); an empty name is never found.
//
// A file that cannot be opened parses as no lines, with opened() false. Immutable
// after construction; may be read from any thread.
#ifndef TARVEX_CONFIG_INI_FILE_H_
#define TARVEX_CONFIG_INI_FILE_H_

#include <cstddef>
#include <string>
#include <unordered_map>
#include <vector>

constexpr std::size_t kIniMaxLine = 1023;  // bytes of a line kept, before the LF
// Bytes of a line looked at as written; at least every reader's line limit.
constexpr std::size_t kIniParseMaxLine = 65536;

// How much of a line and of a value a reader keeps, in bytes (no LF, no NUL).
struct IniLimits {
  std::size_t maxLine;
  std::size_t maxValue;
};

// The limits of rdsset.ini and logsynset.ini, which their readers have always had.
constexpr IniLimits kIniClassicLimits{kIniMaxLine, kIniMaxLine};

// A header or key line. Comments and other lines are not kept.
struct IniLine {
  int number = 0;             // 1-based line number
  std::size_t lineBytes = 0;  // the whole line as written, without its LF

  // As written.
  bool header = false;        // a header line
  std::string section;        // header: the name it gives; key: the section it stands under
  std::string name;           // key line: the trimmed name; "" for a header
  std::size_t valueBytes = 0; // key line: the trimmed value's length

  // As a lookup sees it.
  std::string headerText;     // the cut line when it may open a section (begins with
                              // "[", no "=" within the cut); else ""
  bool found = false;         // a key line whose "=" is within the cut: lookups find it
  std::string value;          // then its trimmed value, cut to limits.maxValue
};

class IniFile {
 public:
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);

  // Reads the file at `path` ("" counts as a file that cannot be opened).
  IniFile(const std::string& path, IniLimits limits);

  bool opened() const { return opened_; }
  const IniLimits& limits() const { return limits_; }
  const std::vector<IniLine>& lines() const { return lines_; }

  // Index in lines() of the header that opens `section`; kNone when none does.
  std::size_t opening(const std::string& section) const;
  // The first key line after lines()[from] that lookups find under `key`; null
  // when none.
  const IniLine* keyAfter(std::size_t from, const std::string& key) const;
  // opening() and keyAfter() together: the line a lookup answers from, or null.
  const IniLine* find(const std::string& section, const std::string& key) const;

 private:
  // Keeps one line read (`text`: up to kIniParseMaxLine bytes of it); *section is
  // the latest header's name, updated by a header.
  void add(const std::string& text, std::size_t lineBytes, int number, std::string* section);

  IniLimits limits_;
  bool opened_ = false;
  std::vector<IniLine> lines_;
  std::vector<std::size_t> headers_;  // indexes of lines with a headerText
  std::unordered_map<std::string, std::vector<std::size_t>> keys_;  // found lines by name
};

#endif  // TARVEX_CONFIG_INI_FILE_H_
