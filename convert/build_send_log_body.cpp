// Placeholder until the conversion lands: converts nothing.
#include "config/sync_config.h"

int SyncConfig::BuildSendLogBody(std::vector<std::string>, std::string&) { return -1; }
