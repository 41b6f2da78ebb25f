// Pieces shared by the send and receive halves of the codec.
#pragma once

#include "platform/clock.h"
#include "protocol/packet_codec.h"
#include "protocol/sleeper.h"

#include <cstdint>

namespace brindle::codec {

inline const Clock& ClockOf(const PacketConnection& conn) {
    return conn.pClock ? *conn.pClock : SystemClock();
}

inline const Sleeper& SleeperOf(const PacketConnection& conn) {
    return conn.pSleeper ? *conn.pSleeper : SystemSleeper();
}

inline uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline void Store32(uint8_t* p, uint32_t v) {
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (8 * i));
}

} // namespace brindle::codec
