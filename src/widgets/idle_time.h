// Time since the user's last keyboard or mouse input.
#pragma once

#include <cstdint>

namespace brindle {

// Milliseconds since the last input, from the X screen-saver extension.
// The X libraries are looked up once, at the first call, so the programs
// need neither at start; without them, on Wayland, on the offscreen
// platform and without a QGuiApplication the result is 0. Call it from the
// GUI thread.
uint32_t IdleMilliseconds();

} // namespace brindle
