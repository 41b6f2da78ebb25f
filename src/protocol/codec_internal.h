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

inline bool StopRequested(const PacketConnection& conn) {
    return conn.stopRequested && conn.stopRequested();
}

} // namespace brindle::codec
