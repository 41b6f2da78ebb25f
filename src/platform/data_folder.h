// Where a program keeps its settings file, log and single-instance lock.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace brindle {

// The folder given with "--data-dir DIR" or "--data-dir=DIR" (the last one
// wins); empty when the option is absent or has no value.
std::string DataDirArgument(int argc, const char* const* argv);

// Opens the program's data folder: `overrideDir` when not empty, else
// "<documents>/<programFolder>" ("BrindleHost" or "BrindleView"; the current
// folder stands in for the documents folder when the user has no home).
// The folder and its parents are created when missing. Returns 0 with the
// absolute path (no trailing "/"), or a mapped system code.
uint32_t OpenDataFolder(std::string_view programFolder, const std::string& overrideDir,
                        std::string& folder);

// The folder of the running executable, ending with "/"; empty when it
// cannot be determined.
std::string ProgramFolder();

// The last-write time of the executable, UTC, as "YYYY-MM-DD hh:mm" for the
// about box; empty when unknown.
std::string ProgramFileTime();

} // namespace brindle
