// The name under which this computer appears in relay files and logs.
#pragma once

#include <string>

namespace brindle {

// $COMPUTERNAME when set and not empty, else the host name up to its first
// dot; empty when neither can be had.
std::string ComputerName();

} // namespace brindle
