#include "export_repair.h"

#include "pe_format.h"
#include "private_image.h"

#include <cstddef>
#include <cstring>

namespace tolvane {

namespace {

// The loaded module's own headers tell how far its image reaches.
std::size_t LoadedImageSize(const std::uint8_t* base) {
    DosHeader dos;
    std::memcpy(&dos, base, sizeof dos);
    if (dos.magic != kDosMagic) return 0;
    const std::uint8_t* optional = base + dos.ntHeaderOffset + 4 + sizeof(FileHeader);
    std::uint32_t sizeOfImage;
    std::memcpy(&sizeOfImage, optional + offsetof(OptionalHeader32, sizeOfImage), 4);
    return sizeOfImage;
}

// The entry value (an RVA) that the module's file holds for `name`.
bool FileExportValue(HMODULE module, const char* name, std::uint32_t& rva) {
    char path[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(module, path, sizeof path);
    if (n == 0 || n >= sizeof path) return false;
    PrivateImage image;
    if (!image.Load(path)) return false;
    auto* address = static_cast<std::uint8_t*>(image.FindExport(name));
    if (!address) return false;
    rva = static_cast<std::uint32_t>(address - image.Base());
    return true;
}

bool WriteEntry(std::uint32_t* entry, std::uint32_t value) {
    DWORD old;
    if (!::VirtualProtect(entry, sizeof *entry, PAGE_READWRITE, &old)) return false;
    *entry = value;
    ::VirtualProtect(entry, sizeof *entry, old, &old);
    return true;
}

}  // namespace

ExportRepairResult RepairExportEntry(HMODULE module, const char* name) {
    std::uint32_t rva;
    if (!module || !FileExportValue(module, name, rva)) return ExportRepairResult::Failed;
    auto* base = reinterpret_cast<std::uint8_t*>(module);
    auto slot = FindExportSlot(base, LoadedImageSize(base), name);
    if (!slot) return ExportRepairResult::Failed;
    auto* entry = reinterpret_cast<std::uint32_t*>(base + *slot);
    if (*entry == rva) return ExportRepairResult::AlreadyMatching;
    return WriteEntry(entry, rva) ? ExportRepairResult::Repaired : ExportRepairResult::Failed;
}

void RepairToolhelpExports() {
    static const char* const kNames[] = {"Process32First", "Process32Next", "Thread32First",
                                         "Thread32Next",   "Module32First", "Module32Next"};
    HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
    for (const char* name : kNames) RepairExportEntry(kernel32, name);
}

}  // namespace tolvane
