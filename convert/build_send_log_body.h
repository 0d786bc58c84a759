// BuildSendLogBody: operation-log message texts into the receiving platform's JSON
// document, with the dictionaries of SyncConfig. A pure function of its inputs: it
// reads no file and keeps no state; the run-log lines it makes go to the sink it is
// given, as they are made, so that a text's lines are never all held at once.
#ifndef TARVEX_CONVERT_BUILD_SEND_LOG_BODY_H_
#define TARVEX_CONVERT_BUILD_SEND_LOG_BODY_H_

#include <cstddef>
#include <string>
#include <vector>

#include "config/sync_config.h"

// Where the conversion's run-log lines go (the run log of the host).
class RunLogLines {
 public:
  virtual ~RunLogLines() = default;
  // True when a line written now would be kept; asked before each line is made.
  virtual bool wanted() = 0;
  // One line, in GBK, without the run log's numbering.
  virtual void write(std::string line) = 0;
};

// Converts a batch of texts into one document. Returns 1 and replaces `body` when
// at least one record came out; -1 when nothing came out (nothing to send); 0 when
// the conversion as a whole failed (memory exhausted): the batch was not looked at
// to the end. `body` is unchanged unless 1 is returned. Never throws. A text's
// records, counts and run-log lines go in whole or not at all; memory beyond the
// document is one record, whatever the text holds. `lines` null: no lines are made.
int BuildSendLogBody(const SyncConfig& config, const std::vector<std::string>& batch,
                     std::string& body, RunLogLines* lines = nullptr);
// The same for texts[0 .. count). When `failedTexts` is given, the index of every
// text whose conversion failed (an exception: none of its records went in) is
// appended to it.
int BuildSendLogBody(const SyncConfig& config, const std::string* texts, std::size_t count,
                     std::string& body, std::vector<std::size_t>* failedTexts,
                     RunLogLines* lines);

#endif  // TARVEX_CONVERT_BUILD_SEND_LOG_BODY_H_
