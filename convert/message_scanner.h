// MessageScanner: reads an operation-log message text in one pass and keeps, for
// each element of its root array, whether it is an object and the texts of the nine
// members the conversion uses. No tree is built and nothing else is stored.
//
// Results equal those of MessageReader::parse followed by memberText on every
// element (fuzz/json_reader_diff_fuzz.cpp compares the two byte for byte):
//  - the same texts are refused: syntax errors, scalar roots, any "/" outside
//    strings, values nested deeper than 1000 levels; and the same are let through,
//    with the library's strict-mode leniencies (raw control bytes inside strings,
//    number forms such as "-", "1.", "01" or "-.5", a high surrogate escape followed
//    by any \u escape, "}" after a "," that follows a member named "");
//  - text after a complete root value is not examined;
//  - a member text is the string's bytes after unescaping (invalid UTF-8 kept, \u0000
//    gives a NUL byte), the library's decimal text of a number, and "" for a missing
//    member, null, a Boolean, an array or an object; of duplicate members the last
//    one counts.
//
// Two ways to read. read(text, sink) hands each root element to the sink as soon as
// it has been read and keeps nothing else, so a text of millions of elements costs
// one record, not millions; a text refused after some elements were handed over
// has handed them over all the same (the caller undoes what it did with them).
// read(text) keeps every element's record until the next read (the form the tests
// and the differential fuzz target compare with the library). One scanner reads
// any number of texts in turn and reuses its buffers. Throws nothing but
// std::bad_alloc and what a sink throws. Not thread-safe.
#ifndef TARVEX_CONVERT_MESSAGE_SCANNER_H_
#define TARVEX_CONVERT_MESSAGE_SCANNER_H_

#include <cstddef>
#include <string>
#include <vector>

class MessageScanner {
 public:
  // The members kept, in this order; memberName gives the input name of each.
  enum Member {
    kClassname,
    kOccurtime,
    kOccurms,
    kDevicekey,
    kAppsysid,
    kChardesc,
    kUserName,     // "userattr[0]"
    kWorkstation,  // "userattr[1]"
    kGroupname,
    kMemberCount
  };

  struct Record {
    bool isObject = false;
    std::string text[kMemberCount];  // all "" unless isObject
  };

  enum class Outcome {
    kRefused,   // not a JSON text the reader accepts
    kNotArray,  // accepted, but the root is an object: no records
    kArray,     // accepted array; recordCount() elements
  };

  // Receives the root elements of a text read with read(text, sink), in order.
  class RecordSink {
   public:
    virtual ~RecordSink() = default;
    // `record` is valid only during the call; the sink may take its texts (swap
    // them out): the scanner clears every text before it reads the next record.
    virtual void onRecord(Record& record) = 0;
  };

  MessageScanner() = default;
  MessageScanner(const MessageScanner&) = delete;
  MessageScanner& operator=(const MessageScanner&) = delete;

  Outcome read(const std::string& text, RecordSink* sink);
  Outcome read(const std::string& text);  // keeps the records: recordCount(), record(i)

  std::size_t recordCount() const { return count_; }
  const Record& record(std::size_t i) const { return records_[i]; }

  static const char* memberName(Member m);

 private:
  bool readValue(int depth, std::string* slot, bool isRecord);
  bool readArray(int depth, bool isRoot);
  bool readObject(int depth, Record* record);
  bool readString(std::string* out);
  bool readNumber(const char* start, std::string* out);
  bool readLiteral(const char* rest, std::size_t size, std::string* slot);
  bool findStringEnd(const char** interiorEnd, bool* escaped);
  void deliver();  // hands current_ to sink_, or keeps it in records_
  void skipSpaces();

  const char* p_ = nullptr;    // next byte to read
  const char* end_ = nullptr;  // end of the text
  RecordSink* sink_ = nullptr;  // null: records kept in records_
  Record current_;             // the root element being read
  std::vector<Record> records_;
  std::size_t count_ = 0;      // records kept by the last read(text)
  std::string name_;           // scratch: a member name that holds escapes
};

#endif  // TARVEX_CONVERT_MESSAGE_SCANNER_H_
