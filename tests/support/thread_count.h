// The number of threads of this process, for tests that check that what
// they started has ended.
#pragma once

#include <cstddef>
#include <filesystem>

namespace brindle::test {

inline size_t ThreadCount() {
    size_t n = 0;
    for ([[maybe_unused]] const auto& entry :
         std::filesystem::directory_iterator("/proc/self/task"))
        ++n;
    return n;
}

} // namespace brindle::test
