// Recording a round and feeding a recording back into it. The recorder
// writes into a fixed buffer that lives as long as the process, so a frame
// never allocates; the file is made once, when the round has ended.
#include "replay/replay.h"

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "items/itemmanager.h"

namespace {

// The file form of the last round, made when it is saved.
uint8_t g_fileBytes[kReplayFileMax];

void CopyStage(const StageEntry& entry, ReplayStage* out, bool* fits) {
    std::memset(out, 0, sizeof *out);
    std::snprintf(out->title, sizeof out->title, "%s", entry.title);
    std::snprintf(out->file, sizeof out->file, "%s", entry.file);
    for (int p = 0; p < kPlayers; p++) {
        out->startX[p] = entry.startX[p];
        out->startY[p] = entry.startY[p];
        out->startHeading[p] = entry.startHeading[p];
        for (DataNode* node = entry.initialItems[p].First(); node; node = node->next) {
            if (out->giftCount[p] == kReplayGiftsPerSeat) {
                *fits = false;
                break;
            }
            const InitialItem* gift = CDataList::Record<InitialItem>(node);
            out->gifts[p][out->giftCount[p]++] = ReplayGift{gift->kind, gift->count};
        }
    }
    out->scope[0] = entry.scopeLeft;
    out->scope[1] = entry.scopeTop;
    out->scope[2] = entry.scopeRight;
    out->scope[3] = entry.scopeBottom;
    out->effect = entry.effect;
}

bool IsReplayName(const std::string& name) {
    const size_t ext = sizeof kReplayExtension - 1;
    return name.size() > ext && name.compare(name.size() - ext, ext, kReplayExtension) == 0 && name[0] >= '0' &&
           name[0] <= '9';
}

// Keeps the newest files of replays/: their names start with the date and
// time, so the name order is the age order.
void PruneReplays() {
    std::vector<std::string> names = plat::ListFolder(kReplayFolder);
    names.erase(std::remove_if(names.begin(), names.end(), [](const std::string& n) { return !IsReplayName(n); }),
                names.end());
    if (names.size() <= size_t(kReplaysKept)) return;
    std::sort(names.begin(), names.end());
    for (size_t k = 0; k + kReplaysKept < names.size(); k++)
        plat::RemoveFile((std::string(kReplayFolder) + "/" + names[k]).c_str());
}

}  // namespace

// A write stopped half-way (the game killed at its sync) leaves its
// temporary file, NAME.rpl.new (or the note's NAME.txt.new), which pruning
// never counts. Those older than this start of the game are such leftovers;
// a newer one may be another running game's write.
void RemoveStaleReplayWrites(int64_t startedNs) {
    const std::string suffixes[] = {std::string(kReplayExtension) + ".new", ".txt.new"};
    for (const std::string& name : plat::ListFolder(kReplayFolder)) {
        bool temporary = false;
        for (const std::string& suffix : suffixes)
            temporary = temporary || (name.size() > suffix.size() &&
                                      name.compare(name.size() - suffix.size(), suffix.size(), suffix) == 0);
        if (!temporary || name[0] < '0' || name[0] > '9') continue;
        const std::string path = std::string(kReplayFolder) + "/" + name;
        const int64_t changedNs = plat::ModifiedNs(path.c_str());
        if (changedNs >= 0 && changedNs < startedNs) plat::RemoveFile(path.c_str());
    }
}

CReplay::CReplay()
    : last{},
      lastValid(false),
      saveFiles(true),
      enabled(true),
      lastSavedName{},
      lastNotSaved(false),
      feed(nullptr),
      m_notSavedSaid(false),
      m_recording(false),
      m_overflowed(false),
      m_lastEventFrame(0),
      m_lastWait(0),
      m_play(nullptr),
      m_offset(0),
      m_playFrame(0),
      m_diverged(false) {}

void CReplay::BeginRecording(uint32_t seedBefore) {
    m_recording = false;
    if (!enabled || Playing()) return;
    ReplayData& d = last;
    lastValid = false;
    d.version = kReplayVersion;
    d.seed = seedBefore;
    std::memcpy(d.phase, theRound.state.phase, sizeof d.phase);
    d.scrollPlay = theRound.state.scrollPlay;
    const RoundStart& start = theRound.start;
    d.roundCounter = theRound.roundCounter;
    d.settingCount = S_COUNT;
    // A personal setting is kept at its default: no round depends on it, and
    // a viewer keeps their own, so two machines' replays of one round match.
    for (int s = 0; s < S_COUNT; s++) {
        const Setting& setting = SettingAt(s);
        d.settings[s] = setting.personal ? setting.defaultValue : FetchValue(setting);
    }
    int count = start.stageCount, selected = start.selectedStage;
    d.randomStageCount = (selected >= 0 && selected < count) ? 0 : count;
    d.stageIndex = theRound.state.stageIndex;
    bool fits = true;
    CopyStage(theRound.Stage(), &d.stage, &fits);
    d.eventBytes = 0;
    m_lastEventFrame = 0;
    m_lastWait = theRound.state.wait;
    m_overflowed = !fits;
    m_recording = true;
}

void CReplay::EndRecording() {
    if (!m_recording) return;
    m_recording = false;
    if (m_overflowed) return;  // too long (or too many gifts) to keep
    last.lastFrame = theRound.state.frameCounter;
    last.lastSecond = theRound.state.roundSeconds;
    last.fieldChecksum = FinalChecksum(last.version);
    lastValid = true;
}

void CReplay::EndStoppedRecording() {
    const bool recording = m_recording && !m_overflowed;
    EndRecording();
    if (recording && last.lastFrame > 1 && m_lastEventFrame < last.lastFrame) last.lastFrame--;
}

bool CReplay::Append(uint8_t kind, const uint8_t* payload, size_t payloadBytes) {
    if (!m_recording || m_overflowed) return false;
    uint8_t bytes[16];
    size_t n = 0;
    uint32_t distance = uint32_t(theRound.state.frameCounter - m_lastEventFrame);
    do {
        bytes[n++] = uint8_t((distance & 0x7F) | (distance > 0x7F ? 0x80 : 0));
        distance >>= 7;
    } while (distance);
    bytes[n++] = kind;
    if (payloadBytes) std::memcpy(bytes + n, payload, payloadBytes);
    n += payloadBytes;
    if (n > kReplayEventCapacity - last.eventBytes) {
        m_overflowed = true;
        return false;
    }
    std::memcpy(last.events + last.eventBytes, bytes, n);
    last.eventBytes += uint32_t(n);
    m_lastEventFrame = theRound.state.frameCounter;
    return true;
}

bool CReplay::PeekEvent(ReplayEvent* event) const {
    size_t offset = m_offset;
    return m_play && NextReplayEvent(*m_play, &offset, m_playFrame, event);
}

void CReplay::TakeEvent(ReplayEvent* event) {
    NextReplayEvent(*m_play, &m_offset, m_playFrame, event);
    m_playFrame = event->frame;
}

void CReplay::Record(const FrameInput& used) {
    for (int seat = 0; seat < kPlayers; seat++)
        if ((used.takeovers >> seat) & 1) {
            const uint8_t v = uint8_t(seat);
            Append(REPLAY_EVENT_TAKEOVER, &v, 1);
        }
    if (used.leave) return;
    if (used.waitSet && used.wait != m_lastWait) {
        m_lastWait = used.wait;
        const int32_t w = CRound::LimitWait(m_lastWait);
        const uint8_t v[2] = {uint8_t(w), uint8_t(w >> 8)};
        Append(REPLAY_EVENT_WAIT, v, 2);
    }
    if (used.tick) {
        const uint32_t s = used.tickState;
        const uint8_t v[4] = {uint8_t(s), uint8_t(s >> 8), uint8_t(s >> 16), uint8_t(s >> 24)};
        Append(REPLAY_EVENT_TICK, v, 4);
    }
    for (int seat = 0; seat < kPlayers; seat++)
        if (used.seats[seat] & 7) Append(uint8_t(seat * 8 + (used.seats[seat] & 7)), nullptr, 0);
}

void CReplay::FrameDone(const FrameInput& given, const FrameInput& used) {
    if (!Playing()) return Record(used);
    for (int seat = 0; seat < kPlayers; seat++)
        if (given.seats[seat] != used.seats[seat]) m_diverged = true;
}

// Events of one frame come in the order the recorder wrote them: seats taken
// over, WAIT, tick, presses by seat.
void CReplay::PlaybackInput(int32_t frame, FrameInput* input) {
    ReplayEvent e;
    // Every event of an earlier frame has been met by now, else the round
    // went another way than the recording.
    if (PeekEvent(&e) && e.frame < frame) m_diverged = true;
    while (PeekEvent(&e) && e.frame == frame && e.kind == REPLAY_EVENT_TAKEOVER) {
        TakeEvent(&e);
        input->takeovers |= uint8_t(1 << e.value);
    }
    if (TakeKey(plat::VK_ESCAPE)) {
        input->leave = ROUND_EXIT;
        return;
    }
    if (PeekEvent(&e) && e.frame == frame && e.kind == REPLAY_EVENT_WAIT) {
        TakeEvent(&e);
        input->waitSet = 1;
        input->wait = int32_t(e.value);
    }
    if (PeekEvent(&e) && e.frame == frame && e.kind == REPLAY_EVENT_TICK) {
        TakeEvent(&e);
        input->tick = 1;
        input->tickState = e.value;
        if (e.value != theApp.RandState()) m_diverged = true;
    }
    for (int next = 0; PeekEvent(&e) && e.frame == frame && e.kind <= REPLAY_EVENT_SEATS_LAST && e.kind / 8 >= next;) {
        TakeEvent(&e);
        next = e.kind / 8 + 1;
        input->seats[e.kind / 8] = uint8_t(e.kind & 7);
    }
}

void CReplay::Exchange(CReplay& other) {
    static uint8_t scratch[kReplayEventCapacity];
    const size_t fixed = offsetof(ReplayData, events);
    const size_t used = std::max(last.eventBytes, other.last.eventBytes);
    static_assert(offsetof(ReplayData, events) + sizeof(ReplayData::events) == sizeof(ReplayData));
    uint8_t head[offsetof(ReplayData, events)];
    std::memcpy(head, &last, fixed);
    std::memcpy(static_cast<void*>(&last), &other.last, fixed);
    std::memcpy(static_cast<void*>(&other.last), head, fixed);
    std::memcpy(scratch, last.events, used);
    std::memcpy(last.events, other.last.events, used);
    std::memcpy(other.last.events, scratch, used);
    std::swap(lastValid, other.lastValid);
    std::swap(saveFiles, other.saveFiles);
    std::swap(enabled, other.enabled);
    std::swap(lastSavedName, other.lastSavedName);
    std::swap(lastNotSaved, other.lastNotSaved);
    std::swap(m_notSavedSaid, other.m_notSavedSaid);
    std::swap(feed, other.feed);
    std::swap(m_recording, other.m_recording);
    std::swap(m_overflowed, other.m_overflowed);
    std::swap(m_lastEventFrame, other.m_lastEventFrame);
    std::swap(m_lastWait, other.m_lastWait);
    std::swap(m_play, other.m_play);
    std::swap(m_offset, other.m_offset);
    std::swap(m_playFrame, other.m_playFrame);
    std::swap(m_diverged, other.m_diverged);
}

void CReplay::StartPlayback(const ReplayData* data) {
    m_recording = false;
    m_play = data;
    m_offset = 0;
    m_playFrame = 0;
    m_diverged = false;
}

bool CReplay::KeepStoppedRound(const char* note) {
    EndRecording();
    if (!SaveLast()) return false;
    char noteName[sizeof lastSavedName];
    std::snprintf(noteName, sizeof noteName, "%.*s.txt",
                  int(std::strlen(lastSavedName) - std::strlen(kReplayExtension)), lastSavedName);
    return plat::WriteFileAtomic(noteName, note, std::strlen(note));
}

bool CReplay::SaveLast() {
    lastNotSaved = false;
    if (!lastValid || !saveFiles) return false;
    if (WriteLast()) return true;
    const int why = errno;
    lastNotSaved = true;
    // Said once a match, as the other files the game cannot keep are said;
    // where it can keep no files at all, start-up has said that already.
    if (!m_notSavedSaid && plat::CanWriteGameFiles())
        std::fprintf(stderr, "Tarnwick: the replay %s could not be written (%s).\n",
                     lastSavedName[0] ? lastSavedName : kReplayFolder, std::strerror(why));
    m_notSavedSaid = true;
    lastSavedName[0] = '\0';
    return false;
}

// The file of the last round in replays/; false with errno set when it
// could not be written.
bool CReplay::WriteLast() {
    lastSavedName[0] = '\0';
    size_t size = EncodeReplay(last, g_fileBytes, sizeof g_fileBytes);
    if (size == 0) return errno = EINVAL, false;
    if (!plat::MakeFolder(kReplayFolder)) return false;
    // Named by the wall clock's date and time (outside the round); a second
    // round saved within the same second gets a suffix that sorts after it.
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char stamp[32];
    std::strftime(stamp, sizeof stamp, "%Y%m%d-%H%M%S", &local);
    for (int k = 1; k < 100; k++) {
        if (k == 1)
            std::snprintf(lastSavedName, sizeof lastSavedName, "%s/%s%s", kReplayFolder, stamp, kReplayExtension);
        else
            std::snprintf(lastSavedName, sizeof lastSavedName, "%s/%s_%02d%s", kReplayFolder, stamp, k,
                          kReplayExtension);
        if (plat::FileExists(lastSavedName)) continue;
        bool written = plat::WriteFileAtomic(lastSavedName, g_fileBytes, size);
        if (written) PruneReplays();
        return written;
    }
    return errno = EEXIST, false;
}
