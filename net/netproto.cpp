// The protocol's one encoder and one decoder. Both walk the same field list
// per message type (Body below), so they cannot disagree about a layout: the
// writer and the reader are the wire's two classes with the same operations.
#include "net/netproto.h"

#include <cstring>

#include "net/wire.h"

namespace {

bool FrameOk(int32_t frame) { return frame >= 0 && frame <= kNetFrameMax; }

// An event or input: its frame, kind and seat in range.
template <class IO, class E>
void Event(IO& io, E& e) {
    io.I32(e.frame), io.U8(e.kind), io.U8(e.seat), io.U16(e.value);
    io.Check(FrameOk(e.frame) && e.kind >= NEV_DELAY && e.kind < NEV_KIND_END && e.seat < kPlayers);
    if (e.kind == NEV_PRESS) io.Check(e.value >= 1 && e.value <= (SEAT_LEFT | SEAT_RIGHT | SEAT_ITEM));
    if (e.kind == NEV_WAIT) io.Check(e.value <= kMaxWait);
    if (e.kind == NEV_DELAY) io.Check(e.value >= 1 && e.value <= kNetDelayFramesMax);
}

// The events of a message: in frame order, never before the message's own
// lower bound and never after its upper one.
template <class IO, class M>
void Events(IO& io, M& m, int max, int32_t after, int32_t through) {
    io.Count16(m.eventCount, max);
    int32_t previous = after;
    for (int k = 0; k < m.eventCount && io.Good(); k++) {
        Event(io, m.events[k]);
        io.Check(m.events[k].frame > after && m.events[k].frame <= through && m.events[k].frame >= previous);
        previous = m.events[k].frame;
    }
}

template <class IO, class M>
void Lobby(IO& io, M& m) {
    for (int s = 0; s < kPlayers; s++) {
        io.U8(m.seatKinds[s]), io.U8(m.seatHolders[s]);
        io.Check(m.seatKinds[s] < SEAT_KIND_END && (m.seatHolders[s] < kNetLinksMax || m.seatHolders[s] == kNoHolder));
    }
    io.Count(m.machineCount, kNetMachinesMax);
    for (int k = 0; k < m.machineCount && io.Good(); k++) {
        auto& info = m.machines[k];
        io.U8(info.number), io.U16(info.rttMs), io.U8(info.seatBits), io.Text(info.name, kNetNameMax);
        io.Check(info.number < kNetLinksMax && info.seatBits < (1 << kPlayers));
    }
}

template <class IO, class S>
void RoundStartBody(IO& io, S& s) {
    io.U32(s.roundId), io.U32(s.seed);
    for (auto& p : s.phase) io.U8(p);
    io.U8(s.scrollPlay), io.U16(s.roundCounter);
    io.I32(s.selectedStage), io.I32(s.stageCount);
    io.Text(s.stageFile, sizeof s.stageFile - 1);
    io.I32(s.bgm);
    io.Count16(s.settingCount, kNetSettingsMax);
    for (int k = 0; k < s.settingCount && io.Good(); k++) io.I32(s.settings[k]);
    for (int i = 0; i < kPlayers; i++) {
        io.I8(s.seatTypes[i]), io.I32(s.totalScores[i]), io.U16(s.matchCounters[i]);
        io.I32(s.endFrames[i]), io.I32(s.endSeconds[i]);
    }
    io.U16(s.delayFrames);
    for (int c = 0; c < kPhaseCounters; c++) io.Check(s.phase[c] < (1 << c));
    io.Check(s.scrollPlay <= 1 && s.stageCount >= 1 && s.stageCount <= 0xFFFF && s.selectedStage >= 0 &&
             s.selectedStage <= s.stageCount && s.bgm >= -1 && s.bgm <= 0xFFFF);
    io.Check(s.delayFrames >= 1 && s.delayFrames <= kNetDelayFramesMax);
    for (int8_t t : s.seatTypes) io.Check(t >= 0 && t < kPlayerTypes);
    // A fixed stage names its picture, which must be a plain name.
    if (IO::kReading && io.Good()) io.Check(NetPlainFileName(s.stageFile) || s.stageFile[0] == 0);
}

// The body of each type, for both directions.
template <class IO, class M>
void Body(IO& io, M& m) {
    switch (m.type) {
    case NET_HELLO:
        io.U8(m.watch), io.U8(m.seatsWanted);
        for (auto& digest : m.dataDigests) io.U32(digest);
        io.U32(m.key);
        io.Text(m.version, kNetVersionMax), io.Text(m.name, kNetNameMax);
        io.Check(m.watch <= 1 && m.seatsWanted <= kPlayers);
        break;
    case NET_REFUSE:
        io.Text(m.text, kNetTextMax);
        break;
    case NET_WELCOME:
        io.U8(m.machine), io.U8(m.seatBits);
        io.Check(m.machine >= 1 && m.machine < kNetLinksMax && m.seatBits < (1 << kPlayers));
        break;
    case NET_LOBBY:
        Lobby(io, m);
        break;
    case NET_ROUND_START:
        RoundStartBody(io, m.start);
        break;
    case NET_FRAMES:
        io.U32(m.roundId), io.I32(m.frame), io.I32(m.finalFrame), io.U32(m.sequence);
        io.Check(FrameOk(m.frame) && FrameOk(m.finalFrame) && m.frame <= m.finalFrame);
        if (io.Good()) Events(io, m, kNetEventsPerMessage, m.frame, m.finalFrame);
        break;
    case NET_INPUT:
        io.U32(m.roundId), io.I32(m.frame), io.U32(m.sequence);
        io.Check(FrameOk(m.frame));
        if (io.Good()) Events(io, m, kNetInputsPerMessage, -1, kNetFrameMax);
        for (int k = 0; k < m.eventCount && io.Good(); k++)
            io.Check(m.events[k].kind == NEV_PRESS || m.events[k].kind == NEV_PAUSE);
        break;
    case NET_DIGEST:
        io.U32(m.roundId), io.I32(m.frame), io.U32(m.digest);
        io.Check(FrameOk(m.frame));
        break;
    case NET_STOP:
        io.U32(m.roundId), io.I32(m.frame), io.U8(m.why), io.U32(m.digest), io.Text(m.text, kNetTextMax);
        io.Check(FrameOk(m.frame) && m.why >= STOP_DESYNC && m.why < STOP_WHY_END);
        break;
    case NET_MENU:
        io.U8(m.screen), io.U8(m.choice), io.I32(m.value);
        io.Check(m.screen >= SCREEN_INTRO && m.screen < SCREEN_END);
        break;
    case NET_PING:
    case NET_PONG:
        io.U32(m.stampMs);
        break;
    case NET_BYE:
        break;
    case NET_FILES:
        io.U8(m.part), io.U16(m.fileCount), io.U16(m.firstFile);
        io.Count(m.fileDigestCount, kNetFilesPerMessage);
        io.Check(m.part < kNetDataParts && m.fileCount <= kNetDataFilesMax &&
                 m.firstFile + m.fileDigestCount <= m.fileCount);
        for (int k = 0; k < m.fileDigestCount && io.Good(); k++) io.U32(m.fileDigests[k]);
        break;
    default:
        io.Check(false);
    }
}

}  // namespace

const char* NetDecodeText(NetDecodeResult result) {
    switch (result) {
    case NET_DECODE_OK:
        return "a good message";
    case NET_DECODE_FOREIGN:
        return "not a message of this game";
    case NET_DECODE_VERSION:
        return "a message of another protocol version";
    case NET_DECODE_OVERSIZED:
        return "an oversized message";
    case NET_DECODE_TRUNCATED:
        return "a truncated message";
    case NET_DECODE_MALFORMED:
    default:
        return "a malformed message";
    }
}

size_t EncodeNetMessage(const NetMessage& message, uint8_t* out, size_t capacity) {
    CWireWriter w(out, capacity < kNetMessageMax ? capacity : kNetMessageMax);
    w.U8(kNetMagic), w.U8(kNetProtocolVersion), w.U8(message.type);
    Body(w, message);
    return w.Good() ? w.Size() : 0;
}

NetDecodeResult DecodeNetMessage(const uint8_t* bytes, size_t size, NetMessage* out) {
    if (size > kNetMessageMax) return NET_DECODE_OVERSIZED;
    std::memset(out, 0, sizeof *out);
    if (size >= 1 && bytes[0] != kNetMagic) return NET_DECODE_FOREIGN;
    if (size >= 2 && bytes[1] != kNetProtocolVersion) return NET_DECODE_VERSION;
    if (size < 3) return NET_DECODE_TRUNCATED;
    out->type = bytes[2];
    if (out->type < NET_HELLO || out->type >= NET_TYPE_END) return NET_DECODE_MALFORMED;
    CWireReader r(bytes + 3, size - 3);
    Body(r, *out);
    const NetDecodeResult result = r.Truncated()   ? NET_DECODE_TRUNCATED
                                   : r.Malformed() ? NET_DECODE_MALFORMED
                                                   : NET_DECODE_OK;
    if (result != NET_DECODE_OK) std::memset(out, 0, sizeof *out);
    return result;
}

bool NetTextOk(const char* text, size_t max) { return WireTextOk(text, max); }

bool NetPlainFileName(const char* name) {
    if (!name[0] || name[0] == '/' || name[0] == '.' || !NetTextOk(name, 254)) return false;
    for (const char* p = name; *p; p++)
        if (*p == '/' || *p == '\\' || *p == ':') return false;
    return std::strstr(name, "..") == nullptr;
}

const char* NetDataPartName(int part) {
    static const char* const kNames[kNetDataParts] = {"stage list", "pictures", "sounds", "music"};
    return part >= 0 && part < kNetDataParts ? kNames[part] : "data";
}
