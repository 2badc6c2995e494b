#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace tl::codec {

// Bounds-checked little-endian reader over a byte buffer. A read that would pass
// the end of the buffer returns 0 and makes the reader fail for good, so a parser
// reads a whole record and checks ok() once at the end. Nothing here ever touches
// a byte outside [data, data + size).
class ByteReader
{
public:
    ByteReader(const uint8_t *data, size_t size) : m_data(data), m_size(data ? size : 0) {}

    bool ok() const { return m_ok; }
    size_t pos() const { return m_pos; }
    size_t size() const { return m_size; }
    size_t remaining() const { return m_pos <= m_size ? m_size - m_pos : 0; }

    // Moves to an absolute offset; an offset past the end fails the reader.
    ByteReader &seek(size_t offset)
    {
        if (offset > m_size)
            m_ok = false;
        else
            m_pos = offset;
        return *this;
    }
    ByteReader &skip(size_t n) { return seek(m_pos + n); }

    uint8_t u8() { uint8_t v = 0; take(&v, 1); return v; }
    int8_t i8() { return static_cast<int8_t>(u8()); }
    uint16_t u16()
    {
        uint8_t b[2] = {0, 0};
        take(b, 2);
        return static_cast<uint16_t>(b[0] | (b[1] << 8));
    }
    int16_t i16() { return static_cast<int16_t>(u16()); }
    uint32_t u32()
    {
        uint8_t b[4] = {0, 0, 0, 0};
        take(b, 4);
        return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
               (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    uint64_t u64()
    {
        uint8_t b[8] = {0, 0, 0, 0, 0, 0, 0, 0};
        take(b, 8);
        uint64_t v = 0;
        for (int i = 7; i >= 0; --i)
            v = (v << 8) | b[i];
        return v;
    }
    float f32()
    {
        const uint32_t bits = u32();
        float v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    double f64()
    {
        const uint64_t bits = u64();
        double v;
        std::memcpy(&v, &bits, sizeof v);
        return v;
    }
    // Copies n bytes into out; on failure out is zero-filled.
    bool bytes(uint8_t *out, size_t n) { return take(out, n); }

private:
    bool take(uint8_t *out, size_t n)
    {
        if (!m_ok || n > remaining()) {
            m_ok = false;
            if (out && n)
                std::memset(out, 0, n);
            return false;
        }
        if (n)
            std::memcpy(out, m_data + m_pos, n);
        m_pos += n;
        return true;
    }

    const uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

// Bounds-checked little-endian writer; the mirror of ByteReader. A write that
// does not fit writes nothing and fails the writer for good.
class ByteWriter
{
public:
    ByteWriter(uint8_t *data, size_t size) : m_data(data), m_size(data ? size : 0) {}

    bool ok() const { return m_ok; }
    size_t pos() const { return m_pos; }
    size_t remaining() const { return m_pos <= m_size ? m_size - m_pos : 0; }

    ByteWriter &seek(size_t offset)
    {
        if (offset > m_size)
            m_ok = false;
        else
            m_pos = offset;
        return *this;
    }
    ByteWriter &skip(size_t n) { return seek(m_pos + n); }

    ByteWriter &u8(uint8_t v) { put(&v, 1); return *this; }
    ByteWriter &i8(int8_t v) { return u8(static_cast<uint8_t>(v)); }
    ByteWriter &u16(uint16_t v)
    {
        const uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
        put(b, 2);
        return *this;
    }
    ByteWriter &i16(int16_t v) { return u16(static_cast<uint16_t>(v)); }
    ByteWriter &u32(uint32_t v)
    {
        const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                              static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
        put(b, 4);
        return *this;
    }
    ByteWriter &i32(int32_t v) { return u32(static_cast<uint32_t>(v)); }
    ByteWriter &u64(uint64_t v)
    {
        u32(static_cast<uint32_t>(v));
        return u32(static_cast<uint32_t>(v >> 32));
    }
    ByteWriter &f32(float v)
    {
        uint32_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return u32(bits);
    }
    ByteWriter &f64(double v)
    {
        uint64_t bits;
        std::memcpy(&bits, &v, sizeof bits);
        return u64(bits);
    }
    ByteWriter &bytes(const uint8_t *src, size_t n) { put(src, n); return *this; }
    ByteWriter &zeros(size_t n)
    {
        if (!m_ok || n > remaining()) {
            m_ok = false;
            return *this;
        }
        std::memset(m_data + m_pos, 0, n);
        m_pos += n;
        return *this;
    }

private:
    void put(const uint8_t *src, size_t n)
    {
        if (!m_ok || n > remaining() || (n && !src)) {
            m_ok = false;
            return;
        }
        if (n)
            std::memcpy(m_data + m_pos, src, n);
        m_pos += n;
    }

    uint8_t *m_data;
    size_t m_size;
    size_t m_pos = 0;
    bool m_ok = true;
};

} // namespace tl::codec
