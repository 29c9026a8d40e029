// The file that ReadFile and SetFilePointer of the fuzz build read: the fuzzer's input,
// delivered in pieces of at most `chunk` bytes a call, so that the readers' loops over
// short reads run too.
#pragma once

#include "win32_subset.h"

#include <cstddef>
#include <cstdint>

namespace fuzz {

class MemoryFile {
public:
    MemoryFile(const std::uint8_t* data, std::size_t size, std::size_t chunk);
    ~MemoryFile();
    MemoryFile(const MemoryFile&) = delete;
    MemoryFile& operator=(const MemoryFile&) = delete;

    HANDLE Handle() { return this; }
    std::size_t Position() const { return position_; }
    void Seek(std::size_t position) { position_ = position; }

    BOOL Read(void* buffer, DWORD size, DWORD* read);

private:
    const std::uint8_t* data_;
    std::size_t size_;
    std::size_t chunk_;
    std::size_t position_ = 0;
};

}  // namespace fuzz
