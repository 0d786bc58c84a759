#include "config/config_path.h"

#include <cstdlib>

bool installRoot(std::string* root) {
  const char* r = std::getenv("ZQROOT");
  if (r == nullptr) r = std::getenv("VUVORER");
  if (r == nullptr) return false;
  if (root != nullptr) *root = r;
  return true;
}

std::string configPath(const char* name) {
  std::string root;
  if (!installRoot(&root)) return std::string();
  std::string path = root + "/cfg/" + (name != nullptr ? name : "");
  if (path.size() > kMaxConfigPath) return std::string();
  return path;
}
