// What a connection thread needs of the online storage that relays a
// storage-linked server (port 0 or less). The storage account and its relay
// worker implement it; packets themselves go through the RelayTransport of
// protocol/packet_codec.h.
#pragma once

#include "storage/relay_peer.h"

#include <cstdint>
#include <memory>
#include <string>

namespace brindle {

class RelayTransport;
struct PacketConnection;

class StorageLink {
  public:
    virtual ~StorageLink() = default;

    // The account's name, saved as [Settings] "Webdav" of the server's file.
    virtual std::string Name() const = 0;
    // Seconds between polls while the link is idle.
    virtual uint32_t IntervalSeconds() const = 0;
    // The account's send sequence number.
    virtual uint32_t SendNo() const = 0;
    // Adds to the account's in-use count under its lock and saves it (a
    // negative delta never takes it below 0).
    virtual void AddInuse(int32_t nDelta) = 0;

    // The relay worker, or null while it does not run.
    virtual RelayTransport* Worker() = 0;
    // Has the program start the relay worker; returns it, or null when it
    // could not be started.
    virtual RelayTransport* RestartWorker() = 0;
    // Attaches the connection to the running worker as the peer of that
    // server name (upper-cased once for the relay's file names). Returns the
    // peer handle the thread keeps current (running, online, chain), or null
    // when no worker runs or the name cannot name relay files (logged).
    virtual std::shared_ptr<RelayPeer> Attach(PacketConnection& conn,
                                              const std::string& cAddress) = 0;
    // The connection's thread ends: its files are no longer fetched.
    virtual void Detach(PacketConnection& conn) = 0;
    // Polls the storage at once for this connection.
    virtual void PollNow(PacketConnection& conn) = 0;
    // The last storage-linked connection thread ends: the worker may go.
    virtual void CloseWorker() = 0;
};

} // namespace brindle
