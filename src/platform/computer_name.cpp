#include "platform/computer_name.h"

#include <climits>
#include <cstdlib>
#include <unistd.h>

namespace brindle {

std::string ComputerName() {
    const char* fromEnv = std::getenv("COMPUTERNAME");
    if (fromEnv != nullptr && fromEnv[0] != '\0')
        return fromEnv;
    char host[HOST_NAME_MAX + 1] = {};
    if (::gethostname(host, sizeof host - 1) != 0)
        return {};
    std::string name(host);
    return name.substr(0, name.find('.'));
}

} // namespace brindle
