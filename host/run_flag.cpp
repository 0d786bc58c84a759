#include "host/run_flag.h"

std::atomic<int32_t> RunFlag{0};
