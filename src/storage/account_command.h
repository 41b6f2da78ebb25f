// The headless account commands of both programs: --set-storage URI (user
// name and password lines from standard input) and --delete-storage URI.
// They check and save through the account dialog's model.
#pragma once

#include <cstdio>
#include <istream>
#include <string>

namespace brindle {

struct AccountCommand {
    std::string cProgram;      // "BrindleHost" or "BrindleView", before every message
    std::string cSettingsFile; // the program's settings file
    std::string cUri;
    bool fAnyCert = false; // --any-certificate
    bool fServer = false;
};

// Reads the user name line and the password line from `input`, checks them
// with the URI as the dialog's OK does and saves the account. Failed checks
// go to `err`, one line each, and nothing is saved. Returns the exit code:
// 0 saved, 1 not.
int SetStorageAccount(const AccountCommand& command, std::istream& input, std::FILE* out,
                      std::FILE* err);

// Deletes the account of the URI; 1 when there is none or it is in use.
int DeleteStorageAccount(const AccountCommand& command, std::FILE* out, std::FILE* err);

} // namespace brindle
