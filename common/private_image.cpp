#include "private_image.h"

#include "pe_format.h"

#include <cstring>
#include <ctime>

namespace tolvane {

namespace {

using DllEntry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

bool CopySections(std::uint8_t* image, std::size_t imageSize, const std::uint8_t* file,
                  std::size_t fileSize, const PeLayout& layout) {
    std::uint32_t headers = layout.optional.sizeOfHeaders;
    if (!InBounds(fileSize, 0, headers) || !InBounds(imageSize, 0, headers)) return false;
    std::memcpy(image, file, headers);
    for (const SectionHeader& s : layout.sections) {
        if (!InBounds(fileSize, s.pointerToRawData, s.sizeOfRawData) ||
            !InBounds(imageSize, s.virtualAddress, s.sizeOfRawData))
            return false;
        std::memcpy(image + s.virtualAddress, file + s.pointerToRawData, s.sizeOfRawData);
    }
    return true;
}

HMODULE ModuleFor(const char* name) {
    HMODULE module = ::GetModuleHandleA(name);
    return module ? module : ::LoadLibraryA(name);
}

bool BindDescriptor(std::uint8_t* image, std::size_t size, ImportDescriptor& descriptor) {
    const char* moduleName = StringAt(image, size, descriptor.name);
    HMODULE module = moduleName ? ModuleFor(moduleName) : nullptr;
    if (!module) return false;
    if (descriptor.timeDateStamp != 0) return true;  // bound at link time: left as it is
    descriptor.forwarderChain = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(module));
    descriptor.timeDateStamp = static_cast<std::uint32_t>(std::time(nullptr));
    for (std::uint64_t i = 0;; ++i) {
        std::uint64_t lookup = descriptor.lookupTable + 4 * i, slot = descriptor.addressTable + 4 * i;
        if (!InBounds(size, lookup, 4) || !InBounds(size, slot, 4)) return false;
        std::uint32_t entry;
        std::memcpy(&entry, image + lookup, 4);
        if (entry == 0) return true;
        FARPROC address;
        if (entry & kOrdinalFlag) {
            address = ::GetProcAddress(module, MAKEINTRESOURCEA(entry & 0xFFFF));
        } else {
            const char* name = StringAt(image, size, entry + 2);  // after the 2-byte hint
            address = name ? ::GetProcAddress(module, name) : nullptr;
        }
        if (!address) return false;
        std::uint32_t value = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(address));
        std::memcpy(image + slot, &value, 4);
    }
}

bool BindImports(std::uint8_t* image, std::size_t size, const DataDirectory& dir) {
    if (dir.size == 0) return true;
    for (std::uint64_t at = dir.virtualAddress;; at += sizeof(ImportDescriptor)) {
        if (!InBounds(size, at, sizeof(ImportDescriptor))) return false;
        ImportDescriptor descriptor;
        std::memcpy(&descriptor, image + at, sizeof descriptor);
        if (descriptor.lookupTable == 0) return true;
        if (!BindDescriptor(image, size, descriptor)) return false;
        std::memcpy(image + at, &descriptor, sizeof descriptor);
    }
}

bool ProtectSections(std::uint8_t* image, const PeLayout& layout) {
    for (const SectionHeader& s : layout.sections) {
        DWORD protection = SectionProtection(s.characteristics);
        if (protection == 0) return false;
        DWORD old;
        // An empty section (uninitialised data) has no raw bytes to protect.
        if (s.sizeOfRawData != 0) ::VirtualProtect(image + s.virtualAddress, s.sizeOfRawData, protection, &old);
    }
    return true;
}

}  // namespace

bool PrivateImage::Load(const char* path) {
    Unload();
    char found[MAX_PATH];
    DWORD n = ::SearchPathA(nullptr, path, ".dll", sizeof found, found, nullptr);
    if (n == 0 || n >= sizeof found) return false;
    unique_file file(::CreateFileA(found, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file) return false;
    DWORD fileSize = ::GetFileSize(file.get(), nullptr);
    unique_handle mapping(::CreateFileMappingA(file.get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
    file.reset();
    if (!mapping || fileSize == INVALID_FILE_SIZE) return false;
    unique_view view(::MapViewOfFile(mapping.get(), FILE_MAP_READ, 0, 0, 0));
    if (!view) return false;
    return Build(static_cast<const std::uint8_t*>(view.get()), fileSize);
}

bool PrivateImage::Build(const std::uint8_t* file, std::size_t fileSize) {
    auto layout = ReadPeLayout(file, fileSize);
    if (!layout || layout->optional.sizeOfImage == 0) return false;
    const OptionalHeader32& optional = layout->optional;
    // Executable from the start: the entry point runs before the sections get their own
    // protection, and a system that enforces execute rights would fault on read-write pages.
    void* preferred = reinterpret_cast<void*>(static_cast<std::uintptr_t>(optional.imageBase));
    unique_virtual memory(::VirtualAlloc(preferred, optional.sizeOfImage, MEM_RESERVE | MEM_COMMIT,
                                         PAGE_EXECUTE_READWRITE));
    if (!memory)
        memory.reset(::VirtualAlloc(nullptr, optional.sizeOfImage, MEM_RESERVE | MEM_COMMIT,
                                    PAGE_EXECUTE_READWRITE));
    if (!memory) return false;
    auto* image = static_cast<std::uint8_t*>(memory.get());
    std::size_t size = optional.sizeOfImage;
    if (!CopySections(image, size, file, fileSize, *layout) || !HasAllDirectories(*layout) ||
        !BindImports(image, size, optional.dataDirectory[kImportDirectory]))
        return false;
    std::uint32_t delta = static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(image)) - optional.imageBase;
    const DataDirectory& relocations = optional.dataDirectory[kRelocationDirectory];
    if (delta != 0 && relocations.size != 0 &&
        !ApplyRelocations(image, size, relocations.virtualAddress, relocations.size, delta))
        return false;
    // A DLL without an entry point (resources only) has nothing to call: address 0 is its
    // own DOS header, which the system loader never runs either.
    bool isDll = (layout->file.characteristics & kFileIsDll) != 0 && optional.addressOfEntryPoint != 0;
    if (isDll) {
        if (!InBounds(size, optional.addressOfEntryPoint, 1)) return false;
        auto entry = reinterpret_cast<DllEntry>(image + optional.addressOfEntryPoint);
        if (!entry(reinterpret_cast<HINSTANCE>(image), DLL_PROCESS_ATTACH, nullptr)) return false;
    }
    if (!ProtectSections(image, *layout)) {
        if (isDll) reinterpret_cast<DllEntry>(image + optional.addressOfEntryPoint)(
            reinterpret_cast<HINSTANCE>(image), DLL_PROCESS_DETACH, nullptr);
        return false;
    }
    memory_ = std::move(memory);
    size_ = size;
    entryPoint_ = optional.addressOfEntryPoint;
    isDll_ = isDll;
    return true;
}

void PrivateImage::Unload() {
    if (!memory_) return;
    if (isDll_)
        reinterpret_cast<DllEntry>(Base() + entryPoint_)(reinterpret_cast<HINSTANCE>(Base()),
                                                         DLL_PROCESS_DETACH, nullptr);
    memory_.reset();
    size_ = 0;
}

void* PrivateImage::FindExport(const char* name) const {
    if (!memory_) return nullptr;
    auto slot = FindExportSlot(Base(), size_, name);
    if (!slot) return nullptr;
    std::uint32_t rva;
    std::memcpy(&rva, Base() + *slot, 4);
    return rva < size_ ? Base() + rva : nullptr;
}

}  // namespace tolvane
