#include "server/directory.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "net/wire.h"
#include "platform/server/redis.h"
#include "server/log.h"

namespace {

constexpr int kRedisTimeoutMs = 200;

std::string CodeKey(const std::string& code) { return "nuvel:code:" + code; }
std::string PublicKey(const std::string& code) { return "nuvel:pub:" + code; }
std::string WrongKey(uint32_t ip) { return "nuvel:wrong:" + std::to_string(ip); }
const char kPublicSet[] = "nuvel:public";

std::string AddressText(const plat::NetAddress& a) {
    char text[plat::kNetAddressTextMax];
    plat::FormatNetAddress(a, text);
    return text;
}

// "total free round rtt name" as the list stores it.
std::string ListedText(const RvListedRoom& r) {
    return std::to_string(r.info.seatsTotal) + " " + std::to_string(r.info.seatsFree) + " " +
           std::to_string(r.info.round) + " " + std::to_string(r.info.hostRttMs) + " " + r.name;
}

// The same back; what another server wrote is checked like a message.
bool ReadListed(const std::string& code, const std::string& text, RvListedRoom* out) {
    unsigned total = 0, freeSeats = 0, round = 0, rtt = 0;
    int used = 0;
    if (std::sscanf(text.c_str(), "%u %u %u %u %n", &total, &freeSeats, &round, &rtt, &used) != 4) return false;
    const char* name = text.c_str() + used;
    if (total < 1 || total > kRvSeatsMax || freeSeats > total || round > 0xFFFF || rtt > 0xFFFF ||
        !WireTextOk(name, kRvNameMax) || code.size() != kRvCodeLength)
        return false;
    *out = RvListedRoom{};
    std::memcpy(out->code, code.c_str(), kRvCodeLength + 1);
    out->info = RvRoomInfo{1, uint8_t(total), uint8_t(freeSeats), uint16_t(round), uint16_t(rtt)};
    std::strcpy(out->name, name);
    return true;
}

}  // namespace

bool CDirectory::UseRedis(const char* host, uint16_t port, const plat::NetAddress& self) {
    if (!plat::RedisConnect(host, port, kRedisTimeoutMs)) return false;
    std::vector<plat::RedisReply> replies;
    if (!plat::RedisRun({{"PING"}}, &replies) || replies[0].error) return false;
    m_shared = true;
    m_redisHost = host;
    m_redisPort = port;
    m_self = AddressText(self);
    return true;
}

bool CDirectory::RedisUp() const { return m_shared && plat::RedisIsConnected(); }

void CDirectory::Lost() {
    if (!m_lost)
        ServerLog(log, "directory: Redis at %s:%u does not answer; going on with this server's rooms",
                  m_redisHost.c_str(), unsigned(m_redisPort));
    m_lost = true;
}

bool CDirectory::Claim(const char* code, int room, uint64_t nowUs) {
    if (m_entries.count(code)) return false;
    if (RedisUp()) {
        std::vector<plat::RedisReply> r;
        if (!plat::RedisRun({{"SET", CodeKey(code), m_self, "NX", "EX", std::to_string(kKeySeconds)}}, &r))
            Lost();
        else if (r[0].nil)
            return false;  // another server holds it
    }
    Entry e{room, RvListedRoom{}, nowUs};
    std::memcpy(e.listed.code, code, kRvCodeLength + 1);
    m_entries[code] = e;
    m_refreshOrder.push_back(code);
    return true;
}

void CDirectory::Describe(const char* code, const RvRoomInfo& info, const char* name) {
    auto it = m_entries.find(code);
    if (it == m_entries.end()) return;
    RvListedRoom& listed = it->second.listed;
    const bool changed = !(listed.info == info) || std::strcmp(listed.name, name) != 0;
    listed.info = info;
    std::snprintf(listed.name, sizeof listed.name, "%s", name);
    if (changed) Publish(it->second);
}

// Tells Redis what the list shows of a room (or that it is not listed).
void CDirectory::Publish(const Entry& e) {
    if (!RedisUp()) return;
    const std::string code = e.listed.code;
    std::vector<plat::RedisCommand> commands = {{"SET", CodeKey(code), m_self, "EX", std::to_string(kKeySeconds)}};
    if (e.listed.info.isPublic) {
        commands.push_back({"SET", PublicKey(code), ListedText(e.listed), "EX", std::to_string(kKeySeconds)});
        commands.push_back({"ZADD", kPublicSet, "0", code});
    } else {
        commands.push_back({"DEL", PublicKey(code)});
        commands.push_back({"ZREM", kPublicSet, code});
    }
    std::vector<plat::RedisReply> r;
    if (!plat::RedisRun(commands, &r)) Lost();
}

void CDirectory::Release(const char* code) {
    if (!m_entries.erase(code)) return;
    if (!RedisUp()) return;
    std::vector<plat::RedisReply> r;
    if (!plat::RedisRun({{"DEL", CodeKey(code), PublicKey(code)}, {"ZREM", kPublicSet, code}}, &r)) Lost();
}

int CDirectory::Find(const char* code, plat::NetAddress* elsewhere) {
    auto it = m_entries.find(code);
    if (it != m_entries.end()) return it->second.room;
    if (!RedisUp()) return kNowhere;
    std::vector<plat::RedisReply> r;
    if (!plat::RedisRun({{"GET", CodeKey(code)}}, &r)) {
        Lost();
        return kNowhere;
    }
    // An entry of this very server that it no longer has is stale (a
    // restart): nowhere.
    if (r[0].nil || r[0].text == m_self || !plat::ParseNetAddress(r[0].text.c_str(), 0, elsewhere) ||
        elsewhere->port == 0)
        return kNowhere;
    return kElsewhere;
}

int CDirectory::SharedWrongCodes(uint32_t ip) {
    if (!RedisUp()) return 0;
    std::vector<plat::RedisReply> r;
    if (!plat::RedisRun({{"GET", WrongKey(ip)}}, &r)) {
        Lost();
        return 0;
    }
    return r[0].nil ? 0 : std::atoi(r[0].text.c_str());
}

void CDirectory::ChargeWrongCode(uint32_t ip) {
    if (!RedisUp()) return;
    std::vector<plat::RedisReply> r;
    if (!plat::RedisRun({{"INCR", WrongKey(ip)}, {"EXPIRE", WrongKey(ip), "60", "NX"}}, &r)) Lost();
}

int CDirectory::List(int first, RvListedRoom* out, int max, int* total) {
    int n = 0;
    if (!RedisUp()) {
        // This server's public rooms, in code order.
        *total = 0;
        for (const auto& [code, e] : m_entries) {
            if (!e.listed.info.isPublic) continue;
            if (*total >= first && n < max) out[n++] = e.listed;
            ++*total;
        }
        return n;
    }
    std::vector<plat::RedisReply> r;
    if (!plat::RedisRun(
            {{"ZCARD", kPublicSet}, {"ZRANGE", kPublicSet, std::to_string(first), std::to_string(first + max - 1)}},
            &r)) {
        Lost();
        *total = 0;
        return 0;
    }
    *total = int(r[0].integer);
    const std::vector<std::string> codes = r[1].items;
    if (codes.empty()) return 0;
    plat::RedisCommand get = {"MGET"};
    for (const std::string& code : codes) get.push_back(PublicKey(code));
    if (!plat::RedisRun({get}, &r)) {
        Lost();
        return 0;
    }
    // Rooms whose server stopped refreshing them have expired: they leave the list.
    plat::RedisCommand gone = {"ZREM", kPublicSet};
    for (size_t k = 0; k < codes.size() && k < r[0].items.size(); k++)
        if (!ReadListed(codes[k], r[0].items[k], &out[n]))
            gone.push_back(codes[k]);
        else
            n++;
    if (gone.size() > 2 && !plat::RedisRun({gone}, &r)) Lost();
    return n;
}

void CDirectory::Service(uint64_t nowUs) {
    if (!m_shared) return;
    if (!plat::RedisIsConnected()) {
        if (nowUs - m_lostUs < kReconnectUs) return;
        m_lostUs = nowUs;
        if (!plat::RedisConnect(m_redisHost.c_str(), m_redisPort, kRedisTimeoutMs)) return Lost();
        ServerLog(log, "directory: Redis at %s:%u answers again", m_redisHost.c_str(), unsigned(m_redisPort));
        m_lost = false;
        for (auto& [code, e] : m_entries) e.refreshedUs = 0;  // everything is due
    }
    // The oldest refresh first; a code released meanwhile is skipped.
    for (size_t n = m_refreshOrder.size(); n > 0 && plat::RedisIsConnected(); n--) {
        const std::string code = m_refreshOrder.front();
        auto it = m_entries.find(code);
        if (it != m_entries.end() && nowUs - it->second.refreshedUs < kRefreshUs) break;
        m_refreshOrder.pop_front();
        if (it == m_entries.end()) continue;
        it->second.refreshedUs = nowUs;
        Publish(it->second);
        m_refreshOrder.push_back(code);
    }
    if (!plat::RedisIsConnected()) m_lostUs = nowUs;
}
