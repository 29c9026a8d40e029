// The parts of the PE image format, 32-bit (PE32) and 64-bit (PE32+), that the private
// module loader, the export repair and the checks of scanned files read: headers,
// sections, imports, exports, base relocations. Everything here works
// on bytes and calls no Win32 function, so a damaged or hostile image is tested on bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

namespace tolvane {

#pragma pack(push, 1)
struct DosHeader {
    std::uint16_t magic;            // "MZ"
    std::uint16_t unused[29];
    std::uint32_t ntHeaderOffset;   // e_lfanew
};

struct FileHeader {
    std::uint16_t machine;
    std::uint16_t numberOfSections;
    std::uint32_t timeDateStamp;
    std::uint32_t pointerToSymbolTable;
    std::uint32_t numberOfSymbols;
    std::uint16_t sizeOfOptionalHeader;
    std::uint16_t characteristics;
};

struct DataDirectory {
    std::uint32_t virtualAddress;
    std::uint32_t size;
};

struct OptionalHeader32 {
    std::uint16_t magic;            // 0x10B
    std::uint8_t linkerVersion[2];
    std::uint32_t sizeOfCode;
    std::uint32_t sizeOfInitializedData;
    std::uint32_t sizeOfUninitializedData;
    std::uint32_t addressOfEntryPoint;
    std::uint32_t baseOfCode;
    std::uint32_t baseOfData;
    std::uint32_t imageBase;
    std::uint32_t sectionAlignment;
    std::uint32_t fileAlignment;
    std::uint16_t versions[6];
    std::uint32_t win32VersionValue;
    std::uint32_t sizeOfImage;
    std::uint32_t sizeOfHeaders;
    std::uint32_t checkSum;
    std::uint16_t subsystem;
    std::uint16_t dllCharacteristics;
    std::uint32_t stackAndHeapSizes[4];
    std::uint32_t loaderFlags;
    std::uint32_t numberOfRvaAndSizes;
    DataDirectory dataDirectory[16];
};

// PE32+: no baseOfData, and the image base and the stack and heap sizes are 8 bytes.
struct OptionalHeader64 {
    std::uint16_t magic;            // 0x20B
    std::uint8_t linkerVersion[2];
    std::uint32_t sizeOfCode;
    std::uint32_t sizeOfInitializedData;
    std::uint32_t sizeOfUninitializedData;
    std::uint32_t addressOfEntryPoint;
    std::uint32_t baseOfCode;
    std::uint64_t imageBase;
    std::uint32_t sectionAlignment;
    std::uint32_t fileAlignment;
    std::uint16_t versions[6];
    std::uint32_t win32VersionValue;
    std::uint32_t sizeOfImage;
    std::uint32_t sizeOfHeaders;
    std::uint32_t checkSum;
    std::uint16_t subsystem;
    std::uint16_t dllCharacteristics;
    std::uint64_t stackAndHeapSizes[4];
    std::uint32_t loaderFlags;
    std::uint32_t numberOfRvaAndSizes;
    DataDirectory dataDirectory[16];
};

struct SectionHeader {
    char name[8];
    std::uint32_t virtualSize;
    std::uint32_t virtualAddress;
    std::uint32_t sizeOfRawData;
    std::uint32_t pointerToRawData;
    std::uint32_t pointerToRelocations;
    std::uint32_t pointerToLinenumbers;
    std::uint16_t numberOfRelocations;
    std::uint16_t numberOfLinenumbers;
    std::uint32_t characteristics;
};

struct ImportDescriptor {
    std::uint32_t lookupTable;      // OriginalFirstThunk; zero ends the list
    std::uint32_t timeDateStamp;    // not zero: bound already
    std::uint32_t forwarderChain;
    std::uint32_t name;
    std::uint32_t addressTable;     // FirstThunk
};

struct ExportDirectory {
    std::uint32_t characteristics;
    std::uint32_t timeDateStamp;
    std::uint16_t majorVersion;
    std::uint16_t minorVersion;
    std::uint32_t name;
    std::uint32_t base;
    std::uint32_t numberOfFunctions;
    std::uint32_t numberOfNames;
    std::uint32_t addressOfFunctions;
    std::uint32_t addressOfNames;
    std::uint32_t addressOfNameOrdinals;
};

struct RelocationBlockHeader {
    std::uint32_t pageAddress;
    std::uint32_t blockSize;        // header included
};
#pragma pack(pop)

static_assert(sizeof(DosHeader) == 64, "DOS header is 64 bytes");
static_assert(sizeof(FileHeader) == 20, "file header is 20 bytes");
static_assert(sizeof(OptionalHeader32) == 224, "32-bit optional header with 16 directories");
static_assert(sizeof(OptionalHeader64) == 240, "64-bit optional header with 16 directories");
static_assert(offsetof(OptionalHeader32, sizeOfImage) == offsetof(OptionalHeader64, sizeOfImage),
              "both kinds keep the image size at the same place");
static_assert(sizeof(SectionHeader) == 40, "section header is 40 bytes");
static_assert(sizeof(ImportDescriptor) == 20, "import descriptor is 20 bytes");
static_assert(sizeof(ExportDirectory) == 40, "export directory is 40 bytes");
static_assert(sizeof(RelocationBlockHeader) == 8, "relocation block header is 8 bytes");

constexpr std::uint16_t kDosMagic = 0x5A4D;           // "MZ"
constexpr std::uint32_t kPeSignature = 0x00004550;    // "PE\0\0"
constexpr std::uint16_t kOptionalMagic32 = 0x10B;
constexpr std::uint16_t kOptionalMagic64 = 0x20B;
constexpr std::uint16_t kMachineI386 = 0x14C;
constexpr std::uint16_t kMachineAmd64 = 0x8664;
constexpr std::uint16_t kFileIsDll = 0x2000;
constexpr std::uint32_t kOrdinalFlag = 0x80000000;
constexpr std::uint64_t kOrdinalFlag64 = 0x8000000000000000ull;

enum DirectoryIndex : unsigned { kExportDirectory = 0, kImportDirectory = 1, kRelocationDirectory = 5 };

// What the readers use of either kind of optional header, the image base widened.
struct OptionalFields {
    std::uint16_t magic;            // kOptionalMagic32 or kOptionalMagic64
    std::uint32_t addressOfEntryPoint;
    std::uint64_t imageBase;
    std::uint32_t sizeOfImage;
    std::uint32_t sizeOfHeaders;
    std::uint32_t numberOfRvaAndSizes;
    DataDirectory dataDirectory[16];  // those past numberOfRvaAndSizes read as zero
};

// Headers of an image, in a file or in memory: both keep them at offset 0.
struct PeLayout {
    FileHeader file;
    OptionalFields optional;
    std::vector<SectionHeader> sections;

    bool IsPe32Plus() const { return optional.magic == kOptionalMagic64; }
    // Built for `machine` with the optional header of its kind: i386 with PE32, AMD64 with
    // PE32+. A module of any other kind does not load into a process of that machine.
    bool IsFor(std::uint16_t machine) const {
        return file.machine == machine && optional.magic == (machine == kMachineAmd64 ? kOptionalMagic64 : kOptionalMagic32);
    }
};

// Fails unless the bytes start with "MZ", hold "PE\0\0" where the DOS header points and
// a 32-bit or 64-bit optional header, and the whole section table lies inside them.
std::optional<PeLayout> ReadPeLayout(const std::uint8_t* bytes, std::size_t size);

// The kind of image this program's own modules are: PE32+ in the 64-bit edition.
constexpr std::uint16_t kNativeOptionalMagic = sizeof(void*) == 8 ? kOptionalMagic64 : kOptionalMagic32;
constexpr std::uint16_t kNativeMachine = sizeof(void*) == 8 ? kMachineAmd64 : kMachineI386;

// True when the image declares all 16 data directories, as the loader and the export
// lookup require.
bool HasAllDirectories(const PeLayout& layout);

// Copies the headers and every section's raw bytes of a file into a mapped image of
// `imageSize` bytes; fails when any of them reaches outside the file or the image.
bool CopySections(std::uint8_t* image, std::size_t imageSize, const std::uint8_t* file,
                  std::size_t fileSize, const PeLayout& layout);

// What binding imports asks of the system: a module by name, and an export of it by name
// or, when `name` is null, by ordinal. Zero answers "not found".
class ImportResolver {
public:
    virtual std::uintptr_t Module(const char* name) = 0;
    virtual std::uintptr_t Procedure(std::uintptr_t module, const char* name, std::uint16_t ordinal) = 0;

protected:
    ~ImportResolver() = default;
};

// Binds the imports of the directory `dir` in a mapped image: walks the descriptors to one
// whose lookup table is zero; a descriptor with a time stamp is bound already and stays,
// any other gets the module in its forwarder chain, the time in its stamp and each lookup
// entry's address in its import address table. Lookup and address entries are 4 bytes in
// a PE32 image and 8 in a PE32+ one (`pe32Plus`). Fails on a module or entry not found, on
// an address that does not fit an entry, and on any table that reaches outside the image.
bool BindImports(std::uint8_t* image, std::size_t size, const DataDirectory& dir, ImportResolver& resolver,
                 bool pe32Plus);

// Applies the base relocations of the directory at `rva` to a mapped image moved by
// `delta` (modulo 2^64; a PE32 image's 32-bit fields take its low half). Fails on an
// unknown entry type or on an entry or block that reaches outside the image; the blocks
// end at one whose page address is zero or at the end of the directory.
bool ApplyRelocations(std::uint8_t* image, std::size_t imageSize, std::uint32_t rva,
                      std::uint32_t size, std::uint64_t delta);

// Memory protection for a section's characteristics; 0 when it asks for neither read,
// write nor execute.
std::uint32_t SectionProtection(std::uint32_t characteristics);

// RVA of the export address table entry for `name` (exact, case-sensitive) in a mapped
// image, or nothing when the image has no export directory or no such name.
std::optional<std::uint32_t> FindExportSlot(const std::uint8_t* image, std::size_t imageSize,
                                            const char* name);

// A zero-terminated string at `offset` that ends inside the image, or nullptr.
const char* StringAt(const std::uint8_t* image, std::size_t imageSize, std::uint32_t offset);

// True when [offset, offset + length) lies inside a block of `size` bytes.
constexpr bool InBounds(std::size_t size, std::uint64_t offset, std::uint64_t length) {
    return offset <= size && length <= size - offset;
}

}  // namespace tolvane
