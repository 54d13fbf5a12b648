// A page has no UDP: network play needs the desktop game. Every call fails
// the way a transport that cannot start fails.
#include "platform/net.h"

namespace plat {

bool NetAvailable() { return false; }
bool NetStart() { return false; }
bool NetListen(uint16_t, int) { return false; }
int NetConnect(const char*, uint16_t) { return -1; }
bool NetOpen() { return false; }
bool NetSend(int, const void*, size_t, bool) { return false; }
void NetFlush() {}
bool NetPoll(NetEvent*) { return false; }
uint32_t NetPeerRttMs(int) { return 0; }
void NetDisconnect(int) {}
void NetClose() {}
bool NetIsOpen() { return false; }
bool NetRawAttach() { return false; }
bool NetRawSend(const NetAddress&, const void*, size_t) { return false; }
bool NetRawPoll(NetRawDatagram*) { return false; }
uint32_t NetRawDropped() { return 0; }
uint16_t NetLocalPort() { return 0; }
int NetConnectAddress(const NetAddress&) { return -1; }
bool NetPeerAddress(int, NetAddress*) { return false; }
void NetAbandon(int) {}

}  // namespace plat
