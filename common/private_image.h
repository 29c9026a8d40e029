// A module image loaded by hand, outside the system loader: the export repair reads the
// export table of a fresh copy of kernel32 from its file, which the system loader would
// only hand back as the already loaded (and possibly patched) module.
#pragma once

#include "unique_handle.h"

#include <cstddef>
#include <cstdint>

namespace tolvane {

class PrivateImage {
public:
    PrivateImage() = default;
    ~PrivateImage() { Unload(); }
    PrivateImage(const PrivateImage&) = delete;
    PrivateImage& operator=(const PrivateImage&) = delete;

    // Maps the file (found with SearchPath, default extension ".dll"), builds the image at
    // its preferred base or anywhere, binds its imports, applies relocations, runs a DLL's
    // entry point for process attach and sets each section's protection. False leaves
    // nothing loaded.
    bool Load(const char* path);
    // Runs a DLL's entry point for process detach and releases the memory.
    void Unload();

    bool Loaded() const { return memory_.valid(); }
    std::uint8_t* Base() const { return static_cast<std::uint8_t*>(memory_.get()); }
    std::size_t Size() const { return size_; }
    // Address of the export `name` (case-sensitive), or nullptr.
    void* FindExport(const char* name) const;

private:
    bool Build(const std::uint8_t* file, std::size_t fileSize);

    unique_virtual memory_;
    std::size_t size_ = 0;
    std::uint32_t entryPoint_ = 0;
    bool isDll_ = false;
};

}  // namespace tolvane
