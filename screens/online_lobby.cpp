// COnline's screens: the online screen from the title, the join address,
// invite code and host port prompts, the room list, messages, and the lobby
// where the host seats the machines and starts the match.
#include "screens/online.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "graphics/directdraw.h"
#include "graphics/menu.h"
#include "online/onlineround.h"
#include "platform/net.h"
#include "screens/onlinetext.h"
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
// A join gives up when the host has not answered for this long: the
// transport's connection, and then the welcome.
constexpr uint32_t kJoinLimitMs = 5000;
constexpr int kLobbyStartLine = kPlayers;  // the lobby's cursor: seats 0..3, "START", then the machines
constexpr int kMessageLineChars = 38;

void SeatText(const CSession& s, int seat, char* text, size_t size) {
    const uint8_t holder = s.seatHolders[seat];
    const char* who = s.seatKinds[seat] == SEAT_REMOTE
                          ? (holder != kNoHolder && s.Link(holder).name[0] ? s.Link(holder).name : "FREE")
                      : s.seatKinds[seat] == SEAT_LOCAL ? s.Link(0).name
                                                        : "";
    std::snprintf(text, size, "%dP <_%s_> %s", seat + 1, SeatKindName(s.seatKinds[seat]), who);
}

}  // namespace

// ---- screens -----------------------------------------------------------------------

void COnline::Launch(const OnlinePlan& launch) {
    plan = launch;
    // With the settings file's match server, a join's text without a dot or a
    // colon that reads as an invite code is one.
    char code[kRvCodeLength + 1];
    if (plan.mode == OnlinePlan::JOIN && !plan.byCode && theApp.matchServer[0] && !std::strpbrk(plan.address, ".:") &&
        RvNormaliseCode(plan.address, code)) {
        std::snprintf(plan.address, sizeof plan.address, "%s", code);
        plan.byCode = true;
    }
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
    if (!plat::NetAvailable()) {
        ShowMessage("ONLINE PLAY NEEDS THE DESKTOP GAME");
        return;
    }
    // With a match server the screen gains hosting through it (invite only
    // or listed), joining by code and the room list; without one it is the
    // screen of direct play.
    enum Row : uint8_t { HOST, HOST_ON_SERVER, JOIN_BY_CODE, ROOM_LIST, JOIN, WATCH, BACK };
    static const Row kDirect[] = {HOST, JOIN, WATCH, BACK};
    static const Row kServer[] = {HOST_ON_SERVER, JOIN_BY_CODE, ROOM_LIST, JOIN, WATCH, BACK};
    const bool server = MatchServerText(plan)[0] != 0;
    const Row* rows = server ? kServer : kDirect;
    const int count = server ? int(std::size(kServer)) : int(std::size(kDirect));
    const Row first = plan.mode != OnlinePlan::JOIN ? rows[0]
                      : plan.watch                  ? WATCH
                      : server && plan.byCode       ? JOIN_BY_CODE
                                                    : JOIN;
    int cursor = int(std::find(rows, rows + count, first) - rows);
    theApp.ClearKeys();
    for (;;) {
        char texts[std::size(kServer)][32];
        for (int i = 0; i < count; i++) {
            static const char* const kNames[] = {"HOST A GAME",  "",    "JOIN BY CODE", "ROOM LIST", "",
                                                 "WATCH A GAME", "BACK"};
            std::snprintf(texts[i], sizeof texts[i], "%s", kNames[rows[i]]);
            if (rows[i] == HOST_ON_SERVER)
                std::snprintf(texts[i], sizeof texts[i], "HOST <_%s_>", plan.isPublic ? "PUBLIC" : "INVITE ONLY");
            if (rows[i] == JOIN) std::snprintf(texts[i], sizeof texts[i], server ? "JOIN BY ADDRESS" : "JOIN A GAME");
        }
        theApp.StartFrame();
        theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
        theApp.DrawBackground(true);
        DrawUpper(kHeadY + 60, "ONLINE", kTitleColor);
        const int top = 200 - 16 * (count - 4);
        for (int i = 0; i < count; i++)
            DrawUpper(top + 32 * i, texts[i], uint8_t(rows[i] == BACK ? kWarningColor : kTextColor));
        menu::HighlightEntry(texts[cursor], top - 4 + 32 * cursor);
        if (server)
            DrawUpper(kNoteY, "MATCH SERVER", kGreyColor), DrawUpper(kNoteY + 16, MatchServerText(plan), kGreyColor);
        menu::EndFrame();
        if (TakeKey(plat::VK_UP)) cursor = (cursor + count - 1) % count;
        if (TakeKey(plat::VK_DOWN)) cursor = (cursor + 1) % count;
        const Row row = rows[cursor];
        if (row == HOST_ON_SERVER && (TakeKey(plat::VK_LEFT) || TakeKey(plat::VK_RIGHT))) {
            theDirectSound.Play(SE_CUR_MOVE, 0, 0);
            plan.isPublic = !plan.isPublic;
        }
        if (TakeKey(plat::VK_ESCAPE) || (row == BACK && TakeKey(plat::VK_RETURN))) break;
        if (!TakeKey(plat::VK_RETURN)) continue;
        theDirectSound.Play(SE_CUR_OK, 0, 0);
        plan.mode = row == HOST || row == HOST_ON_SERVER ? OnlinePlan::HOST : OnlinePlan::JOIN;
        plan.watch = row == WATCH;
        plan.byCode = row == JOIN_BY_CODE || row == ROOM_LIST;
        if (row == ROOM_LIST) {
            if (!RoomListScreen()) continue;
        } else if (row == JOIN_BY_CODE     ? !PromptCode()
                   : row == HOST           ? !PromptPort()
                   : row == HOST_ON_SERVER ? false
                                           : !PromptAddress()) {
            continue;
        }
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

// The public matches on the server, a page at a time (Left and Right turn
// pages), asked for again every few seconds; Return joins the one chosen.
bool COnline::RoomListScreen() {
    constexpr int kRowsY = 96, kRowStep = 16;
    constexpr uint32_t kRefreshMs = 3000;
    const char* text = MatchServerText(plan);
    plat::NetAddress server{};
    if (!plat::NetStart() || !plat::NetOpen() || !plat::NetRawAttach()) {
        plat::NetClose();
        ShowMessage("The network cannot be used.");
        return false;
    }
    if (!plat::ResolveNetAddress(text, kRvDefaultPort, &server)) {
        plat::NetClose();
        char message[kNetTextMax + 1];
        std::snprintf(message, sizeof message, "The match server %.60s is not known.", text);
        ShowMessage(message);
        return false;
    }
    uint32_t askedMs = plat::TimeMs();
    m_link.StartList(server, askedMs);
    int cursor = 0;
    uint16_t first = 0;
    bool chosen = false;
    theApp.ClearKeys();
    for (;;) {
        const uint32_t now = plat::TimeMs();
        static plat::NetEvent e;
        while (plat::NetPoll(&e)) {
        }
        static plat::NetRawDatagram raw;
        while (plat::NetRawPoll(&raw)) m_link.Receive(raw.from, raw.data, raw.size, now);
        m_link.Service(now);
        if (m_link.State() == LINK_READY && now - askedMs > kRefreshMs) m_link.RequestList(first, now), askedMs = now;
        static LinkDatagram out;
        while (m_link.TakeOutgoing(&out)) plat::NetRawSend(out.to, out.bytes, out.size);
        const RvMessage& page = m_link.ListPage();
        cursor = std::max(0, std::min(cursor, int(page.count) - 1));

        theApp.StartFrame();
        theDirectDraw.SetDestClip(0, 0, kScreenWidth, kScreenHeight);
        theApp.DrawBackground(true);
        char line[100];
        std::snprintf(line, sizeof line, "ROOM LIST  %u-%u OF %u", unsigned(page.count ? page.first + 1 : 0),
                      unsigned(page.first + page.count), unsigned(page.total));
        DrawUpper(kHeadY, line, kTitleColor);
        DrawUpper(kSubY, "CODE   HOST         FREE ROUND   MS", kGreyColor);
        char rows[kRvListPageMax][64];
        for (int k = 0; k < page.count; k++) {
            const RvListedRoom& r = page.rooms[k];
            std::snprintf(rows[k], sizeof rows[k], "%s %-12.12s %u/%u %5u %4u", r.code, r.name,
                          unsigned(r.info.seatsFree), unsigned(r.info.seatsTotal), unsigned(r.info.round),
                          unsigned(r.info.hostRttMs + m_link.ServerRttMs()));
            DrawUpper(kRowsY + kRowStep * k, rows[k], kTextColor);
        }
        if (page.count) {
            char upper[64];
            Upper(rows[cursor], upper, sizeof upper);
            menu::HighlightEntry(upper, kRowsY + kRowStep * cursor - 4);
        }
        const char* state = m_link.State() == LINK_FAILED   ? m_link.FailText()
                            : m_link.State() == LINK_ASKING ? "ASKING THE MATCH SERVER"
                            : !page.count                   ? "NO PUBLIC MATCHES JUST NOW"
                                                            : "";
        DrawUpper(kNoteY, state, kWarningColor);
        DrawUpper(kNoteY - 28, "RETURN: JOIN   LEFT, RIGHT: PAGES   ESC: BACK", kTitleColor);
        menu::EndFrame();

        if (TakeKey(plat::VK_ESCAPE)) break;
        if (page.count && TakeKey(plat::VK_UP)) cursor = (cursor + page.count - 1) % page.count;
        if (page.count && TakeKey(plat::VK_DOWN)) cursor = (cursor + 1) % page.count;
        const int turn = (TakeKey(plat::VK_RIGHT) ? 1 : 0) - (TakeKey(plat::VK_LEFT) ? 1 : 0);
        const int next = int(first) + turn * kRvListPageMax;
        if (turn && next >= 0 && next < page.total && m_link.State() == LINK_READY) {
            first = uint16_t(next);
            m_link.RequestList(first, now), askedMs = now;
        }
        if (page.count && TakeKey(plat::VK_RETURN)) {
            std::snprintf(plan.address, sizeof plan.address, "%s", page.rooms[cursor].code);
            chosen = true;
            break;
        }
    }
    m_link.Stop();
    static LinkDatagram bye;
    while (m_link.TakeOutgoing(&bye)) plat::NetRawSend(bye.to, bye.bytes, bye.size);
    plat::NetFlush();
    plat::NetClose();
    theApp.ClearKeys();
    return chosen;
}

bool COnline::PromptCode() {
    for (;;) {
        LineEdit line{};
        char last[kRvCodeLength + 1];
        line.suggestion = RvNormaliseCode(plan.address, last) ? plan.address : nullptr;
        if (!EditLine("INVITE CODE", &line)) return false;
        char code[kRvCodeLength + 1];
        if (RvNormaliseCode(line.text, code)) {
            std::snprintf(plan.address, sizeof plan.address, "%s", code);
            return true;
        }
        ShowMessage("An invite code is six letters and digits, such as K7QX3M.");
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
    if (host && m_linked && m_link.Code()[0])
        std::snprintf(line, sizeof line, "INVITE CODE %s   %s", m_link.Code(),
                      plan.isPublic ? "PUBLIC" : "INVITE ONLY");
    else if (host && m_linked && m_link.State() == LINK_ASKING)
        std::snprintf(line, sizeof line, "HOSTING ON PORT %u, ASKING FOR A CODE", unsigned(plan.port));
    else if (host)
        std::snprintf(line, sizeof line, "HOSTING ON PORT %u", unsigned(plan.port));
    else if (m_linked && !session.HostAnswered())
        std::snprintf(line, sizeof line, "FINDING %.60s", plan.address);
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
        // How the machine came through the match server: the host knows every
        // machine's way, a joining machine its own.
        const uint8_t kind = host ? m_kinds[k] : own ? m_kinds[0] : 0;
        std::snprintf(lines[row], sizeof lines[row], "%s%-12.12s %4uMS %s%s%s%s", own ? "> " : "", link.name,
                      unsigned(k == 0 ? 0 : link.srttMs), seats[0] ? seats : "WATCH", kind ? " " : "",
                      kind ? RvKindName(kind) : "", own ? " <" : "");
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
    if (!LinkLobbyGoesOn()) return false;
    if (!session.Welcomed()) {
        const uint32_t now = plat::TimeMs();
        // Through a match server the path to the host has time limits of its own.
        if (!session.HostAnswered() && !m_linked && now - openedMs > kJoinLimitMs) {
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
