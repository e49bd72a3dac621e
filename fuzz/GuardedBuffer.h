#pragma once

#include "fuzz/FuzzInput.h"

#include <cstddef>
#include <sys/mman.h>
#include <unistd.h>

namespace kestrel::fuzz {

// N bytes that end exactly where an inaccessible page begins: one byte
// written or read past them stops the run at that instruction.
template <std::size_t N>
class GuardedBuffer {
public:
    GuardedBuffer()
    {
        m_pageSize = static_cast<std::size_t>(::sysconf(_SC_PAGESIZE));
        m_mappedSize = ((N + m_pageSize - 1) / m_pageSize + 1) * m_pageSize;
        void* mapped = ::mmap(nullptr, m_mappedSize, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        Require(mapped != MAP_FAILED, "the guarded buffer can be mapped");
        m_mapped = static_cast<unsigned char*>(mapped);
        Require(::mprotect(m_mapped + m_mappedSize - m_pageSize, m_pageSize, PROT_NONE) == 0,
                "the guard page can be protected");
    }
    ~GuardedBuffer() { ::munmap(m_mapped, m_mappedSize); }
    GuardedBuffer(const GuardedBuffer&) = delete;
    GuardedBuffer& operator=(const GuardedBuffer&) = delete;

    char (&Bytes())[N] { return *reinterpret_cast<char(*)[N]>(m_mapped + m_mappedSize - m_pageSize - N); }

private:
    std::size_t m_pageSize = 0;
    std::size_t m_mappedSize = 0;
    unsigned char* m_mapped = nullptr;
};

} // namespace kestrel::fuzz
