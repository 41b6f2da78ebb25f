// ClientThread: one worker per server the user connects to. It owns the
// server's link from the first connection attempt to the final teardown:
// address discovery, connect and log-in, the settings transfer, requests,
// echoes, image reception, and a fresh connection after every failure,
// until the record's fStop is set.
#pragma once

#include <cstdint>

namespace brindle {

struct ClientContext;
struct ServerParams;

// The thread body; returns 0 when fStop ends it.
uint32_t ClientThread(ClientContext& ctx, ServerParams& psp);

// Starts ClientThread for the record (the connect command): clears the
// digest, fOnline and fStop, gives the thread its id and starts it. A
// finished earlier thread of the record is joined first. Returns 0, or
// ERROR_ALREADY_EXISTS_CODE while a thread still runs for the record, or
// the code of a failed thread start.
uint32_t StartClientThread(ClientContext& ctx, ServerParams& psp);

// Sets fStop on every server and waits for their threads to end.
void StopClientThreads(ClientContext& ctx);

} // namespace brindle
