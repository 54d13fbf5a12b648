// The online message decoder on arbitrary bytes: every input is refused with
// a reason or read whole, and what is read encodes back to the very same
// bytes. Each input is also handed to a host's and a joining machine's
// session, which must take or refuse it without harm.
#include <cstdlib>
#include <cstring>

#include "net/netproto.h"
#include "net/session.h"

namespace {

NetMessage g_read;
uint8_t g_written[kNetMessageMax];
CSession g_host, g_client;
bool g_started = false;

void Drain(CSession& session) {
    static OutMessage out;
    while (session.TakeOutgoing(&out))
        if (out.size == 0 || out.size > kNetMessageMax) std::abort();
    while (session.TakeClosing() >= 0) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    NetDecodeResult result = DecodeNetMessage(data, size, &g_read);
    if (result == NET_DECODE_OK) {
        size_t written = EncodeNetMessage(g_read, g_written, sizeof g_written);
        if (written != size || std::memcmp(g_written, data, size) != 0) std::abort();
    } else if (!NetDecodeText(result)[0]) {
        std::abort();
    }
    if (!g_started) {
        g_started = true;
        g_host.StartHost("HOST");
        g_host.seatKinds[1] = SEAT_REMOTE;
        const uint32_t files[3] = {7, 8, 9};
        for (int part = 0; part < kNetDataParts; part++) g_host.SetDataFiles(part, files, 3);
        const uint32_t digests[kNetDataParts] = {};
        g_client.StartClient("GUEST", false, 1, digests);
        g_client.Connected(0, 0);
    }
    // A fresh machine 1 on the host, a known round on the joining machine.
    g_host.Connected(1, 0);
    g_host.Receive(1, data, size, 1);
    g_client.Receive(0, data, size, 1);
    Drain(g_host);
    Drain(g_client);
    return 0;
}
