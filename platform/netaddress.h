// An IPv4 address and UDP port as plain numbers in host byte order
// (203.0.113.5 is 0xCB007105), the one shape every network module passes
// around: the game's transport, the match server's sockets and the messages
// that carry addresses. The transport under the game speaks IPv4 only.
#pragma once
#include <cstddef>
#include <cstdint>

namespace plat {

struct NetAddress {
    uint32_t ip;
    uint16_t port;
    bool operator==(const NetAddress&) const = default;
};

// "a.b.c.d:port" into out (at least kNetAddressTextMax bytes).
constexpr size_t kNetAddressTextMax = 22;
void FormatNetAddress(const NetAddress& address, char* out);
// Reads "a.b.c.d" or "a.b.c.d:port" (a dotted IPv4 literal, no names);
// without a port, defaultPort. False for anything else.
bool ParseNetAddress(const char* text, uint16_t defaultPort, NetAddress* out);
// Resolves "name[:port]" or a literal through the system's resolver; false
// when it does not resolve to an IPv4 address.
bool ResolveNetAddress(const char* text, uint16_t defaultPort, NetAddress* out);

}  // namespace plat
