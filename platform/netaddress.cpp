// Addresses as text, and names through the system's resolver.
#include "platform/netaddress.h"

#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace plat {

namespace {

// A decimal number of at most maxDigits digits and at most max; moves *p past it.
bool Number(const char** p, int maxDigits, uint32_t max, uint32_t* out) {
    uint32_t v = 0;
    int digits = 0;
    while (**p >= '0' && **p <= '9' && digits < maxDigits) v = v * 10 + uint32_t(*(*p)++ - '0'), digits++;
    *out = v;
    return digits > 0 && !(**p >= '0' && **p <= '9') && v <= max;
}

// Splits "name:port" into name (at most nameMax - 1 bytes) and port.
bool SplitPort(const char* text, uint16_t defaultPort, char* name, size_t nameMax, uint16_t* port) {
    const char* colon = std::strrchr(text, ':');
    size_t n = colon ? size_t(colon - text) : std::strlen(text);
    if (n == 0 || n >= nameMax) return false;
    std::memcpy(name, text, n);
    name[n] = 0;
    *port = defaultPort;
    if (!colon) return true;
    const char* p = colon + 1;
    uint32_t v = 0;
    if (!Number(&p, 5, 65535, &v) || *p || v == 0) return false;
    *port = uint16_t(v);
    return true;
}

}  // namespace

void FormatNetAddress(const NetAddress& a, char* out) {
    std::snprintf(out, kNetAddressTextMax, "%u.%u.%u.%u:%u", a.ip >> 24, (a.ip >> 16) & 255, (a.ip >> 8) & 255,
                  a.ip & 255, unsigned(a.port));
}

bool ParseNetAddress(const char* text, uint16_t defaultPort, NetAddress* out) {
    char name[16];
    uint16_t port = 0;
    if (!SplitPort(text, defaultPort, name, sizeof name, &port)) return false;
    const char* p = name;
    uint32_t ip = 0;
    for (int k = 0; k < 4; k++) {
        uint32_t part = 0;
        if (!Number(&p, 3, 255, &part)) return false;
        ip = ip << 8 | part;
        if (k < 3 && *p++ != '.') return false;
    }
    if (*p) return false;
    *out = NetAddress{ip, port};
    return true;
}

bool ResolveNetAddress(const char* text, uint16_t defaultPort, NetAddress* out) {
    if (ParseNetAddress(text, defaultPort, out)) return true;
    char name[256];
    uint16_t port = 0;
    if (!SplitPort(text, defaultPort, name, sizeof name, &port)) return false;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(name, nullptr, &hints, &found) != 0 || !found) return false;
    const sockaddr_in* in = reinterpret_cast<const sockaddr_in*>(found->ai_addr);
    *out = NetAddress{ntohl(in->sin_addr.s_addr), port};
    freeaddrinfo(found);
    return true;
}

}  // namespace plat
