#include "private_image.h"

#include "pe_format.h"

#include <cstring>

namespace tolvane {

namespace {

using DllEntry = BOOL(WINAPI*)(HINSTANCE, DWORD, LPVOID);

HMODULE ModuleFor(const char* name) {
    HMODULE module = ::GetModuleHandleA(name);
    return module ? module : ::LoadLibraryA(name);
}

// Modules already in the process are taken as they are; others are loaded and stay.
class SystemImports final : public ImportResolver {
public:
    std::uintptr_t Module(const char* name) override {
        return reinterpret_cast<std::uintptr_t>(ModuleFor(name));
    }
    std::uintptr_t Procedure(std::uintptr_t module, const char* name, std::uint16_t ordinal) override {
        return reinterpret_cast<std::uintptr_t>(
            ::GetProcAddress(reinterpret_cast<HMODULE>(module), name ? name : MAKEINTRESOURCEA(ordinal)));
    }
};

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
    // Only an image of this process's own kind can be called into.
    if (!layout || layout->optional.sizeOfImage == 0 || layout->optional.magic != kNativeOptionalMagic)
        return false;
    const OptionalFields& optional = layout->optional;
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
    SystemImports imports;
    if (!CopySections(image, size, file, fileSize, *layout) || !HasAllDirectories(*layout) ||
        !BindImports(image, size, optional.dataDirectory[kImportDirectory], imports, layout->IsPe32Plus()))
        return false;
    std::uint64_t delta = static_cast<std::uint64_t>(reinterpret_cast<std::uintptr_t>(image)) - optional.imageBase;
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
