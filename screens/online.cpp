// COnline: the online screen, the lobby and the online match loops, and the
// transport glue (see online.h).
//
// The host runs the match loop as local play does (intro, selector, round,
// results), with the session as the round's feed; its menus send their cursor
// and choice to every machine. A joining machine is driven by what arrives:
// a menu message opens the same screen, which follows the host's cursor; a
// round start record starts the same round. Each machine keeps its own
// keyboard, music and sound settings; the host's round settings apply for the
// match only, and every machine's own settings are put back afterwards, so
// nothing a joining machine saves later is the host's.
#include "screens/online.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "graphics/directdraw.h"
#include "graphics/menu.h"
#include "items/itemmanager.h"
#include "match/onlineround.h"
#include "match/pausemenu.h"
#include "match/replay.h"
#include "match/round.h"
#include "match/settings.h"
#include "platform/net.h"
#include "screens/roundintro.h"
#include "screens/stageselect.h"
#include "screens/standings.h"
#include "sound/bgm.h"
#include "sound/directsound.h"

namespace {

constexpr int kHeadY = 24;
constexpr int kSubY = 56;
constexpr int kSeatY = 92;
constexpr int kSeatStep = 28;
constexpr int kStartY = 212;
constexpr int kMachinesY = 252;
constexpr int kMachineStep = 22;
constexpr int kNoteY = 448;
constexpr int kPumpsPerWait = 20;
// A join gives up when the host has not answered for this long: the
// transport's connection, and then the welcome.
constexpr uint32_t kJoinLimitMs = 5000;
constexpr int kLobbyStartLine = kPlayers;  // the lobby's cursor: seats 0..3, "START", then the machines
constexpr int kMessageLineChars = 38;
constexpr uint32_t kNoticeShownMs = 4000;
constexpr uint8_t kTextColor = 5, kTitleColor = 7, kWarningColor = 6, kGreyColor = 4;

// The transport carries every message of the protocol whole.
static_assert(kNetMessageMax <= plat::kNetPacketMax);
static_assert(kNetLinksMax - 1 <= plat::kNetPeersMax);

// A frame of the round at its WAIT, in microseconds (WAIT x 20 pumps of 1.5 us).
int32_t FrameUs() { return CRound::LimitWait(theRound.state.wait) * kPumpsPerWait * 3 / 2; }

void Upper(const char* text, char* line, size_t size) {
    size_t n = 0;
    for (; text[n] && n + 1 < size; n++) line[n] = char(std::toupper(static_cast<unsigned char>(text[n])));
    line[n] = 0;
}

// The font has capitals only.
void DrawUpper(int y, const char* text, uint8_t color) {
    char line[100];
    Upper(text, line, sizeof line);
    theApp.DrawText(kBackBuffer, 0, y, line, color, true, 0);
}

void SeatText(const CSession& s, int seat, char* text, size_t size) {
    const uint8_t holder = s.seatHolders[seat];
    const char* who = s.seatKinds[seat] == SEAT_REMOTE
                          ? (holder != kNoHolder && s.Link(holder).name[0] ? s.Link(holder).name : "FREE")
                      : s.seatKinds[seat] == SEAT_LOCAL ? s.Link(0).name
                                                        : "";
    std::snprintf(text, size, "%dP <_%s_> %s", seat + 1, SeatKindName(s.seatKinds[seat]), who);
}

// What the host's player is told while it plays (a machine left, was
// dropped, ...): a band over the top of the picture shown, never in a
// surface, for a few seconds. Another overlay in place before it (the head
// marks) is drawn first; one set later hides the band until it ends.
struct Notice {
    char text[kNetTextMax + 1];
    uint32_t untilMs;
    SurfaceId band;
    PresentOverlay before;
    bool shown;
} g_notice{};

void NoticeOverlay(uint8_t* pixels, int pitch, int width, int height) {
    if (g_notice.before) g_notice.before(pixels, pitch, width, height);
    const SurfaceDesc& band = theDirectDraw.Lock(g_notice.band);
    if (band.pixels && width >= band.width && height >= band.height)
        for (int y = 0; y < band.height; y++)
            std::memcpy(pixels + y * pitch, band.pixels + y * band.pitch, size_t(band.width));
    theDirectDraw.Unlock(g_notice.band);
}

void ShowNotice(const char* text) {
    if (!g_notice.band) g_notice.band = theDirectDraw.CreateSurface(kScreenWidth, 16, false);
    char line[kNetTextMax + 1];
    Upper(text, line, sizeof line);
    theDirectDraw.ClearSurface(g_notice.band);
    theApp.DrawText(g_notice.band, 0, 0, line, kWarningColor, true, 0);
    g_notice.untilMs = plat::TimeMs() + kNoticeShownMs;
    if (!g_notice.shown) g_notice.before = theDirectDraw.SetPresentOverlay(NoticeOverlay);
    g_notice.shown = true;
}

// Takes the band away when its time is over (or the session closes): the
// overlay before it comes back, unless another was set over it meanwhile.
void EndNotice(bool now) {
    if (!g_notice.shown || (!now && int32_t(plat::TimeMs() - g_notice.untilMs) < 0)) return;
    const PresentOverlay current = theDirectDraw.SetPresentOverlay(nullptr);
    theDirectDraw.SetPresentOverlay(current == NoticeOverlay ? g_notice.before : current);
    g_notice.shown = false;
    if (now) theDirectDraw.ReleaseSurface(g_notice.band);
}

void PumpNetwork() { theOnline.Pump(); }
bool WaitHook() { return theOnline.Wait(); }
uint8_t PauseHook(CSession&) { return theOnline.Pause(); }
void CloseAtExit() { plat::NetClose(); }

uint32_t CrcOfFile(const char* gamePath, uint32_t crc) {
    crc = Crc32(reinterpret_cast<const uint8_t*>(gamePath), std::strlen(gamePath), crc);
    FILE* f = plat::OpenFile(gamePath, "rb");
    if (!f) return Crc32(reinterpret_cast<const uint8_t*>("-"), 1, crc);
    static uint8_t buffer[64 * 1024];
    size_t n;
    while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) crc = Crc32(buffer, n, crc);
    std::fclose(f);
    return crc;
}

}  // namespace

// ---- parsing ----------------------------------------------------------------------

bool ParseSeatKinds(const char* text, uint8_t* kinds) {
    int seat = 0;
    for (const char* at = text; seat < kPlayers; seat++) {
        const char* comma = std::strchr(at, ',');
        const size_t n = comma ? size_t(comma - at) : std::strlen(at);
        char name[16];
        if (n == 0 || n >= sizeof name) return false;
        std::memcpy(name, at, n);
        name[n] = 0;
        const int kind = SeatKindByName(name);
        if (kind < 0) return false;
        kinds[seat] = uint8_t(kind);
        if (!comma) return seat == kPlayers - 1;
        at = comma + 1;
    }
    return false;
}

bool ParseAddress(const char* text, char* host, size_t hostSize, uint16_t* port) {
    const char* colon = std::strrchr(text, ':');
    const size_t n = colon ? size_t(colon - text) : std::strlen(text);
    if (n == 0 || n >= hostSize) return false;
    std::memcpy(host, text, n);
    host[n] = 0;
    if (!colon) return true;
    char* end = nullptr;
    const long p = std::strtol(colon + 1, &end, 10);
    if (!colon[1] || *end || p < 1 || p > 65535) return false;
    *port = uint16_t(p);
    return true;
}

namespace {

// Each file of a part in the order every machine lists them: the part's list
// file (when it has one), then its files in the list's order, or the fixed
// names the game uses.
template <class Visit>
void ForEachDataFile(int part, Visit visit) {
    const CStageSelect& s = theStageSelect;
    char path[300];
    if (part == DATA_STAGES) {
        visit("stage\\stage.txt");
        for (int i = 0; i < s.stageCount; i++) {
            std::snprintf(path, sizeof path, "Stage\\%s", s.stages[i].file);
            visit(path);
        }
    } else if (part == DATA_PICTURES) {
        for (const char* name : {"font", "background", "cursor", "title_light"}) {
            std::snprintf(path, sizeof path, "Graphics\\%s.png", name);
            visit(path);
        }
        for (const ItemKeyName& key : kItemKeyNames) {
            std::snprintf(path, sizeof path, "Graphics\\Items\\%s.png", key.text);
            visit(path);
        }
    } else if (part == DATA_SOUNDS) {
        for (const EffectRecord& effect : kEffectTable) {
            std::snprintf(path, sizeof path, "Sound\\%.127s", effect.file);
            visit(path);
        }
    } else if (part == DATA_MUSIC) {
        visit("bgm\\bgm.txt");
        for (int i = 0; i < s.bgmCount; i++) {
            std::snprintf(path, sizeof path, "Bgm\\%s", s.bgms[i].file);
            visit(path);
        }
    }
}

// The player reads a game path with '/' between its folders.
void ShownName(const char* path, char* name) {
    size_t n = 0;
    for (; path[n] && n + 1 < size_t(kDataFileNameMax); n++) name[n] = path[n] == '\\' ? '/' : path[n];
    name[n] = 0;
}

}  // namespace

int DataPartFiles(int part, uint32_t* digests, char (*names)[kDataFileNameMax], int max) {
    int n = 0;
    ForEachDataFile(part, [&](const char* path) {
        if (n == max) return;
        digests[n] = CrcOfFile(path, 0);
        if (names) ShownName(path, names[n]);
        n++;
    });
    return n;
}

void DataSetDigests(uint32_t* digests) {
    static uint32_t files[kNetDataFilesMax];
    for (int part = 0; part < kNetDataParts; part++) {
        const int n = DataPartFiles(part, files, nullptr, kNetDataFilesMax);
        digests[part] = Crc32(reinterpret_cast<const uint8_t*>(files), sizeof files[0] * size_t(n), 0);
    }
}

bool DifferingFileText(int part, const uint32_t* hostDigests, int hostCount, char* text, size_t size) {
    static uint32_t digests[kNetDataFilesMax];
    static char names[kNetDataFilesMax][kDataFileNameMax];
    const int n = DataPartFiles(part, digests, names, kNetDataFilesMax);
    for (int i = 0; i < n; i++) {
        if (i < hostCount && digests[i] == hostDigests[i]) continue;
        if (i < hostCount)
            std::snprintf(text, size, "%s differs from the file on the host.", names[i]);
        else
            std::snprintf(text, size, "%s is on this machine but not on the host.", names[i]);
        return true;
    }
    if (hostCount <= n) return false;
    std::snprintf(text, size, "The host has more %s than this machine.", NetDataPartName(part));
    return true;
}

// ---- the transport glue -------------------------------------------------------------

COnline::COnline() : m_hostPeer(-1), m_lastPumpMs(0), m_open(false), m_note{}, m_lastAddress{}, m_savedSettings{} {}

// Machines are numbered by the session: 0 is the host. On the host, peer p
// is machine p + 1; on a joining machine the host's peer is machine 0.
int COnline::MachineOfPeer(int peer) const {
    if (session.Role() == SESSION_HOST) return peer + 1;
    return peer == m_hostPeer ? 0 : -1;
}

int COnline::PeerOfMachine(int machine) const {
    if (session.Role() == SESSION_HOST) return machine - 1;
    return machine == 0 ? m_hostPeer : -1;
}

// At most once a millisecond: what arrived goes into the session, its timers
// run, and what it has to send goes out. A joining machine that has more of
// the stream than it needs skips its frames' waits until it is back in step.
void COnline::Pump() {
    if (!m_open) return;
    const uint32_t now = plat::TimeMs();
    if (now == m_lastPumpMs) return;
    m_lastPumpMs = now;
    static plat::NetEvent e;
    while (plat::NetPoll(&e)) {
        const int machine = MachineOfPeer(e.peer);
        if (machine < 0) continue;
        if (e.type == plat::NET_EVENT_CONNECT) session.Connected(machine, now, e.address);
        if (e.type == plat::NET_EVENT_DISCONNECT) session.Disconnected(machine, now);
        // An oversized message is refused by the decoder on its size alone.
        if (e.type == plat::NET_EVENT_RECEIVE) session.Receive(machine, e.data, e.size, now);
    }
    session.Service(now);
    static OutMessage out;
    while (session.TakeOutgoing(&out)) plat::NetSend(PeerOfMachine(out.machine), out.bytes, out.size, out.reliable);
    for (int machine; (machine = session.TakeClosing()) >= 0;) plat::NetDisconnect(PeerOfMachine(machine));
    plat::NetFlush();
    TakeNotices();
    // Online, Control does not speed the round up; a machine behind catches up.
    theApp.ctrlFlag = session.Role() == SESSION_CLIENT && session.InRound() &&
                      session.FinalFrame() - theRound.state.frameCounter > 2 * session.DelayFrames() + 8;
}

void COnline::TakeNotices() {
    char text[kNetTextMax + 1];
    while (session.TakeNotice(text, sizeof text)) {
        std::fprintf(stderr, "online: %s\n", text);
        std::snprintf(m_note, sizeof m_note, "%s", text);
        ShowNotice(text);
    }
    EndNotice(false);
}

bool COnline::Wait() {
    theApp.PumpMessages();
    plat::Idle(plat::TimeUs() + 1000);
    return !session.Stopped() && !session.HostLost();
}

uint8_t COnline::Pause() {
    CPauseMenu menu;
    theDirectSound.Play(SE_CUR_OK, 0, 0);
    const int32_t wait = theRound.state.wait;
    menu.Run();
    // A WAIT the host chose reaches every machine's round through the stream.
    const int32_t chosen = theRound.state.wait;
    theRound.state.wait = wait;
    if (session.Role() == SESSION_HOST && chosen != wait)
        session.QueueWait(theRound.state.frameCounter, uint16_t(CRound::LimitWait(chosen)));
    if (session.Stopped() || session.HostLost()) return ROUND_EXIT;
    if (menu.cursor == PAUSE_NEXT_ROUND) return ROUND_NEXT;
    if (menu.cursor == PAUSE_EXIT) return ROUND_EXIT;
    return 0;
}

namespace {

// The key a joining machine keeps while it runs: a host that removed it
// knows it again, also under another name.
uint32_t MachineKey() {
    static const uint32_t key = [] {
        std::random_device device;
        return uint32_t(device()) | 1u;
    }();
    return key;
}

}  // namespace

bool COnline::Open() {
    m_note[0] = 0;
    if (!plat::NetStart()) return std::snprintf(m_note, sizeof m_note, "The network cannot be used."), false;
    char name[kNetNameMax + 1];
    std::snprintf(name, sizeof name, "%s", plan.name[0] ? plan.name : (std::getenv("USER") ? std::getenv("USER") : ""));
    if (!NetTextOk(name, kNetNameMax) || !name[0]) std::snprintf(name, sizeof name, "PLAYER");
    if (plan.mode == OnlinePlan::HOST) {
        if (!plat::NetListen(plan.port, kNetLinksMax - 1)) {
            std::snprintf(m_note, sizeof m_note, "Port %u cannot be opened: another program may use it.",
                          unsigned(plan.port));
            return false;
        }
        session.StartHost(name);
        session.allowSeveralSeats = plan.allowSeveralSeats;
        DataSetDigests(session.dataDigests);
        static uint32_t files[kNetDataFilesMax];
        for (int part = 0; part < kNetDataParts; part++)
            session.SetDataFiles(part, files, DataPartFiles(part, files, nullptr, kNetDataFilesMax));
        std::memcpy(session.seatKinds, plan.seatKinds, sizeof session.seatKinds);
    } else {
        char host[128];
        uint16_t port = kNetDefaultPort;
        if (!ParseAddress(plan.address, host, sizeof host, &port)) {
            std::snprintf(m_note, sizeof m_note, "%.60s is not an address: type HOST or HOST:PORT.", plan.address);
            return false;
        }
        std::snprintf(m_lastAddress, sizeof m_lastAddress, "%s", plan.address);
        m_hostPeer = plat::NetConnect(host, port);
        if (m_hostPeer < 0) {
            std::snprintf(m_note, sizeof m_note, "No machine is known by the name %.60s.", host);
            plat::NetClose();
            return false;
        }
        uint32_t digests[kNetDataParts];
        DataSetDigests(digests);
        session.StartClient(name, plan.watch, plan.seatsWanted, digests);
        session.machineKey = MachineKey();
    }
    m_open = true;
    m_lastPumpMs = 0;
    CApp::SetPumpHook(PumpNetwork);
    SetOnlineWaitHook(WaitHook);
    SetOnlinePauseHook(PauseHook);
    static bool exitHooked = false;
    if (!exitHooked) CApp::AddExitHook(CloseAtExit);
    exitHooked = true;
    return true;
}

// Says goodbye (the host to every machine, a joining machine to the host)
// and closes the endpoint, which tells every peer.
void COnline::Close() {
    if (!m_open) return;
    session.Leave();
    static OutMessage out;
    while (session.TakeOutgoing(&out)) plat::NetSend(PeerOfMachine(out.machine), out.bytes, out.size, out.reliable);
    plat::NetFlush();
    plat::NetClose();
    session.Stop();
    m_open = false;
    EndNotice(true);
    CApp::SetPumpHook(nullptr);
    SetOnlineWaitHook(nullptr);
    SetOnlinePauseHook(nullptr);
    theApp.ctrlFlag = 0;
}

// ---- screens -----------------------------------------------------------------------

void COnline::Launch(const OnlinePlan& launch) {
    plan = launch;
    theDirectDraw.SetPaletteBrightness(0);  // the logo intro left it dark
    if (Open()) Lobby();
    const uint8_t why = session.EndWhy();
    const bool joinAgain = plan.mode == OnlinePlan::JOIN && m_note[0] && why != STOP_HOST_LEFT;
    ShowMessage(m_note);
    Close();
    theApp.ClearKeys();
    // A machine the host let go (or that could not join) may try again.
    if (joinAgain) Run();
}

// The online screen: host, join, watch or back. It keeps its place: after a
// match that ended here the cursor is where it was, to join again.
void COnline::Run() {
    static const char* const kEntries[] = {"HOST A GAME", "JOIN A GAME", "WATCH A GAME", "BACK"};
    constexpr int kEntriesCount = 4;
    if (!plat::NetAvailable()) {
        ShowMessage("ONLINE PLAY NEEDS THE DESKTOP GAME");
        return;
    }
    int cursor = plan.mode == OnlinePlan::JOIN ? (plan.watch ? 2 : 1) : 0;
    theApp.ClearKeys();
    for (;;) {
        theApp.StartFrame();
        theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
        theApp.DrawBackground(true);
        DrawUpper(kHeadY + 60, "ONLINE", kTitleColor);
        for (int i = 0; i < kEntriesCount; i++)
            DrawUpper(200 + 32 * i, kEntries[i], uint8_t(i == 3 ? kWarningColor : kTextColor));
        menu::HighlightEntry(kEntries[cursor], 196 + 32 * cursor);
        menu::EndFrame();
        if (TakeKey(plat::VK_UP)) cursor = (cursor + kEntriesCount - 1) % kEntriesCount;
        if (TakeKey(plat::VK_DOWN)) cursor = (cursor + 1) % kEntriesCount;
        if (TakeKey(plat::VK_ESCAPE) || (cursor == 3 && TakeKey(plat::VK_RETURN))) break;
        if (!TakeKey(plat::VK_RETURN)) continue;
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        plan.mode = cursor == 0 ? OnlinePlan::HOST : OnlinePlan::JOIN;
        plan.watch = cursor == 2;
        if (plan.mode == OnlinePlan::JOIN ? !PromptAddress() : !PromptPort()) continue;
        if (Open()) Lobby();
        ShowMessage(m_note);
        Close();
        theApp.ClearKeys();
    }
    theApp.ClearKeys();
}

int LineEdit::Keys() {
    const size_t n = std::strlen(text);
    if (TakeKey(plat::VK_ESCAPE)) return -1;
    const bool offered = !n && suggestion && suggestion[0];
    if (offered && (TakeKeyboardKey(plat::VK_TAB) || TakeKeyboardKey(plat::VK_RETURN))) {
        std::snprintf(text, sizeof text, "%s", suggestion);
        cursor = std::strlen(text);
        return 0;
    }
    if (TakeKeyboardKey(plat::VK_RETURN)) return n ? 1 : 0;
    if (TakeKeyboardKey(plat::VK_LEFT) && cursor > 0) cursor--;
    if (TakeKeyboardKey(plat::VK_RIGHT) && cursor < n) cursor++;
    if (TakeKeyboardKey(plat::VK_HOME)) cursor = 0;
    if (TakeKeyboardKey(plat::VK_END)) cursor = n;
    if (TakeKeyboardKey(plat::VK_BACK) && cursor > 0) {
        std::memmove(text + cursor - 1, text + cursor, n - cursor + 1);
        cursor--;
    }
    if (TakeKeyboardKey(plat::VK_DELETE) && cursor < std::strlen(text))
        std::memmove(text + cursor, text + cursor + 1, std::strlen(text) - cursor);
    // Letters, digits, '.', '-' and ':' (the ';' key gives ':' as well).
    static const struct {
        uint32_t vk;
        char c;
    } kExtra[] = {
        {plat::VK_OEM_PERIOD, '.'}, {plat::VK_DECIMAL, '.'}, {plat::VK_OEM_MINUS, '-'}, {plat::VK_OEM_1, ':'}};
    for (uint32_t vk = 0; vk < 256; vk++) {
        char c = 0;
        if (vk >= '0' && vk <= '9') c = char(vk);
        if (vk >= plat::VK_NUMPAD0 && vk <= plat::VK_NUMPAD0 + 9) c = char('0' + vk - plat::VK_NUMPAD0);
        if (!digitsOnly && vk >= 'A' && vk <= 'Z') c = char(std::tolower(int(vk)));
        for (const auto& extra : kExtra)
            if (!digitsOnly && extra.vk == vk) c = extra.c;
        const size_t length = std::strlen(text);
        if (!c || !TakeKeyboardKey(vk) || length + 1 >= sizeof text) continue;
        std::memmove(text + cursor + 1, text + cursor, length - cursor + 1);
        text[cursor++] = c;
    }
    return 0;
}

// A line to type: the text (or its greyed suggestion) with a bar where the
// next character goes.
bool COnline::EditLine(const char* title, LineEdit* line) {
    constexpr int kTitleY = 160, kLineY = 200, kHintY = 260;
    theApp.ClearKeys();
    for (;;) {
        theApp.StartFrame();
        theApp.DrawBackground(true);
        DrawUpper(kTitleY, title, kTitleColor);
        char shown[sizeof line->text];
        const bool offered = !line->text[0] && line->suggestion && line->suggestion[0];
        Upper(offered ? line->suggestion : line->text, shown, sizeof shown);
        theApp.DrawText(kBackBuffer, 0, kLineY, shown, offered ? kGreyColor : kTextColor, true, 0);
        char before[sizeof line->text];
        std::snprintf(before, sizeof before, "%.*s", int(line->cursor), line->text);
        const int x = kScreenWidth / 2 - CApp::TextWidth(shown) / 2 + CApp::TextWidth(before);
        theDirectDraw.FillRect(kBackBuffer, x - 1, kLineY - 1, 2, 18, kOutlineIndex);
        DrawUpper(kHintY, offered ? "TAB OR RETURN: TAKE IT   ESC: BACK" : "RETURN: GO   ESC: BACK", kTitleColor);
        menu::EndFrame();
        const int result = line->Keys();
        if (result) return result > 0;
    }
}

bool COnline::PromptAddress() {
    LineEdit line{};
    line.suggestion = m_lastAddress[0] ? m_lastAddress : nullptr;
    if (!EditLine("HOST ADDRESS", &line)) return false;
    std::snprintf(plan.address, sizeof plan.address, "%s", line.text);
    return true;
}

bool COnline::PromptPort() {
    for (;;) {
        LineEdit line{};
        char suggestion[8];
        std::snprintf(suggestion, sizeof suggestion, "%u", unsigned(plan.port));
        line.suggestion = suggestion;
        line.digitsOnly = true;
        if (!EditLine("HOST ON PORT", &line)) return false;
        const long port = std::strtol(line.text, nullptr, 10);
        if (port >= 1 && port <= 65535) {
            plan.port = uint16_t(port);
            return true;
        }
        ShowMessage("A port is a number from 1 to 65535.");
    }
}

// A message on a clean screen, in lines that fit, until a key is pressed.
void COnline::ShowMessage(const char* text) {
    if (!text || !text[0]) return;
    std::fprintf(stderr, "online: %s\n", text);
    char lines[4][kMessageLineChars + 1] = {};
    int count = 0;
    for (const char* at = text; *at && count < 4; count++) {
        size_t n = std::strlen(at);
        if (n > size_t(kMessageLineChars)) {
            n = kMessageLineChars;
            while (n > 0 && at[n] != ' ') n--;
            if (n == 0) n = kMessageLineChars;
        }
        std::snprintf(lines[count], sizeof lines[count], "%.*s", int(n), at);
        at += n;
        while (*at == ' ') at++;
    }
    theApp.ClearKeys();
    theApp.anyKeyFlag = 0;
    while (!theApp.anyKeyFlag) {
        theApp.StartFrame();
        theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
        theApp.DrawBackground(true);
        for (int i = 0; i < count; i++) DrawUpper(200 + 32 * i - 16 * (count - 1), lines[i], kWarningColor);
        DrawUpper(kNoteY - 28, "PRESS A KEY", kTitleColor);
        menu::EndFrame();
    }
    theApp.ClearKeys();
    m_note[0] = 0;
}

bool COnline::CanStartMatch(char* why, size_t size) const {
    int players = 0;
    for (int s = 0; s < kPlayers; s++) {
        if (session.seatKinds[s] == SEAT_REMOTE && session.seatHolders[s] == kNoHolder)
            return std::snprintf(why, size, "Seat %dP is remote and not taken yet.", s + 1), false;
        if (session.seatKinds[s] != SEAT_NON) players++;
    }
    if (players < 2) return std::snprintf(why, size, "A match needs two seats or more."), false;
    return true;
}

// The machines of the match in the lobby's order (the host first).
int COnline::LobbyMachines(int* numbers) const {
    int count = 0;
    for (int k = 0; k < kNetLinksMax; k++)
        if (session.Link(k).name[0]) numbers[count++] = k;
    return count;
}

// The host's lobby keys: seats (Left and Right change a seat's kind),
// "START", and the joined machines (Delete removes one).
void COnline::HostKeys(int* cursor) {
    int machines[kNetLinksMax];
    // The seats, START, and the machines after the host's own.
    const int rows = kLobbyStartLine + LobbyMachines(machines);
    *cursor = std::min(*cursor, rows - 1);
    if (TakeKey(plat::VK_UP)) *cursor = (*cursor + rows - 1) % rows;
    if (TakeKey(plat::VK_DOWN)) *cursor = (*cursor + 1) % rows;
    const int step = (TakeKey(plat::VK_RIGHT) ? 1 : 0) - (TakeKey(plat::VK_LEFT) ? 1 : 0);
    if (step && *cursor < kLobbyStartLine) {
        theDirectSound.Play(SE_CUR_MOVE, 0, 0);
        session.SetSeatKind(*cursor, uint8_t((session.seatKinds[*cursor] + SEAT_KIND_END + step) % SEAT_KIND_END));
    }
    if (*cursor > kLobbyStartLine && TakeKey(plat::VK_DELETE)) {
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        session.Remove(machines[*cursor - kLobbyStartLine]);
    }
}

void COnline::DrawLobby(int cursor) {
    theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);  // a round that stopped may have left a clip
    theApp.DrawBackground(true);
    const bool host = session.Role() == SESSION_HOST;
    DrawUpper(kHeadY, "ONLINE LOBBY", kTitleColor);
    char line[100];
    if (host)
        std::snprintf(line, sizeof line, "HOSTING ON PORT %u", unsigned(plan.port));
    else
        std::snprintf(line, sizeof line, "%s %.60s", session.Welcomed() ? "JOINED" : "JOINING", plan.address);
    DrawUpper(kSubY, line, kTitleColor);
    for (int s = 0; s < kPlayers; s++) {
        SeatText(session, s, line, sizeof line);
        DrawUpper(kSeatY + kSeatStep * s, line, uint8_t(s));
    }
    DrawUpper(kStartY, host ? "START" : session.Welcomed() ? "WAITING FOR THE HOST" : "", kTextColor);
    int machines[kNetLinksMax];
    const int count = LobbyMachines(machines);
    char lines[kNetLinksMax][64];
    for (int row = 0; row < count; row++) {
        const int k = machines[row];
        const MachineLink& link = session.Link(k);
        char seats[16] = "";
        for (int s = 0; s < kPlayers; s++) {
            const bool held = k == 0 ? session.seatKinds[s] == SEAT_LOCAL : ((link.seatBits >> s) & 1) != 0;
            if (held) std::snprintf(seats + std::strlen(seats), 4, "%dP", s + 1);
        }
        // This machine's own row is marked.
        const bool own = !host && k == session.MachineNumber();
        std::snprintf(lines[row], sizeof lines[row], "%s%-12.12s %4uMS %s%s", own ? "> " : "", link.name,
                      unsigned(k == 0 ? 0 : link.srttMs), seats[0] ? seats : "WATCH", own ? " <" : "");
        DrawUpper(kMachinesY + kMachineStep * row, lines[row], own ? kTextColor : kTitleColor);
    }
    if (host) {
        char upper[100];
        if (cursor < kLobbyStartLine) SeatText(session, cursor, line, sizeof line);
        const int row = cursor - kLobbyStartLine;  // 0: START, then the machines after the host's own
        const char* shown = cursor < kLobbyStartLine ? line : row == 0 ? "START" : row < count ? lines[row] : "";
        Upper(shown, upper, sizeof upper);
        const int y = cursor < kLobbyStartLine ? kSeatY + kSeatStep * cursor
                      : row == 0               ? kStartY
                                               : kMachinesY + kMachineStep * row;
        menu::HighlightEntry(upper, y - 4);
    }
    DrawUpper(kNoteY - 28,
              host ? (cursor > kLobbyStartLine ? "DEL: REMOVE   ESC: CLOSE THE MATCH"
                                               : "RETURN: START   ESC: CLOSE THE MATCH")
                   : "ESC: LEAVE",
              kTitleColor);
    if (m_note[0]) DrawUpper(kNoteY, m_note, kWarningColor);
}

// What the player is told when the match is over for this machine: nothing
// when the player left; for a data set refusal, the file that differs.
void COnline::EndNote() {
    if (session.EndWhy() == STOP_LEFT) return;
    std::snprintf(m_note, sizeof m_note, "%s", session.EndText());
    for (int part = 0; part < kNetDataParts; part++) {
        int count = 0;
        const uint32_t* files = session.DataFiles(part, &count);
        if (files && DifferingFileText(part, files, count, m_note, sizeof m_note)) return;
    }
}

// A joining machine's lobby: waits for the welcome (within the join's time
// limit), then for the host's match. False when it is over.
bool COnline::ClientLobbyGoesOn(uint32_t openedMs) {
    if (session.HostLost()) return EndNote(), false;
    if (!session.Welcomed()) {
        const uint32_t now = plat::TimeMs();
        if (!session.HostAnswered() && now - openedMs > kJoinLimitMs) {
            std::snprintf(m_note, sizeof m_note, "No answer from %.60s within 5 s.", plan.address);
            return false;
        }
        if (session.HostAnswered() && now - session.Link(0).connectedMs > kJoinLimitMs) {
            std::snprintf(m_note, sizeof m_note, "The host answered but did not let this machine in within 5 s.");
            return false;
        }
        return true;
    }
    NetMessage m;
    const bool menu = session.PeekMenu(&m);
    if (menu && m.screen == SCREEN_LOBBY) session.TakeMenu(&m);
    if (!session.RoundStarting() && !(menu && m.screen != SCREEN_LOBBY)) return true;
    ClientMatch();
    if (session.HostLost()) return EndNote(), false;
    return !m_note[0];
}

// The lobby, until the player leaves or the match is over. The host changes
// seats, removes machines and starts matches; a joining machine waits for the
// host's match.
void COnline::Lobby() {
    int cursor = kLobbyStartLine;
    const uint32_t openedMs = plat::TimeMs();
    theApp.ClearKeys();
    for (;;) {
        theApp.StartFrame();
        if (session.Role() == SESSION_CLIENT) {
            if (!ClientLobbyGoesOn(openedMs)) return;
            if (TakeKey(plat::VK_ESCAPE) && (!session.Welcomed() || OnlineConfirmLeave())) return;
        } else {
            HostKeys(&cursor);
            if (cursor == kLobbyStartLine && TakeKey(plat::VK_RETURN)) {
                if (CanStartMatch(m_note, sizeof m_note)) {
                    theDirectSound.Play(SE_CUR_OK, 0, 0);
                    m_note[0] = 0;
                    HostMatch();
                    theApp.ClearKeys();
                    continue;
                }
            }
            // The round-trip times shown to everyone stay fresh.
            static uint32_t lastLobbyMs = 0;
            if (plat::TimeMs() - lastLobbyMs > 1000) session.SendLobby(), lastLobbyMs = plat::TimeMs();
            if (TakeKey(plat::VK_ESCAPE)) return;
        }
        DrawLobby(cursor);
        menu::EndFrame();
    }
}

// ---- matches ----------------------------------------------------------------------

// The host's settings apply for the match; this machine's own come back after it.
void COnline::BeginMatch() {
    for (int s = 0; s < S_COUNT; s++) m_savedSettings[s] = FetchValue(SettingAt(s));
    SetOnlineMenuSession(&session);
    theRound.ResetMatch();
    theBgm.Close();
}

void COnline::EndMatch() {
    SetOnlineMenuSession(nullptr);
    for (int s = 0; s < S_COUNT; s++) StoreValue(SettingAt(s), m_savedSettings[s]);
    theItemManager.BuildPool();
    theReplay.feed = nullptr;
    theBgm.Stop();
    theApp.ClearKeys();
}

// The intro shows the seats as they will play.
void SeatsAsTheyPlay(const CSession& session) {
    for (int s = 0; s < kPlayers; s++)
        theRound.players[s].type = SeatPlayerType(session.seatKinds[s], session.seatHolders[s] != kNoHolder);
}

void COnline::HostMatch() {
    BeginMatch();
    const int32_t matchRounds = theRound.matchRounds;  // the host's, as the match began
    for (;;) {
        SeatsAsTheyPlay(session);
        if (theRoundIntro.Run() == INTRO_EXIT) break;
        theStageSelect.Run();
        if (theStageSelect.cursor == SELECT_EXIT) {
            theStageSelect.cursor = 0;
            break;
        }
        const RoundStart chosen = ChosenRoundStart();
        theItemManager.BuildPool();
        NetRoundStart start;
        MakeRoundStart(session, chosen, theBgm.playing ? theStageSelect.playingBgm : -1, &start);
        for (int s = 0; s < kPlayers; s++) theRound.players[s].type = start.seatTypes[s];
        session.BeginRound(&start, FrameUs(), plat::TimeMs());
        theReplay.feed = &session;
        const int result = theRound.Run(chosen);
        theReplay.feed = nullptr;
        session.EndRound();
        if (result == ROUND_EXIT) break;
        theApp.WaitFrame(0);
        theRound.NextRound();
        if (matchRounds > 0 && theRound.roundCounter >= matchRounds) {
            theFinalStandings.Run();
            break;
        }
    }
    session.SendMenu(SCREEN_LOBBY, 0, 0);
    EndMatch();
}

// A joining machine's part: the screens the host opens, the rounds it starts.
void COnline::ClientMatch() {
    BeginMatch();
    while (!session.HostLost()) {
        if (session.RoundStarting()) {
            if (!ClientRound()) break;
            continue;
        }
        NetMessage m;
        if (session.PeekMenu(&m)) {
            if (m.screen == SCREEN_INTRO) {
                if (theRound.roundCounter == 0) SeatsAsTheyPlay(session);
                theRoundIntro.Run();
            } else if (m.screen == SCREEN_SELECTOR) {
                theStageSelect.Run();
                theStageSelect.cursor = 0;
            } else if (m.screen == SCREEN_STANDINGS) {
                theFinalStandings.Run();
            } else {
                session.TakeMenu(&m);  // the match is over, or a screen of a round this machine did not play
                if (m.screen == SCREEN_LOBBY) break;
            }
            continue;
        }
        theApp.StartFrame();
        theApp.DrawBackground(true);
        DrawUpper(224, "WAITING FOR THE HOST", kTitleColor);
        if (TakeKey(plat::VK_ESCAPE) && OnlineConfirmLeave()) session.Leave();
        menu::EndFrame();
    }
    EndMatch();
}

// A round the host started. False when the match is over for this machine:
// its round stopped (the host is gone or let it go; the reason is the
// session's), or the round cannot be played here.
bool COnline::ClientRound() {
    const NetRoundStart start = session.StartRecord();
    session.TakeRoundStart();
    RoundStart chosen;
    char why[kNetTextMax + 1];
    if (!ApplyRoundStart(start, theStageSelect.stages, theStageSelect.stageCount, &chosen, why, sizeof why)) {
        std::snprintf(m_note, sizeof m_note, "%s", why);
        return false;
    }
    CStageSelect& select = theStageSelect;
    if (start.bgm >= 0 && start.bgm < select.bgmCount) {
        if (select.playingBgm != start.bgm || !theBgm.playing) select.PlayBgm(start.bgm);
    } else {
        theBgm.Stop();
    }
    NetRoundStart mine = start;
    session.BeginRound(&mine, FrameUs(), plat::TimeMs());
    theReplay.feed = &session;
    theRound.Run(chosen);
    theReplay.feed = nullptr;
    session.EndRound();
    if (session.Stopped() || session.HostLost()) return false;
    theApp.WaitFrame(0);
    theRound.NextRound();
    return true;
}
