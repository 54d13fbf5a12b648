// Little-endian fields in and out of a datagram, for protocols whose encoder
// and decoder walk one field list (a template over the writer or the reader):
// the two classes have the same operations, so a layout is written once and
// both directions follow it. Any write past the capacity or of a value out of
// range spoils the writer; any read past the end makes the reader truncated,
// a value out of range makes it malformed.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>

// Printable ASCII (0x20..0x7E), at most max bytes: what names and texts may hold.
inline bool WireTextOk(const char* text, size_t max) {
    size_t n = 0;
    for (; text[n]; n++)
        if (n >= max || uint8_t(text[n]) < 0x20 || uint8_t(text[n]) > 0x7E) return false;
    return true;
}

class CWireWriter {
public:
    CWireWriter(uint8_t* out, size_t capacity) : m_out(out), m_capacity(capacity) {}
    static constexpr bool kReading = false;
    void U8(const uint8_t& v) { Put(v, 1); }
    void I8(const int8_t& v) { Put(uint8_t(v), 1); }
    void U16(const uint16_t& v) { Put(v, 2); }
    void U32(const uint32_t& v) { Put(v, 4); }
    void I32(const int32_t& v) { Put(uint32_t(v), 4); }
    void U64(const uint64_t& v) { Put(v, 8); }
    void Bytes(const uint8_t* p, size_t n) {
        if (!m_ok || m_capacity - m_size < n) {
            m_ok = false;
            return;
        }
        std::memcpy(m_out + m_size, p, n);
        m_size += n;
    }
    // A text: u8 length, then its bytes.
    void Text(const char* text, size_t max) {
        size_t n = strnlen(text, max + 1);
        Check(n <= max && WireTextOk(text, max));
        if (!m_ok) return;
        U8(uint8_t(n));
        Bytes(reinterpret_cast<const uint8_t*>(text), n);
    }
    // A count written before its records.
    void Count(const uint8_t& n, int max) { Check(n <= max), U8(n); }
    void Count16(const uint16_t& n, int max) { Check(n <= max), U16(n); }
    void Check(bool ok) { m_ok = m_ok && ok; }
    bool Good() const { return m_ok; }
    size_t Size() const { return m_size; }

private:
    void Put(uint64_t v, size_t n) {
        if (!m_ok || m_capacity - m_size < n) {
            m_ok = false;
            return;
        }
        for (size_t k = 0; k < n; k++) m_out[m_size++] = uint8_t(v >> (8 * k));
    }
    uint8_t* m_out;
    size_t m_capacity;
    size_t m_size = 0;
    bool m_ok = true;
};

class CWireReader {
public:
    CWireReader(const uint8_t* bytes, size_t size) : m_in(bytes), m_size(size) {}
    static constexpr bool kReading = true;
    void U8(uint8_t& v) { v = uint8_t(Get(1)); }
    void I8(int8_t& v) { v = int8_t(uint8_t(Get(1))); }
    void U16(uint16_t& v) { v = uint16_t(Get(2)); }
    void U32(uint32_t& v) { v = uint32_t(Get(4)); }
    void I32(int32_t& v) { v = int32_t(uint32_t(Get(4))); }
    void U64(uint64_t& v) { v = Get(8); }
    void Bytes(uint8_t* p, size_t n) {
        if (!Enough(n)) return;
        std::memcpy(p, m_in + m_at, n);
        m_at += n;
    }
    // A text into text[max + 1]; a NUL inside the counted bytes would cut it
    // short unseen, so it is malformed like any unprintable byte.
    void Text(char* text, size_t max) {
        uint8_t n = 0;
        U8(n);
        text[0] = 0;
        Check(n <= max);
        if (!Enough(n)) return;
        std::memcpy(text, m_in + m_at, n);
        text[n] = 0;
        m_at += n;
        Check(std::strlen(text) == n && WireTextOk(text, max));
    }
    void Count(uint8_t& n, int max) { U8(n), Check(n <= max); }
    void Count16(uint16_t& n, int max) { U16(n), Check(n <= max); }
    void Check(bool ok) { m_malformed = m_malformed || !ok; }
    bool Good() const { return !m_truncated && !m_malformed; }
    bool Truncated() const { return m_truncated; }
    // Malformed also when bytes are left over after the last field.
    bool Malformed() const { return m_malformed || (!m_truncated && m_at != m_size); }

private:
    bool Enough(size_t n) {
        if (!Good()) return false;
        if (m_size - m_at >= n) return true;
        m_truncated = true;
        return false;
    }
    uint64_t Get(size_t n) {
        if (!Enough(n)) return 0;
        uint64_t v = 0;
        for (size_t k = 0; k < n; k++) v |= uint64_t(m_in[m_at++]) << (8 * k);
        return v;
    }
    const uint8_t* m_in;
    size_t m_size;
    size_t m_at = 0;
    bool m_truncated = false;
    bool m_malformed = false;
};
