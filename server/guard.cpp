#include "server/guard.h"

#include <cstring>

namespace {

uint64_t Rotl(uint64_t x, int b) { return (x << b) | (x >> (64 - b)); }

struct SipState {
    uint64_t v0, v1, v2, v3;
    void Round() {
        v0 += v1, v1 = Rotl(v1, 13), v1 ^= v0, v0 = Rotl(v0, 32);
        v2 += v3, v3 = Rotl(v3, 16), v3 ^= v2;
        v0 += v3, v3 = Rotl(v3, 21), v3 ^= v0;
        v2 += v1, v1 = Rotl(v1, 17), v1 ^= v2, v2 = Rotl(v2, 32);
    }
    void Absorb(uint64_t m) {
        v3 ^= m;
        Round(), Round();
        v0 ^= m;
    }
};

uint64_t Le64(const uint8_t* p, size_t n) {
    uint64_t v = 0;
    for (size_t k = 0; k < n; k++) v |= uint64_t(p[k]) << (8 * k);
    return v;
}

}  // namespace

uint64_t SipHash(const uint64_t key[2], const void* data, size_t size) {
    SipState s{key[0] ^ 0x736f6d6570736575ull, key[1] ^ 0x646f72616e646f6dull, key[0] ^ 0x6c7967656e657261ull,
               key[1] ^ 0x7465646279746573ull};
    const uint8_t* p = static_cast<const uint8_t*>(data);
    size_t left = size;
    for (; left >= 8; p += 8, left -= 8) s.Absorb(Le64(p, 8));
    s.Absorb(Le64(p, left) | (uint64_t(size & 0xFF) << 56));
    s.v2 ^= 0xFF;
    for (int k = 0; k < 4; k++) s.Round();
    return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

uint64_t CAddressProof::Hash(const plat::NetAddress& address, uint64_t context, uint64_t window) const {
    const uint64_t words[3] = {uint64_t(address.ip) << 16 | address.port, context, window};
    uint64_t h = SipHash(m_key, words, sizeof words);
    return h ? h : 1;  // 0 means "none" in the messages
}

uint64_t CAddressProof::Make(const plat::NetAddress& address, uint64_t context, uint64_t nowUs) const {
    return Hash(address, context, nowUs / kWindowUs);
}

bool CAddressProof::Check(const plat::NetAddress& address, uint64_t context, uint64_t proof, uint64_t nowUs) const {
    const uint64_t window = nowUs / kWindowUs;
    return proof == Hash(address, context, window) || (window > 0 && proof == Hash(address, context, window - 1));
}

void CAddressLimits::Configure(const uint64_t key[2], int messagesPerSecond, int wrongCodesPerMinute) {
    m_key[0] = key[0], m_key[1] = key[1];
    m_perSecond = messagesPerSecond;
    m_wrongPerMinute = wrongCodesPerMinute;
    m_entries.assign(kEntries, Entry{});
}

CAddressLimits::Entry& CAddressLimits::Find(uint32_t ip, uint64_t nowUs) {
    // Where an address lives is scattered by a keyed hash of it, so that
    // nobody can pick addresses that crowd one place out.
    const uint32_t home = uint32_t(SipHash(m_key, &ip, sizeof ip)) % kEntries;
    Entry* victim = nullptr;
    for (int k = 0; k < kProbe; k++) {
        Entry& e = m_entries[(home + k) % kEntries];
        if (e.used && e.ip == ip) return e;
        // A free entry, else the one idle longest.
        if (!victim || (victim->used && (!e.used || e.lastUs < victim->lastUs))) victim = &e;
    }
    *victim = Entry{ip, true, nowUs, 2000ll * m_perSecond, nowUs, 0};
    return *victim;
}

bool CAddressLimits::AllowMessage(uint32_t ip, uint64_t nowUs) {
    Entry& e = Find(ip, nowUs);
    const int64_t burst = 2000ll * m_perSecond;
    const uint64_t elapsedUs = nowUs - e.lastUs;
    e.lastUs = nowUs;
    // Refill at m_perSecond messages a second (a thousandth a millisecond each).
    const int64_t refill = int64_t(elapsedUs > 10000000 ? 10000000 : elapsedUs) * m_perSecond / 1000;
    e.tokensMilli = e.tokensMilli + refill > burst ? burst : e.tokensMilli + refill;
    if (e.tokensMilli < 1000) return false;
    e.tokensMilli -= 1000;
    return true;
}

bool CAddressLimits::MayTryCode(uint32_t ip, uint64_t nowUs) {
    Entry& e = Find(ip, nowUs);
    if (nowUs - e.wrongWindowUs >= 60000000) e.wrongWindowUs = nowUs, e.wrongCodes = 0;
    return e.wrongCodes < m_wrongPerMinute;
}

void CAddressLimits::CountWrongCode(uint32_t ip, uint64_t nowUs) {
    Entry& e = Find(ip, nowUs);
    if (nowUs - e.wrongWindowUs >= 60000000) e.wrongWindowUs = nowUs, e.wrongCodes = 0;
    e.wrongCodes++;
}
