// MessageReader: parses operation-log message texts as strict JSON into a JsonCpp
// tree. The conversion reads texts with MessageScanner, which is held to this
// reader's results (with memberText) by fuzz/json_reader_diff_fuzz.cpp and
// tests/message_scanner_test.cpp; this reader is their reference.
//
// Strict means: the root is an array or an object, and there are no comments
// anywhere (any "/" outside a string literal refuses the text). Text after a
// complete root value is not examined. Nesting deeper than 1000 levels refuses the
// text. parse never throws. One reader may parse any number of texts in turn; not
// thread-safe.
#ifndef TARVEX_CONVERT_MESSAGE_READER_H_
#define TARVEX_CONVERT_MESSAGE_READER_H_

#include <json/json.h>

#include <string>

class MessageReader {
 public:
  MessageReader();
  MessageReader(const MessageReader&) = delete;
  MessageReader& operator=(const MessageReader&) = delete;

  // Parses `text` into *root (which should be a fresh null value). Returns true on
  // success; on false *root holds nothing the caller should use.
  bool parse(const std::string& text, Json::Value* root);

 private:
  Json::Reader reader_;  // strict-mode features
};

#endif  // TARVEX_CONVERT_MESSAGE_READER_H_
