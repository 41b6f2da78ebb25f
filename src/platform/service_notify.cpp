#include "platform/service_notify.h"

#include <cstdlib>
#include <systemd/sd-daemon.h>

namespace brindle {

namespace {

void Notify(const std::string& state) {
    if (!ServiceManagerWatches())
        return;
    // A lost notification cannot be helped; the manager then times the start
    // out or notices the end by itself.
    (void)sd_notify(0, state.c_str());
}

} // namespace

bool ServiceManagerWatches() {
    const char* socket = std::getenv("NOTIFY_SOCKET");
    return socket != nullptr && *socket != '\0';
}

void NotifyServiceReady(const std::string& status) {
    Notify(status.empty() ? "READY=1" : "READY=1\nSTATUS=" + status);
}

void NotifyServiceStopping() {
    Notify("STOPPING=1");
}

} // namespace brindle
