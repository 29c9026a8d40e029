#include "memory_file.h"

#include "fuzz_check.h"

#include <algorithm>
#include <cstring>

namespace fuzz {
namespace {
MemoryFile* open_file = nullptr;

MemoryFile& FileOf(HANDLE handle) {
    // A reader that passes anything but the handle it was given has lost track of its file.
    FUZZ_REQUIRE(open_file != nullptr && handle == open_file->Handle());
    return *open_file;
}
}  // namespace

MemoryFile::MemoryFile(const std::uint8_t* data, std::size_t size, std::size_t chunk)
    : data_(data), size_(size), chunk_(chunk == 0 ? size + 1 : chunk) {
    open_file = this;
}

MemoryFile::~MemoryFile() { open_file = nullptr; }

BOOL MemoryFile::Read(void* buffer, DWORD size, DWORD* read) {
    FUZZ_REQUIRE(read != nullptr);
    std::size_t n = position_ < size_ ? std::min({std::size_t(size), size_ - position_, chunk_}) : 0;
    // The last byte the caller claims must be its own, even when the file has fewer left.
    if (size != 0) static_cast<volatile std::uint8_t*>(buffer)[size - 1];
    if (n != 0) std::memcpy(buffer, data_ + position_, n);
    position_ += n;
    *read = static_cast<DWORD>(n);
    return 1;
}

}  // namespace fuzz

BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, void*) {
    return fuzz::FileOf(file).Read(buffer, size, read);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD method) {
    fuzz::MemoryFile& f = fuzz::FileOf(file);
    FUZZ_REQUIRE(method == FILE_BEGIN && distance >= 0 && (distanceHigh == nullptr || *distanceHigh == 0));
    f.Seek(static_cast<std::size_t>(distance));
    return static_cast<DWORD>(distance);
}
