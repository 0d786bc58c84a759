#include "convert/message_reader.h"

#include "convert/comment_guard.h"

MessageReader::MessageReader() : reader_(Json::Features::strictMode()) {}

bool MessageReader::parse(const std::string& text, Json::Value* root) {
  if (hasSlashOutsideStrings(text)) return false;
  try {
    // The library throws past its nesting limit; a text like that is refused.
    return reader_.parse(text.data(), text.data() + text.size(), *root, true);
  } catch (...) {
    return false;
  }
}
