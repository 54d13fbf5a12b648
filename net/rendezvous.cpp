// The match server protocol's one encoder and one decoder: both walk Body
// below, so they cannot disagree about a layout.
#include "net/rendezvous.h"

#include <cstring>

#include "net/wire.h"

namespace {

template <class IO, class A>
void Address(IO& io, A& a) {
    io.U32(a.ip), io.U16(a.port);
    io.Check(a.ip != 0 && a.port != 0);
}

template <class IO, class C>
void Code(IO& io, C* code) {
    if constexpr (IO::kReading) {
        io.Bytes(reinterpret_cast<uint8_t*>(code), kRvCodeLength);
        code[kRvCodeLength] = 0;
    } else {
        io.Bytes(reinterpret_cast<const uint8_t*>(code), kRvCodeLength);
    }
    for (int k = 0; k < kRvCodeLength && io.Good(); k++) io.Check(RvCodeCharOk(code[k]));
}

template <class IO, class R>
void RoomInfo(IO& io, R& r) {
    io.U8(r.isPublic), io.U8(r.seatsTotal), io.U8(r.seatsFree), io.U16(r.round), io.U16(r.hostRttMs);
    io.Check(r.isPublic <= 1 && r.seatsTotal >= 1 && r.seatsTotal <= kRvSeatsMax && r.seatsFree <= r.seatsTotal);
}

// Zero bytes that only make a request as large as its answer.
template <class IO>
void Padding(IO& io, size_t n) {
    uint8_t zero[kRvHelloPadding] = {};
    io.Bytes(zero, n);
    for (size_t k = 0; k < n; k++) io.Check(zero[k] == 0);
}

template <class IO, class M>
void Relay(IO& io, M& m) {
    io.U16(m.relayPort), io.U64(m.relayToken);
    io.Check((m.relayPort == 0) == (m.relayToken == 0));
}

template <class IO, class M>
void ListPage(IO& io, M& m) {
    io.U32(m.stamp), io.U16(m.total), io.U16(m.first);
    io.Count(m.count, kRvListPageMax);
    io.Check(m.first + m.count <= m.total);
    for (int k = 0; k < m.count && io.Good(); k++) {
        Code(io, m.rooms[k].code);
        RoomInfo(io, m.rooms[k].info);
        io.Text(m.rooms[k].name, kRvNameMax);
    }
}

// The body of each type, for both directions.
template <class IO, class M>
void Body(IO& io, M& m) {
    switch (m.type) {
    case RV_HELLO:
        io.U64(m.nonce);
        Padding(io, kRvHelloPadding);
        break;
    case RV_HOST:
        io.U64(m.cookie), io.U32(m.stamp);
        RoomInfo(io, m.room);
        io.Text(m.name, kRvNameMax);
        break;
    case RV_UPDATE:
        io.U64(m.cookie), io.U32(m.stamp);
        RoomInfo(io, m.room);
        break;
    case RV_ALIVE:
        io.U64(m.cookie), io.U32(m.stamp), io.U16(m.rttMs);
        break;
    case RV_JOIN:
        io.U64(m.cookie), io.U32(m.stamp);
        Code(io, m.code);
        io.U8(m.flags), io.Text(m.name, kRvNameMax);
        io.Check(m.flags <= RV_JOIN_RELAY_ONLY);
        break;
    case RV_CONNECTED:
        io.U64(m.cookie), io.U32(m.stamp), io.U32(m.joinId), io.U8(m.value);
        io.Check(m.joinId != 0 && m.value >= RV_KIND_DIRECT && m.value < RV_KIND_END);
        break;
    case RV_LIST:
        io.U64(m.cookie), io.U32(m.stamp), io.U16(m.first);
        break;
    case RV_PROBE_REPLY:
        io.U64(m.cookie), io.U64(m.nonce);
        break;
    case RV_BYE:
        io.U64(m.cookie);
        break;
    case RV_COOKIE:
        io.U64(m.nonce), io.U64(m.cookie);
        Address(io, m.address);
        break;
    case RV_ROOM:
        io.U32(m.stamp);
        Code(io, m.code);
        break;
    case RV_ACK:
        io.U32(m.stamp);
        break;
    case RV_REFUSED:
        io.U32(m.stamp), io.U8(m.value);
        io.Check(m.value >= RV_NO_SUCH_MATCH && m.value < RV_REFUSAL_END);
        break;
    case RV_REDIRECT:
        io.U32(m.stamp);
        Address(io, m.address);
        break;
    case RV_JOINED:
        io.U32(m.stamp), io.U32(m.joinId);
        Address(io, m.address);
        io.U8(m.value);
        Relay(io, m);
        io.U64(m.nonce);
        io.Check(m.joinId != 0 && m.value <= 1 && m.nonce != 0);
        break;
    case RV_INTRODUCE:
        io.U32(m.joinId);
        Address(io, m.address);
        Relay(io, m);
        io.U64(m.nonce), io.Text(m.name, kRvNameMax);
        io.Check(m.joinId != 0 && m.nonce != 0);
        break;
    case RV_LIST_PAGE:
        ListPage(io, m);
        break;
    case RV_CLOSING:
        io.U8(m.value);
        io.Check(m.value >= RV_CLOSE_STOPPING && m.value < RV_CLOSING_END);
        break;
    case RV_PROBE:
        io.U64(m.nonce);
        break;
    case RV_PUNCH:
        io.U64(m.nonce), io.U32(m.joinId), io.U8(m.value);
        io.Check(m.nonce != 0 && m.joinId != 0 && m.value <= 1);
        break;
    case RV_BIND:
        io.U64(m.relayToken), io.U64(m.answer);
        Padding(io, kRvBindPadding);
        io.Check(m.relayToken != 0);
        break;
    case RV_CHALLENGE:
        io.U64(m.answer);
        io.Check(m.answer != 0);
        break;
    case RV_BOUND:
        io.U8(m.value);
        io.Check(m.value <= 1);
        break;
    default:
        io.Check(false);
    }
}

}  // namespace

bool RvCodeCharOk(char c) { return c != 0 && std::strchr(kRvCodeAlphabet, c) != nullptr; }

bool RvNormaliseCode(const char* typed, char* code) {
    int n = 0;
    for (const char* p = typed; *p; p++) {
        char c = *p >= 'a' && *p <= 'z' ? char(*p - 'a' + 'A') : *p;
        if (c == ' ' || c == '-') continue;
        if (n == kRvCodeLength || !RvCodeCharOk(c)) return false;
        code[n++] = c;
    }
    code[n] = 0;
    return n == kRvCodeLength;
}

const char* RvKindName(uint8_t kind) {
    switch (kind) {
    case RV_KIND_DIRECT:
        return "DIRECT";
    case RV_KIND_PUNCHED:
        return "PUNCHED";
    case RV_KIND_RELAYED:
        return "RELAYED";
    default:
        return "?";
    }
}

const char* RvRefusalText(uint8_t why) {
    switch (why) {
    case RV_NO_SUCH_MATCH:
        return "NO SUCH MATCH";
    case RV_TOO_MANY_WRONG_CODES:
        return "TOO MANY WRONG CODES, TRY AGAIN IN A MINUTE";
    case RV_SERVER_FULL:
        return "THE MATCH SERVER IS FULL";
    case RV_RELAY_FULL:
    default:
        return "THE MATCH SERVER CANNOT RELAY MORE MATCHES";
    }
}

const char* RvClosingText(uint8_t why) {
    switch (why) {
    case RV_CLOSE_STOPPING:
        return "THE MATCH SERVER CLOSED";
    case RV_CLOSE_TIMED_OUT:
        return "THE MATCH SERVER LOST THIS MACHINE";
    case RV_CLOSE_ROOM_GONE:
    default:
        return "THE MATCH IS NO LONGER ON THE MATCH SERVER";
    }
}

const char* RvDecodeText(RvDecodeResult result) {
    switch (result) {
    case RV_DECODE_OK:
        return "a good message";
    case RV_DECODE_FOREIGN:
        return "not a match server message";
    case RV_DECODE_VERSION:
        return "a match server message of another version";
    case RV_DECODE_OVERSIZED:
        return "an oversized message";
    case RV_DECODE_TRUNCATED:
        return "a truncated message";
    case RV_DECODE_MALFORMED:
    default:
        return "a malformed message";
    }
}

bool RvIsOurs(const uint8_t* bytes, size_t size) { return size >= 2 && bytes[0] == kRvMagic0 && bytes[1] == kRvMagic1; }

RvMessage RvBlank(uint8_t type) {
    RvMessage m;
    std::memset(&m, 0, sizeof m);
    m.type = type;
    return m;
}

size_t EncodeRv(const RvMessage& message, uint8_t* out, size_t capacity) {
    CWireWriter w(out, capacity < kRvMessageMax ? capacity : kRvMessageMax);
    w.U8(kRvMagic0), w.U8(kRvMagic1), w.U8(kRvMagic2), w.U8(kRvVersion), w.U8(message.type);
    Body(w, message);
    return w.Good() ? w.Size() : 0;
}

RvDecodeResult DecodeRv(const uint8_t* bytes, size_t size, RvMessage* out) {
    std::memset(out, 0, sizeof *out);
    if (size > kRvMessageMax) return RV_DECODE_OVERSIZED;
    const uint8_t magic[3] = {kRvMagic0, kRvMagic1, kRvMagic2};
    for (size_t k = 0; k < 3 && k < size; k++)
        if (bytes[k] != magic[k]) return RV_DECODE_FOREIGN;
    if (size >= 4 && bytes[3] != kRvVersion) return RV_DECODE_VERSION;
    if (size < kRvHeaderBytes) return RV_DECODE_TRUNCATED;
    out->type = bytes[4];
    CWireReader r(bytes + kRvHeaderBytes, size - kRvHeaderBytes);
    Body(r, *out);
    RvDecodeResult result = r.Truncated() ? RV_DECODE_TRUNCATED : r.Malformed() ? RV_DECODE_MALFORMED : RV_DECODE_OK;
    if (result != RV_DECODE_OK) std::memset(out, 0, sizeof *out);
    return result;
}
