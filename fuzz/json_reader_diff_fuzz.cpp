// MessageScanner against the JsonCpp path it replaces in the conversion
// (MessageReader::parse, then memberText on each element). The whole input is one
// message text, NUL bytes included. Aborts on any difference in: refused or not,
// root array or not, the number of elements, whether each element is an object, and
// each of the nine member texts of every object element.
#include <json/json.h>
#include <stddef.h>
#include <stdint.h>

#include <cstdlib>
#include <string>

#include "convert/message_reader.h"
#include "convert/message_scanner.h"
#include "convert/record_fields.h"

namespace {

MessageScanner::Outcome referenceOutcome(MessageReader& reader, const std::string& text,
                                         Json::Value* root) {
  if (!reader.parse(text, root)) return MessageScanner::Outcome::kRefused;
  return root->isArray() ? MessageScanner::Outcome::kArray
                         : MessageScanner::Outcome::kNotArray;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Both readers are kept across inputs, as the conversion keeps them across texts.
  static MessageReader reader;
  static MessageScanner scanner;
  const std::string text(reinterpret_cast<const char*>(data), size);

  Json::Value root;
  const MessageScanner::Outcome expected = referenceOutcome(reader, text, &root);
  if (scanner.read(text) != expected) std::abort();
  if (expected != MessageScanner::Outcome::kArray) {
    if (scanner.recordCount() != 0) std::abort();
    return 0;
  }
  if (scanner.recordCount() != root.size()) std::abort();
  for (Json::ArrayIndex i = 0; i < root.size(); ++i) {
    const Json::Value& element = root[i];
    const MessageScanner::Record& record = scanner.record(i);
    if (record.isObject != element.isObject()) std::abort();
    if (!record.isObject) continue;
    for (int m = 0; m < MessageScanner::kMemberCount; ++m) {
      const auto member = static_cast<MessageScanner::Member>(m);
      if (record.text[m] != memberText(element, MessageScanner::memberName(member))) {
        std::abort();
      }
    }
  }
  return 0;
}
