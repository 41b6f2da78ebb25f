// The general test helpers by the name the benchmarks include; tests
// include the headers of tests/support themselves.
#pragma once

#include "support/file_text.h"
#include "support/scoped_env.h"
#include "support/temp_dir.h"
