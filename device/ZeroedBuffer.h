#pragma once

#include <cstddef>
#include <cstdint>

namespace tl {

// A zero-filled byte buffer of fixed size whose pages the kernel maps only when
// they are first touched. The two frame buffers (3.6 MB each) are filled only
// while an image or the alignment view runs; an idle driver must not hold them
// resident. Anonymous memory from mmap reads as zeros without being written.
class ZeroedBuffer
{
public:
    // Throws std::bad_alloc when the memory cannot be had, as a vector would.
    explicit ZeroedBuffer(size_t size);
    ~ZeroedBuffer();
    ZeroedBuffer(const ZeroedBuffer &) = delete;
    ZeroedBuffer &operator=(const ZeroedBuffer &) = delete;

    uint8_t *data() { return m_data; }
    const uint8_t *data() const { return m_data; }
    size_t size() const { return m_size; }
    // All bytes zero again; the pages are handed back to the kernel, so a
    // cleared buffer is not resident either.
    void clear();

private:
    uint8_t *m_data = nullptr;
    size_t m_size = 0;
};

} // namespace tl
