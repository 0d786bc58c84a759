// Where the service's files live: the installation root comes from ZQROOT, else
// VUVORER (a variable that is set but empty still counts).
//
// installRoot stores the root in *root and returns true, or returns false when
// neither variable is set.
//
// configPath returns root + "/cfg/" + name, or "" when there is no root or the path
// would be longer than kMaxConfigPath characters (the file is then treated as
// missing, never cut to a different file's name).
//
// configFileReadable opens `path` and reads its first byte, as a reader would. It
// returns true when that works (an empty file included); else false with the
// strerror text in *why ("Permission denied", "Is a directory", ...). It does not
// tell a missing file apart: test for existence first. Thread-safe.
#ifndef TARVEX_CONFIG_CONFIG_PATH_H_
#define TARVEX_CONFIG_CONFIG_PATH_H_

#include <string>

constexpr std::size_t kMaxConfigPath = 255;  // characters, without the NUL

bool installRoot(std::string* root);
std::string configPath(const char* name);
bool configFileReadable(const std::string& path, std::string* why);

#endif  // TARVEX_CONFIG_CONFIG_PATH_H_
