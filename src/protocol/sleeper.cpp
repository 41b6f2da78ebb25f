#include "protocol/sleeper.h"

#include <chrono>
#include <thread>

namespace brindle {

namespace {

class RealSleeper : public Sleeper {
  public:
    void Sleep(uint32_t ms) const override {
        std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    }
};

} // namespace

const Sleeper& SystemSleeper() {
    static const RealSleeper sleeper;
    return sleeper;
}

} // namespace brindle
