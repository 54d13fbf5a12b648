// What keeps the match server from being used against others or worn down:
// keyed hashes for cookies and relay challenges (a reply that proves an
// address receives what is sent to it, with no state kept before), and
// bounded per-address counters for message rates and wrong invite codes.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/netaddress.h"

// SipHash-2-4 of data under a 128-bit key: unforgeable without the key.
uint64_t SipHash(const uint64_t key[2], const void* data, size_t size);

// A secret proof that a datagram's sender receives at its address: a keyed
// hash of the address, some context and the time window. Accepted in the
// window it was made in and the one after.
class CAddressProof {
public:
    void SetKey(const uint64_t key[2]) { m_key[0] = key[0], m_key[1] = key[1]; }
    uint64_t Make(const plat::NetAddress& address, uint64_t context, uint64_t nowUs) const;
    bool Check(const plat::NetAddress& address, uint64_t context, uint64_t proof, uint64_t nowUs) const;
    static constexpr uint64_t kWindowUs = 30 * 1000000ull;

private:
    uint64_t Hash(const plat::NetAddress& address, uint64_t context, uint64_t window) const;
    uint64_t m_key[2] = {};
};

// Counters per IPv4 address (not per port: a flood may come from any port)
// in a fixed table: an address not seen for a while gives its entry up to a
// newcomer, so a flood from many addresses costs no memory and forgets only
// idle ones.
class CAddressLimits {
public:
    // messagesPerSecond sustained, with a burst of twice as many.
    void Configure(const uint64_t key[2], int messagesPerSecond, int wrongCodesPerMinute);
    // Counts a message; false when the address is over its rate.
    bool AllowMessage(uint32_t ip, uint64_t nowUs);
    // Whether the address may try another code; CountWrongCode charges one.
    bool MayTryCode(uint32_t ip, uint64_t nowUs);
    void CountWrongCode(uint32_t ip, uint64_t nowUs);
    static constexpr int kEntries = 1 << 14;
    static constexpr int kProbe = 4;

private:
    struct Entry {
        uint32_t ip;
        bool used;
        uint64_t lastUs;
        int64_t tokensMilli;  // thousandths of a message
        uint64_t wrongWindowUs;
        int wrongCodes;
    };
    Entry& Find(uint32_t ip, uint64_t nowUs);
    std::vector<Entry> m_entries = std::vector<Entry>(kEntries);
    uint64_t m_key[2] = {};
    int m_perSecond = 50;
    int m_wrongPerMinute = 10;
};
