// The replay file form: writing it, and reading it through a cursor that
// checks every length against what is left, so that a damaged, truncated or
// foreign file is refused with a reason and never read beyond its end.
#include <cstdio>
#include <cstring>

#include "core/bytes.h"
#include "graphics/directdraw.h"
#include "match/rules.h"
#include "match/stage.h"
#include "replay/replay.h"

namespace {

// ---- writing ----

class ByteWriter {
public:
    ByteWriter(uint8_t* out, size_t capacity) : m_out(out), m_capacity(capacity), m_size(0), m_ok(true) {}
    void Bytes(const void* data, size_t n) {
        if (!m_ok || n > m_capacity - m_size) {
            m_ok = false;
            return;
        }
        std::memcpy(m_out + m_size, data, n);
        m_size += n;
    }
    void U8(uint8_t v) { Bytes(&v, 1); }
    void U16(uint16_t v) {
        const uint8_t b[2] = {uint8_t(v), uint8_t(v >> 8)};
        Bytes(b, 2);
    }
    void U32(uint32_t v) {
        const uint8_t b[4] = {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)};
        Bytes(b, 4);
    }
    void I32(int32_t v) { U32(uint32_t(v)); }
    void Text(const char* text, size_t field) {
        size_t n = strnlen(text, field - 1);
        U8(uint8_t(n));
        Bytes(text, n);
    }
    size_t Size() const { return m_ok ? m_size : 0; }
    uint8_t* At(size_t offset) { return m_out + offset; }

private:
    uint8_t* m_out;
    size_t m_capacity;
    size_t m_size;
    bool m_ok;
};

// ---- reading ----

class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : m_data(data), m_size(size), m_at(0), m_ok(true) {}
    bool Bytes(void* out, size_t n) {
        if (!m_ok || n > m_size - m_at) return m_ok = false;
        std::memcpy(out, m_data + m_at, n);
        m_at += n;
        return true;
    }
    uint8_t U8() {
        uint8_t b = 0;
        Bytes(&b, 1);
        return b;
    }
    uint16_t U16() {
        uint8_t b[2] = {};
        Bytes(b, 2);
        return ReadLe16(b);
    }
    uint32_t U32() {
        uint8_t b[4] = {};
        Bytes(b, 4);
        return ReadLe32(b);
    }
    int32_t I32() { return int32_t(U32()); }
    // A text of at most field - 1 bytes, always terminated.
    void Text(char* out, size_t field) {
        size_t n = U8();
        if (n >= field) m_ok = false;
        if (!m_ok || !Bytes(out, n)) n = 0;
        if (std::memchr(out, 0, n)) m_ok = false;  // the length is the text's length
        out[n] = '\0';
    }
    void Fail() { m_ok = false; }
    bool Ok() const { return m_ok; }
    size_t Left() const { return m_size - m_at; }
    const uint8_t* Here() const { return m_data + m_at; }

private:
    const uint8_t* m_data;
    size_t m_size;
    size_t m_at;
    bool m_ok;
};

// A LEB128 number of at most 32 bits at data[*at]; false when it runs past end.
bool ReadVarint(const uint8_t* data, size_t end, size_t* at, uint32_t* value) {
    uint32_t v = 0;
    for (int shift = 0; shift < 35; shift += 7) {
        if (*at >= end) return false;
        uint8_t b = data[(*at)++];
        if (shift == 28 && (b & 0x70)) return false;  // more than 32 bits
        v |= uint32_t(b & 0x7F) << shift;
        if (!(b & 0x80)) return *value = v, true;
    }
    return false;
}

bool ValidName(const char* name) {
    // The picture is opened as "Stage\<name>": a name that climbs out of the
    // stage folder or names a folder is not a stage of any list.
    if (!name[0] || std::strstr(name, "..")) return false;
    for (const char* c = name; *c; c++)
        if (*c == '/' || *c == '\\' || static_cast<unsigned char>(*c) < 0x20) return false;
    return true;
}

bool ValidStage(const ReplayStage& s) {
    for (int p = 0; p < kPlayers; p++) {
        // The stage list turns any value the field cannot hold into "random".
        if (!ValidStartValue(s.startX[p], kStartXMax) || !ValidStartValue(s.startY[p], kStartYMax) ||
            !ValidStartValue(s.startHeading[p], kStartHeadingMax))
            return false;
        for (int g = 0; g < s.giftCount[p]; g++)
            if (s.gifts[p][g].kind >= kItemKinds) return false;
    }
    return ValidName(s.file) && s.effect <= STAGE_EFFECT_CLOSING_BORDER;
}

// Walks the whole event stream once: every event complete, frames rising,
// within the round, and in the order the round meets them in a frame. The
// round's second count starts at 0 and only a clock tick adds one, so the
// last second is exactly the number of ticks recorded.
bool ValidEvents(const ReplayData& d) {
    size_t offset = 0;
    int32_t frame = 0;
    int rank = -1;
    int32_t ticks = 0;
    ReplayEvent e;
    while (offset < d.eventBytes) {
        if (!NextReplayEvent(d, &offset, frame, &e)) return false;
        if (e.frame < 1 || e.frame > d.lastFrame) return false;
        // Takeovers by seat, WAIT, tick, seats by seat.
        int r = e.kind == REPLAY_EVENT_TAKEOVER ? int(e.value)
                : e.kind == REPLAY_EVENT_WAIT   ? kPlayers
                : e.kind == REPLAY_EVENT_TICK   ? kPlayers + 1
                                                : kPlayers + 2 + e.kind / 8;
        if (e.frame == frame && r <= rank) return false;
        if (e.kind == REPLAY_EVENT_WAIT && e.value > uint32_t(kMaxWait)) return false;
        if (e.kind == REPLAY_EVENT_TICK) ticks++;
        frame = e.frame;
        rank = r;
    }
    return ticks == d.lastSecond;
}

void WriteBody(ByteWriter& w, const ReplayData& d) {
    w.U32(d.seed);
    w.Bytes(d.phase, sizeof d.phase);
    w.U8(d.scrollPlay);
    w.U16(d.roundCounter);
    w.U16(d.settingCount);
    for (int s = 0; s < d.settingCount && s < S_COUNT; s++) w.I32(d.settings[s]);
    w.U16(d.stageIndex);
    w.I32(d.randomStageCount);
    const ReplayStage& s = d.stage;
    w.Text(s.title, sizeof s.title);
    w.Text(s.file, sizeof s.file);
    for (uint16_t v : s.startX) w.U16(v);
    for (uint16_t v : s.startY) w.U16(v);
    for (uint16_t v : s.startHeading) w.U16(v);
    for (int32_t v : s.scope) w.I32(v);
    w.U16(s.effect);
    for (int p = 0; p < kPlayers; p++) {
        w.U8(s.giftCount[p]);
        for (int g = 0; g < s.giftCount[p]; g++) {
            w.U16(s.gifts[p][g].kind);
            w.I32(s.gifts[p][g].count);
        }
    }
    w.I32(d.lastFrame);
    w.I32(d.lastSecond);
    w.U32(d.fieldChecksum);
    w.U32(d.eventBytes);
    w.Bytes(d.events, d.eventBytes);
}

void ReadBody(ByteReader& r, ReplayData* d) {
    d->seed = r.U32();
    r.Bytes(d->phase, sizeof d->phase);
    d->scrollPlay = r.U8();
    d->roundCounter = r.U16();
    d->settingCount = r.U16();
    if (d->settingCount == 0 || d->settingCount > S_COUNT) return r.Fail();
    for (int s = 0; s < S_COUNT; s++) d->settings[s] = s < d->settingCount ? r.I32() : 0;
    d->stageIndex = r.U16();
    d->randomStageCount = r.I32();
    ReplayStage& s = d->stage;
    r.Text(s.title, sizeof s.title);
    r.Text(s.file, sizeof s.file);
    for (uint16_t& v : s.startX) v = r.U16();
    for (uint16_t& v : s.startY) v = r.U16();
    for (uint16_t& v : s.startHeading) v = r.U16();
    for (int32_t& v : s.scope) v = r.I32();
    s.effect = r.U16();
    for (int p = 0; p < kPlayers && r.Ok(); p++) {
        s.giftCount[p] = r.U8();
        if (s.giftCount[p] > kReplayGiftsPerSeat) return r.Fail();
        for (int g = 0; g < s.giftCount[p]; g++) {
            s.gifts[p][g].kind = r.U16();
            s.gifts[p][g].count = r.I32();
        }
    }
    d->lastFrame = r.I32();
    d->lastSecond = r.I32();
    d->fieldChecksum = r.U32();
    d->eventBytes = r.U32();
    if (d->eventBytes > kReplayEventCapacity) return r.Fail();
    r.Bytes(d->events, d->eventBytes);
}

}  // namespace

const char* ReplayReadText(ReplayReadResult result) {
    switch (result) {
    case REPLAY_READ_OK:
        return "is a replay";
    case REPLAY_UNOPENED:
        return "cannot be opened";
    case REPLAY_EMPTY:
        return "is empty";
    case REPLAY_FOREIGN:
        return "is not a replay file of this game";
    case REPLAY_NEWER:
        return "is a replay of a newer version of the game";
    case REPLAY_TRUNCATED:
        return "is cut short (truncated)";
    case REPLAY_OVERLONG:
        return "is longer than a replay can be";
    case REPLAY_DAMAGED:
        return "is damaged (its checksum does not match)";
    case REPLAY_MALFORMED:
    case REPLAY_SETTING_RANGE:
        return "holds values no round can have";
    }
    return "cannot be read";
}

size_t EncodeReplay(const ReplayData& data, uint8_t* out, size_t capacity) {
    if (data.version < 1 || data.version > kReplayVersion) return 0;
    ByteWriter w(out, capacity);
    w.Bytes(kReplayMagic, sizeof kReplayMagic);
    w.U16(data.version);
    w.U16(0);
    w.U32(0);  // body bytes and CRC, filled in below
    w.U32(0);
    WriteBody(w, data);
    size_t size = w.Size();
    if (size == 0) return 0;
    size_t body = size - kReplayHeaderBytes;
    uint32_t crc = Crc32(out + kReplayHeaderBytes, body);
    ByteWriter h(w.At(12), 8);
    h.U32(uint32_t(body));
    h.U32(crc);
    return size;
}

ReplayReadResult DecodeReplay(const uint8_t* bytes, size_t size, ReplayData* out) {
    if (size == 0) return REPLAY_EMPTY;
    if (size < sizeof kReplayMagic || std::memcmp(bytes, kReplayMagic, sizeof kReplayMagic) != 0) return REPLAY_FOREIGN;
    if (size < kReplayHeaderBytes) return REPLAY_TRUNCATED;
    ByteReader header(bytes + sizeof kReplayMagic, kReplayHeaderBytes - sizeof kReplayMagic);
    uint16_t version = header.U16();
    uint16_t reserved = header.U16();
    uint32_t bodyBytes = header.U32();
    uint32_t crc = header.U32();
    if (version > kReplayVersion) return REPLAY_NEWER;
    if (version < 1 || reserved != 0) return REPLAY_FOREIGN;
    if (bodyBytes > kReplayFileMax - kReplayHeaderBytes) return REPLAY_OVERLONG;
    if (size - kReplayHeaderBytes < bodyBytes) return REPLAY_TRUNCATED;
    if (size - kReplayHeaderBytes > bodyBytes) return REPLAY_OVERLONG;
    const uint8_t* body = bytes + kReplayHeaderBytes;
    if (Crc32(body, bodyBytes) != crc) return REPLAY_DAMAGED;

    ByteReader r(body, bodyBytes);
    out->version = version;
    ReadBody(r, out);
    if (!r.Ok()) return REPLAY_MALFORMED;
    if (r.Left() != 0) return REPLAY_MALFORMED;
    if (out->scrollPlay > 1 || out->lastFrame < 1 || out->lastFrame > kReplayFramesMax || out->lastSecond < 0 ||
        out->randomStageCount < 0 || out->randomStageCount > 0xFFFF ||
        (out->randomStageCount > 0 && out->stageIndex >= out->randomStageCount))
        return REPLAY_MALFORMED;
    if (FirstOutOfRange(out->settings, out->settingCount) >= 0) return REPLAY_SETTING_RANGE;
    if (!ValidStage(out->stage) || !ValidEvents(*out)) return REPLAY_MALFORMED;
    return REPLAY_READ_OK;
}

void ReplayReadMessage(const char* name, ReplayReadResult result, const ReplayData& data, char* text, size_t size) {
    const int bad = result == REPLAY_SETTING_RANGE ? FirstOutOfRange(data.settings, data.settingCount) : -1;
    if (bad < 0) {
        std::snprintf(text, size, "%s %s.", name, ReplayReadText(result));
        return;
    }
    char why[96];
    DescribeOutOfRange(bad, data.settings[bad], why, sizeof why);
    std::snprintf(text, size, "%s %s: %s.", name, ReplayReadText(result), why);
}

ReplayReadResult LoadReplayFile(const char* path, ReplayData* out) {
    static uint8_t buffer[kReplayFileMax + 1];
    FILE* f = std::fopen(path, "rb");
    if (!f) return REPLAY_UNOPENED;
    size_t size = std::fread(buffer, 1, sizeof buffer, f);
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed) return REPLAY_UNOPENED;
    if (size > kReplayFileMax) return REPLAY_OVERLONG;
    return DecodeReplay(buffer, size, out);
}

bool NextReplayEvent(const ReplayData& data, size_t* offset, int32_t previousFrame, ReplayEvent* event) {
    size_t at = *offset;
    const size_t end = data.eventBytes;
    uint32_t distance = 0;
    if (!ReadVarint(data.events, end, &at, &distance) || distance > uint32_t(kReplayFramesMax) || at >= end)
        return false;
    event->frame = previousFrame + int32_t(distance);
    event->kind = data.events[at++];
    event->value = 0;
    if (event->kind >= 1 && event->kind <= REPLAY_EVENT_SEATS_LAST) {
        if ((event->kind & 7) == 0) return false;
    } else if (event->kind == REPLAY_EVENT_TICK) {
        if (end - at < 4) return false;
        event->value = ReadLe32(data.events + at);
        at += 4;
    } else if (event->kind == REPLAY_EVENT_WAIT) {
        if (end - at < 2) return false;
        event->value = ReadLe16(data.events + at);
        at += 2;
    } else if (event->kind == REPLAY_EVENT_TAKEOVER) {
        if (end - at < 1 || data.events[at] >= kPlayers) return false;
        event->value = data.events[at++];
    } else {
        return false;
    }
    *offset = at;
    return true;
}

uint32_t FieldChecksum() {
    SurfaceDesc field = theDirectDraw.Lock(theRound.local.fieldSurface);
    uint32_t crc = 0;
    if (field.pixels && field.height >= kFieldTop + kFieldHeight) {
        for (int y = kFieldTop; y < kFieldTop + kFieldHeight; y++)
            crc = Crc32(field.pixels + size_t(y) * size_t(field.pitch), size_t(field.width), crc);
    }
    theDirectDraw.Unlock(theRound.local.fieldSurface);
    return crc;
}

uint32_t FinalChecksum(uint16_t version) {
    const uint32_t crc = FieldChecksum();
    if (version < kReplayFirstSecondChecked) return crc;
    const uint32_t s = uint32_t(theRound.state.roundSeconds);
    const uint8_t second[4] = {uint8_t(s), uint8_t(s >> 8), uint8_t(s >> 16), uint8_t(s >> 24)};
    return Crc32(second, sizeof second, crc);
}
