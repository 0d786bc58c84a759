// hasSlashOutsideStrings: true when a "/" stands outside every string literal of a
// JSON text. JSON has no "/" token, so such a byte can only start a comment (which
// the strict features of the library let through in some positions) or be a syntax
// error; both readers of message texts refuse such a text before parsing it.
//
// A string literal starts at a '"' outside strings and ends at the next '"' that is
// not escaped; a backslash escapes the byte after it. Pure; thread-safe.
#ifndef TARVEX_CONVERT_COMMENT_GUARD_H_
#define TARVEX_CONVERT_COMMENT_GUARD_H_

#include <string>

bool hasSlashOutsideStrings(const std::string& text);

#endif  // TARVEX_CONVERT_COMMENT_GUARD_H_
