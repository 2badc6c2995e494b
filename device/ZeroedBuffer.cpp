#include "device/ZeroedBuffer.h"

#include <sys/mman.h>

#include <cstring>
#include <new>

namespace tl {

ZeroedBuffer::ZeroedBuffer(size_t size) : m_size(size)
{
    if (size == 0)
        return;
    void *p = ::mmap(nullptr, size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (p == MAP_FAILED)
        throw std::bad_alloc();
    m_data = static_cast<uint8_t *>(p);
}

ZeroedBuffer::~ZeroedBuffer()
{
    if (m_data)
        ::munmap(m_data, m_size);
}

void ZeroedBuffer::clear()
{
    if (!m_data)
        return;
    // MADV_DONTNEED on private anonymous memory: the next read finds zeros.
    if (::madvise(m_data, m_size, MADV_DONTNEED) != 0)
        std::memset(m_data, 0, m_size);
}

} // namespace tl
