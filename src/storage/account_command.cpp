#include "storage/account_command.h"

#include "common/error_codes.h"
#include "storage/account_form.h"

#include <iostream>
#include <string_view>
#include <termios.h>
#include <unistd.h>

namespace brindle {

namespace {

// One line without its line end; echo is off while a terminal types a
// secret.
std::string ReadLine(std::istream& input, bool fSecret) {
    bool fTerminal = fSecret && &input == &std::cin && ::isatty(STDIN_FILENO) != 0;
    termios saved{};
    if (fTerminal && ::tcgetattr(STDIN_FILENO, &saved) == 0) {
        termios quiet = saved;
        quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    } else {
        fTerminal = false;
    }
    std::string line;
    std::getline(input, line);
    if (fTerminal)
        ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &saved);
    if (!line.empty() && line.back() == '\r')
        line.pop_back();
    return line;
}

void PrintLines(std::FILE* to, const std::string& program, std::string_view lines) {
    while (!lines.empty()) {
        size_t n = lines.find('\n');
        std::string_view line = lines.substr(0, n);
        std::fprintf(to, "%s: %.*s\n", program.c_str(), static_cast<int>(line.size()), line.data());
        lines = n == std::string_view::npos ? std::string_view() : lines.substr(n + 1);
    }
}

} // namespace

int SetStorageAccount(const AccountCommand& command, std::istream& input, std::FILE* out,
                      std::FILE* err) {
    AccountStore store(command.cSettingsFile);
    store.LoadAccounts();
    AccountForm form;
    // A known account keeps its TLS kind and intervals.
    if (AccountPtr account = store.Find(command.cUri))
        form = FormOfAccount(*account, command.fServer);
    form.cUri = command.cUri;
    form.fServer = command.fServer;
    form.fAnyCert = command.fAnyCert;
    if (::isatty(STDIN_FILENO) != 0 && &input == &std::cin)
        std::fprintf(err, "User name: ");
    form.cUser = ReadLine(input, false);
    if (::isatty(STDIN_FILENO) != 0 && &input == &std::cin)
        std::fprintf(err, "Password: ");
    form.cPasswd = form.cPasswdAgain = ReadLine(input, true);
    std::string message = CheckAccountForm(form);
    if (!message.empty()) {
        PrintLines(err, command.cProgram, message);
        return 1;
    }
    AccountPtr saved;
    if (uint32_t e = SaveAccountForm(store, form, saved); e != 0) {
        std::fprintf(err, "%s: cannot write %s (error 0x%08X)\n", command.cProgram.c_str(),
                     command.cSettingsFile.c_str(), e);
        return 1;
    }
    std::fprintf(out, "Storage account %s saved in %s\n", command.cUri.c_str(),
                 command.cSettingsFile.c_str());
    return 0;
}

int DeleteStorageAccount(const AccountCommand& command, std::FILE* out, std::FILE* err) {
    AccountStore store(command.cSettingsFile);
    store.LoadAccounts();
    if (!store.Find(command.cUri)) {
        std::fprintf(err, "%s: no storage account %s in %s\n", command.cProgram.c_str(),
                     command.cUri.c_str(), command.cSettingsFile.c_str());
        return 1;
    }
    uint32_t e = DeleteAccount(store, command.cUri);
    if (e == ERROR_SHARING_VIOLATION_CODE) {
        std::fprintf(err, "%s: the storage account %s is in use\n", command.cProgram.c_str(),
                     command.cUri.c_str());
        return 1;
    }
    if (e != 0) {
        std::fprintf(err, "%s: cannot write %s (error 0x%08X)\n", command.cProgram.c_str(),
                     command.cSettingsFile.c_str(), e);
        return 1;
    }
    std::fprintf(out, "Storage account %s deleted from %s\n", command.cUri.c_str(),
                 command.cSettingsFile.c_str());
    return 0;
}

} // namespace brindle
