#include "client/app/client_runtime.h"
#include "client/app/windowed_client.h"
#include "common/version.h"

#include <cstdio>
#include <string>

int main(int argc, char** argv) {
    brindle::BlockStopSignals(); // before any thread starts
    brindle::ClientOptions options;
    std::string error;
    if (!brindle::ParseClientOptions(argc, argv, options, error)) {
        std::fprintf(stderr, "BrindleView: %s\n\n%s", error.c_str(),
                     brindle::ClientUsage().c_str());
        return 2;
    }
    if (options.fHelp) {
        std::fputs(brindle::ClientUsage().c_str(), stdout);
        return 0;
    }
    if (options.fVersion) {
        std::printf("BrindleView %s\n", brindle::BRINDLE_VERSION_TEXT);
        return 0;
    }
    if (!options.cSetStorage.empty())
        return brindle::SetStorageFromInput(options);
    if (!options.cDeleteStorage.empty())
        return brindle::DeleteStorage(options);
    if (options.fHeadless)
        return brindle::RunHeadlessClient(options);
    return brindle::RunWindowedClient(argc, argv, options);
}
