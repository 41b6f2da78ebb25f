// Running the real programs in end-to-end tests: where they are, the child
// processes and loopback ports of tests/support, and the image files they
// store.
#pragma once

#include "support/child_process.h"
#include "support/loopback.h"

#include <map>
#include <string>

namespace brindle::test {

std::string HostProgram();
std::string ViewProgram();

// The image files under `root`, by path relative to it, with their bytes.
std::map<std::string, std::string> ImageFiles(const std::string& root);

} // namespace brindle::test
