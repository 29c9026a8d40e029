#include "export_repair.h"
#include "pe_format.h"
#include "private_image.h"
#include "test_support.h"

#include <gtest/gtest.h>

#include <array>
#include <cstddef>
#include <cstring>
#include <string>
#include <vector>

using namespace tolvane;

namespace {

constexpr std::uint32_t kNtOffset = 0x40;
constexpr std::uint32_t kImageSize = 0x3000;

template <typename T>
void Put(std::vector<std::uint8_t>& bytes, std::size_t at, const T& value) {
    std::memcpy(bytes.data() + at, &value, sizeof value);
}

template <typename T>
T Get(const std::vector<std::uint8_t>& bytes, std::size_t at) {
    T value;
    std::memcpy(&value, bytes.data() + at, sizeof value);
    return value;
}

// A mapped image of kImageSize bytes: the headers with `optional` and one section.
template <typename Optional>
std::vector<std::uint8_t> ImageWith(std::uint16_t machine, const Optional& optional, const char* sectionName) {
    std::vector<std::uint8_t> bytes(kImageSize);
    DosHeader dos{};
    dos.magic = kDosMagic;
    dos.ntHeaderOffset = kNtOffset;
    Put(bytes, 0, dos);
    Put(bytes, kNtOffset, kPeSignature);
    FileHeader file{};
    file.machine = machine;
    file.numberOfSections = 1;
    file.sizeOfOptionalHeader = sizeof optional;
    file.characteristics = 0x2102;
    Put(bytes, kNtOffset + 4, file);
    Put(bytes, kNtOffset + 4 + sizeof file, optional);
    SectionHeader section{};
    std::memcpy(section.name, sectionName, std::strlen(sectionName));
    section.virtualAddress = 0x1000;
    section.sizeOfRawData = 0x2000;
    section.characteristics = 0xC0000040;
    Put(bytes, kNtOffset + 4 + sizeof file + sizeof optional, section);
    return bytes;
}

// A 32-bit image with 16 directories (or fewer).
std::vector<std::uint8_t> MappedImage(std::uint32_t directories = 16) {
    OptionalHeader32 optional{};
    optional.magic = kOptionalMagic32;
    optional.imageBase = 0x400000;
    optional.sizeOfImage = kImageSize;
    optional.sizeOfHeaders = 0x200;
    optional.numberOfRvaAndSizes = directories;
    return ImageWith(kMachineI386, optional, ".data");
}

// The same image as a 64-bit one: a PE32+ optional header (240 bytes) before the section.
std::vector<std::uint8_t> MappedImage64() {
    OptionalHeader64 optional{};
    optional.magic = kOptionalMagic64;
    optional.addressOfEntryPoint = 0x1080;
    optional.imageBase = 0x180000000ull;
    optional.sizeOfImage = kImageSize;
    optional.sizeOfHeaders = 0x200;
    optional.numberOfRvaAndSizes = 16;
    optional.dataDirectory[kImportDirectory] = {0x2000, 0x28};
    return ImageWith(kMachineAmd64, optional, ".plugins");
}

// Addresses above 4 GiB, where a 64-bit process has its system DLLs; a 32-bit process has
// none up there.
constexpr std::uint64_t kHighBase = sizeof(std::uintptr_t) == 8 ? 0x7FF800000000ull : 0x7F000000ull;

// Hands out fixed addresses from kHighBase when `high`, and counts what it was asked.
class FixedImports final : public ImportResolver {
public:
    explicit FixedImports(bool high) : base_(high ? kHighBase : 0x70000000ull) {}
    std::uintptr_t Module(const char* name) override { return static_cast<std::uintptr_t>(base_); }
    std::uintptr_t Procedure(std::uintptr_t module, const char* name, std::uint16_t ordinal) override {
        names.push_back(name ? name : "#" + std::to_string(ordinal));
        return static_cast<std::uintptr_t>(base_ + 0x100 * names.size());
    }
    std::vector<std::string> names;

private:
    std::uint64_t base_;
};

// One import descriptor at 0x2000 for "kernel32.dll" whose lookup table at 0x2100 holds
// `entries` of `width` bytes (names as hint/name RVAs, ordinals with the top bit set).
void AddImports(std::vector<std::uint8_t>& image, std::size_t width, const std::vector<std::uint64_t>& entries) {
    ImportDescriptor descriptor{};
    descriptor.lookupTable = 0x2100;
    descriptor.name = 0x2300;
    descriptor.addressTable = 0x2200;
    Put(image, 0x2000, descriptor);
    std::memcpy(image.data() + 0x2300, "kernel32.dll", 13);
    Put(image, 0x2402, std::array<char, 12>{"ExitProcess"});
    for (std::size_t i = 0; i < entries.size(); ++i) std::memcpy(image.data() + 0x2100 + width * i, &entries[i], width);
}

constexpr std::size_t kDirectoryAt = kNtOffset + 4 + sizeof(FileHeader) + offsetof(OptionalHeader32, dataDirectory);

// Export directory at 0x1000 naming `names` in this order; name i is function ordinal
// index i + 1 (so a lookup that ignored the ordinal table would pick the wrong slot).
void AddExports(std::vector<std::uint8_t>& image, const std::vector<std::string>& names) {
    ExportDirectory dir{};
    dir.numberOfFunctions = static_cast<std::uint32_t>(names.size() + 1);
    dir.numberOfNames = static_cast<std::uint32_t>(names.size());
    dir.addressOfFunctions = 0x1100;
    dir.addressOfNames = 0x1200;
    dir.addressOfNameOrdinals = 0x1300;
    Put(image, 0x1000, dir);
    std::uint32_t text = 0x1400;
    for (std::size_t i = 0; i < names.size(); ++i) {
        Put(image, 0x1200 + 4 * i, text);
        std::memcpy(image.data() + text, names[i].c_str(), names[i].size() + 1);
        text += static_cast<std::uint32_t>(names[i].size() + 1);
        Put(image, 0x1300 + 2 * i, static_cast<std::uint16_t>(i + 1));
        Put(image, 0x1100 + 4 * (i + 1), static_cast<std::uint32_t>(0x2000 + 0x10 * i));
    }
    Put(image, kDirectoryAt + 8 * kExportDirectory, DataDirectory{0x1000, 0x600});
}

// One relocation block for page 0x1000 with the given entries, at 0x2800.
void AddRelocations(std::vector<std::uint8_t>& image, const std::vector<std::uint16_t>& entries) {
    RelocationBlockHeader block{0x1000, static_cast<std::uint32_t>(8 + 2 * entries.size())};
    Put(image, 0x2800, block);
    for (std::size_t i = 0; i < entries.size(); ++i) Put(image, 0x2808 + 2 * i, entries[i]);
}

}  // namespace

TEST(PeLayout, AcceptsA32BitImageAndRejectsDamagedHeaders) {
    auto good = MappedImage();
    auto layout = ReadPeLayout(good.data(), good.size());
    ASSERT_TRUE(layout.has_value());
    ASSERT_EQ(1u, layout->sections.size());
    EXPECT_EQ(0x1000u, layout->sections[0].virtualAddress);

    auto noMz = good;
    noMz[0] = 'Z';
    EXPECT_FALSE(ReadPeLayout(noMz.data(), noMz.size()));
    auto noPe = good;
    noPe[kNtOffset + 2] = 1;  // "PE" must be followed by two zero bytes
    EXPECT_FALSE(ReadPeLayout(noPe.data(), noPe.size()));
    auto rom = good;
    Put(rom, kNtOffset + 24, std::uint16_t(0x107));
    EXPECT_FALSE(ReadPeLayout(rom.data(), rom.size()));
    auto farHeader = good;
    Put(farHeader, 0x3C, std::uint32_t(0xFFFFFFF0));
    EXPECT_FALSE(ReadPeLayout(farHeader.data(), farHeader.size()));
    // Cut inside the section table.
    EXPECT_FALSE(ReadPeLayout(good.data(), kNtOffset + 4 + 20 + 224 + 20));
    // No section table, and an optional header that claims more than the file holds.
    auto noSections = good;
    Put(noSections, kNtOffset + 4 + offsetof(FileHeader, numberOfSections), std::uint16_t(0));
    const std::size_t headersEnd = kNtOffset + 4 + 20 + 224;
    EXPECT_TRUE(ReadPeLayout(noSections.data(), headersEnd));
    Put(noSections, kNtOffset + 4 + offsetof(FileHeader, sizeOfOptionalHeader), std::uint16_t(225));
    EXPECT_FALSE(ReadPeLayout(noSections.data(), headersEnd));
}

TEST(PeLayout, Reads64BitImagesByTheirOwnHeader) {
    auto image = MappedImage64();
    auto layout = ReadPeLayout(image.data(), image.size());
    ASSERT_TRUE(layout.has_value());
    EXPECT_TRUE(layout->IsPe32Plus());
    EXPECT_EQ(kMachineAmd64, layout->file.machine);
    EXPECT_EQ(0x180000000ull, layout->optional.imageBase);
    EXPECT_EQ(0x1080u, layout->optional.addressOfEntryPoint);
    EXPECT_EQ(kImageSize, layout->optional.sizeOfImage);
    EXPECT_EQ(0x2000u, layout->optional.dataDirectory[kImportDirectory].virtualAddress);
    ASSERT_EQ(1u, layout->sections.size());
    EXPECT_EQ(0, std::memcmp(".plugins", layout->sections[0].name, 8)) << "section table after 240 bytes";
    EXPECT_FALSE(ReadPeLayout(MappedImage().data(), kImageSize)->IsPe32Plus());

    // Cut inside the 64-bit header, which a 32-bit reading would have taken whole.
    EXPECT_FALSE(ReadPeLayout(image.data(), kNtOffset + 4 + 20 + 230));
    auto tooShort = image;
    Put(tooShort, kNtOffset + 4 + offsetof(FileHeader, sizeOfOptionalHeader), std::uint16_t(100));
    EXPECT_FALSE(ReadPeLayout(tooShort.data(), tooShort.size())) << "no room for its own fields";
}

TEST(Imports, EntriesAreFourBytesInPe32AndEightInPe32Plus) {
    // PE32+: the ordinal flag is the top bit of 8 bytes; addresses above 4 GiB fit.
    auto wide = MappedImage64();
    AddImports(wide, 8, {0x2400, kOrdinalFlag64 | 7});
    FixedImports high(true);
    ASSERT_TRUE(BindImports(wide.data(), wide.size(), DataDirectory{0x2000, 0x28}, high, true));
    EXPECT_EQ((std::vector<std::string>{"ExitProcess", "#7"}), high.names);
    EXPECT_EQ(kHighBase + 0x100, Get<std::uint64_t>(wide, 0x2200));
    EXPECT_EQ(kHighBase + 0x200, Get<std::uint64_t>(wide, 0x2208));
    EXPECT_EQ(0u, Get<std::uint64_t>(wide, 0x2210)) << "the table ends at its zero entry";

    // PE32: the same entries 4 bytes wide; an address that does not fit refuses the image.
    auto narrow = MappedImage();
    AddImports(narrow, 4, {0x2400, kOrdinalFlag | 7});
    FixedImports low(false);
    ASSERT_TRUE(BindImports(narrow.data(), narrow.size(), DataDirectory{0x2000, 0x28}, low, false));
    EXPECT_EQ((std::vector<std::string>{"ExitProcess", "#7"}), low.names);
    EXPECT_EQ(0x70000100u, Get<std::uint32_t>(narrow, 0x2200));
    EXPECT_EQ(0x70000200u, Get<std::uint32_t>(narrow, 0x2204));
    if (kHighBase > 0xFFFFFFFFu) {
        auto unfit = MappedImage();
        AddImports(unfit, 4, {0x2400});
        FixedImports tooHigh(true);
        EXPECT_FALSE(BindImports(unfit.data(), unfit.size(), DataDirectory{0x2000, 0x28}, tooHigh, false));
    }

    // A 64-bit name entry beyond 31 bits is no RVA.
    auto bogus = MappedImage64();
    AddImports(bogus, 8, {0x100002400ull});
    FixedImports any(true);
    EXPECT_FALSE(BindImports(bogus.data(), bogus.size(), DataDirectory{0x2000, 0x28}, any, true));
    EXPECT_TRUE(any.names.empty());
}

TEST(PeLayout, DirectoriesBeyondTheDeclaredCountReadAsZero) {
    auto image = MappedImage(6);
    Put(image, kDirectoryAt + 8 * 12, DataDirectory{0x1234, 0x10});
    auto layout = ReadPeLayout(image.data(), image.size());
    ASSERT_TRUE(layout.has_value());
    EXPECT_FALSE(HasAllDirectories(*layout));
    EXPECT_EQ(0u, layout->optional.dataDirectory[12].virtualAddress);
}

TEST(Relocations, EachTypeAdjustsItsWidthByTheDelta) {
    auto image = MappedImage();
    Put(image, 0x1010, std::uint16_t(0x1234));      // high
    Put(image, 0x1020, std::uint16_t(0x1234));      // low
    Put(image, 0x1030, std::uint32_t(0x00401000));  // high-low
    Put(image, 0x1040, std::uint16_t(0x0040));      // high-adjusted, low half 0x9000
    Put(image, 0x1050, std::uint32_t(0xAABBCCDD));  // padding entry leaves it alone
    AddRelocations(image, {0x1010, 0x2020, 0x3030, 0x4040, 0x9000, 0x0050});
    const std::uint32_t delta = 0x00120000 + 0x8001;
    ASSERT_TRUE(ApplyRelocations(image.data(), image.size(), 0x2800, 8 + 12, delta));
    EXPECT_EQ(0x1234 + 0x0012, Get<std::uint16_t>(image, 0x1010));
    EXPECT_EQ(0x1234 + 0x8001, Get<std::uint16_t>(image, 0x1020));
    EXPECT_EQ(0x00401000u + delta, Get<std::uint32_t>(image, 0x1030));
    // ((0x0040 << 16) + 0x9000 + delta + 0x8000) >> 16
    EXPECT_EQ(0x0053, Get<std::uint16_t>(image, 0x1040));
    EXPECT_EQ(0xAABBCCDDu, Get<std::uint32_t>(image, 0x1050));
}

TEST(Relocations, SixtyFourBitEntriesAdjustEightBytes) {
    auto image = MappedImage64();
    Put(image, 0x1030, std::uint64_t(0x0000000180001000ull));
    Put(image, 0x1040, std::uint32_t(0x00401000));
    AddRelocations(image, {0xA030, 0x3040});
    const std::uint64_t delta = 0x0000700000000000ull - 0x180000000ull;
    ASSERT_TRUE(ApplyRelocations(image.data(), image.size(), 0x2800, 12, delta));
    EXPECT_EQ(0x0000700000001000ull, Get<std::uint64_t>(image, 0x1030));
    EXPECT_EQ(std::uint32_t(0x00401000u + delta), Get<std::uint32_t>(image, 0x1040)) << "high-low takes the low half";

    auto downward = MappedImage64();
    Put(downward, 0x1030, std::uint64_t(0x0000000180001000ull));
    AddRelocations(downward, {0xA030});
    ASSERT_TRUE(ApplyRelocations(downward.data(), downward.size(), 0x2800, 10, std::uint64_t(0) - 0x100000000ull));
    EXPECT_EQ(0x0000000080001000ull, Get<std::uint64_t>(downward, 0x1030));

    auto pastEnd = MappedImage64();
    Put(pastEnd, 0x2800, RelocationBlockHeader{kImageSize - 0x1000, 10});
    Put(pastEnd, 0x2808, std::uint16_t(0xAFFC));  // 8 bytes from 4 before the end
    EXPECT_FALSE(ApplyRelocations(pastEnd.data(), pastEnd.size(), 0x2800, 10, 1));
}

TEST(Relocations, HighAdjustedEntryConsumesTheNextEntry) {
    auto image = MappedImage();
    Put(image, 0x1040, std::uint16_t(0x0040));
    // The low half 0x3060 would read as a high-low fix-up at 0x1060 if taken as an entry.
    Put(image, 0x1060, std::uint32_t(0x11111111));
    AddRelocations(image, {0x4040, 0x3060});
    ASSERT_TRUE(ApplyRelocations(image.data(), image.size(), 0x2800, 12, 0x10000));
    EXPECT_EQ(0x11111111u, Get<std::uint32_t>(image, 0x1060));
    EXPECT_EQ(0x0041, Get<std::uint16_t>(image, 0x1040));
}

TEST(Relocations, StopAtAZeroPageAndFailOnBadEntries) {
    auto image = MappedImage();
    Put(image, 0x1030, std::uint32_t(5));
    AddRelocations(image, {0x3030});
    Put(image, 0x2800 + 10, RelocationBlockHeader{0, 0});  // end marker
    Put(image, 0x2800 + 18, RelocationBlockHeader{0x1000, 10});
    Put(image, 0x2800 + 26, std::uint16_t(0x3030));  // after the end: never applied
    ASSERT_TRUE(ApplyRelocations(image.data(), image.size(), 0x2800, 28, 1));
    EXPECT_EQ(6u, Get<std::uint32_t>(image, 0x1030));

    auto unknown = MappedImage();
    AddRelocations(unknown, {0x5030});
    EXPECT_FALSE(ApplyRelocations(unknown.data(), unknown.size(), 0x2800, 10, 1));
    auto outside = MappedImage();
    RelocationBlockHeader farPage{kImageSize - 2, 10};
    Put(outside, 0x2800, farPage);
    Put(outside, 0x2808, std::uint16_t(0x3000));
    EXPECT_FALSE(ApplyRelocations(outside.data(), outside.size(), 0x2800, 10, 1));
    auto truncatedPair = MappedImage();
    AddRelocations(truncatedPair, {0x4040});
    EXPECT_FALSE(ApplyRelocations(truncatedPair.data(), truncatedPair.size(), 0x2800, 10, 1));
    auto shortBlock = MappedImage();
    Put(shortBlock, 0x2800, RelocationBlockHeader{0x1000, 4});
    EXPECT_FALSE(ApplyRelocations(shortBlock.data(), shortBlock.size(), 0x2800, 16, 1));
}

TEST(SectionProtection, FollowsWriteReadExecuteSharedFlags) {
    constexpr std::uint32_t W = 0x80000000, R = 0x40000000, X = 0x20000000, S = 0x10000000;
    struct Case { std::uint32_t flags; std::uint32_t protection; } cases[] = {
        {W | R | X | S, PAGE_EXECUTE_READWRITE}, {W | R | X, PAGE_EXECUTE_WRITECOPY},
        {W | R | S, PAGE_READWRITE},             {W | R, PAGE_WRITECOPY},
        {W | X, PAGE_EXECUTE},                   {W | X | S, PAGE_EXECUTE},
        {R | X, PAGE_EXECUTE_READ},              {R | X | S, PAGE_EXECUTE_READ},
        {R, PAGE_READONLY},                      {R | S, PAGE_READONLY},
        {X, PAGE_EXECUTE},                       {X | S, PAGE_EXECUTE},
        {W, 0}, {W | S, 0}, {0, 0}, {S, 0},
        {R | 0x04000000, PAGE_READONLY | PAGE_NOCACHE},
        {W | R | X | 0x04000000, PAGE_EXECUTE_WRITECOPY | PAGE_NOCACHE},
        {0x04000000, 0},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.protection, SectionProtection(c.flags)) << std::hex << "flags 0x" << c.flags;
}

TEST(ExportLookup, FindsTheSlotThroughTheOrdinalTableCaseSensitively) {
    auto image = MappedImage();
    AddExports(image, {"Alpha", "Process32Next", "Omega"});
    auto slot = FindExportSlot(image.data(), image.size(), "Process32Next");
    ASSERT_TRUE(slot.has_value());
    EXPECT_EQ(0x1100u + 4 * 2, *slot);
    EXPECT_EQ(0x2010u, Get<std::uint32_t>(image, *slot));
    EXPECT_FALSE(FindExportSlot(image.data(), image.size(), "process32next"));
    EXPECT_FALSE(FindExportSlot(image.data(), image.size(), "Process32"));
    EXPECT_FALSE(FindExportSlot(image.data(), image.size(), "Missing"));
}

TEST(ExportLookup, NeedsSixteenDirectoriesAndANonEmptyExportDirectory) {
    auto few = MappedImage(15);
    AddExports(few, {"Alpha"});
    EXPECT_FALSE(FindExportSlot(few.data(), few.size(), "Alpha"));
    auto empty = MappedImage();
    AddExports(empty, {"Alpha"});
    Put(empty, kDirectoryAt + 4, std::uint32_t(0));
    EXPECT_FALSE(FindExportSlot(empty.data(), empty.size(), "Alpha"));
    auto brokenName = MappedImage();
    AddExports(brokenName, {"Alpha"});
    Put(brokenName, 0x1200, std::uint32_t(kImageSize + 8));
    EXPECT_FALSE(FindExportSlot(brokenName.data(), brokenName.size(), "Alpha"));
}

// The test DLL prefers 0x1C000000; a reservation there makes the loader move it.
class PrivateImageTest : public ::testing::Test {
protected:
    using CountFn = int (*)();
    using AtFn = int (*)(int);
    void SetUp() override {
        events_ = ::LoadLibraryA("tolvane_test_events.dll");
        ASSERT_NE(nullptr, events_) << "GetLastError " << ::GetLastError();
        count_ = reinterpret_cast<CountFn>(reinterpret_cast<void*>(::GetProcAddress(events_, "EventCount")));
        at_ = reinterpret_cast<AtFn>(reinterpret_cast<void*>(::GetProcAddress(events_, "EventAt")));
        auto clear = reinterpret_cast<void (*)()>(reinterpret_cast<void*>(::GetProcAddress(events_, "ClearEvents")));
        ASSERT_TRUE(count_ && at_ && clear);
        clear();
        path_ = tolvane::test::ModuleDirectory() + "\\tolvane_test_image.dll";
    }
    void TearDown() override {
        if (events_) ::FreeLibrary(events_);
    }
    std::vector<int> Events() const {
        std::vector<int> events;
        for (int i = 0; i < count_(); ++i) events.push_back(at_(i));
        return events;
    }

    HMODULE events_ = nullptr;
    CountFn count_ = nullptr;
    AtFn at_ = nullptr;
    std::string path_;
};

TEST_F(PrivateImageTest, RelocatedImageRunsWithItsImportsAndSeesAttachAndDetach) {
    void* preferred = reinterpret_cast<void*>(0x1C000000);
    unique_virtual blocker(::VirtualAlloc(preferred, 0x10000, MEM_RESERVE, PAGE_NOACCESS));
    ASSERT_TRUE(blocker.valid()) << "preferred base already taken, GetLastError " << ::GetLastError();
    {
        PrivateImage image;
        ASSERT_TRUE(image.Load(path_.c_str()));
        EXPECT_NE(preferred, static_cast<void*>(image.Base()));
        EXPECT_EQ(std::vector<int>{1}, Events()) << "attach runs the import by ordinal";

        auto greeting = reinterpret_cast<const char* (*)()>(image.FindExport("Greeting"));
        auto attachedProcess = reinterpret_cast<DWORD (*)()>(image.FindExport("AttachedProcess"));
        ASSERT_TRUE(greeting && attachedProcess);
        const char* text = greeting();
        EXPECT_GE(reinterpret_cast<const std::uint8_t*>(text), image.Base());
        EXPECT_LT(reinterpret_cast<const std::uint8_t*>(text), image.Base() + image.Size());
        EXPECT_STREQ("relocated", text);
        EXPECT_EQ(::GetCurrentProcessId(), attachedProcess()) << "import by name";
        EXPECT_EQ(nullptr, image.FindExport("greeting"));

        MEMORY_BASIC_INFORMATION info{};
        ASSERT_NE(0u, ::VirtualQuery(reinterpret_cast<const void*>(greeting), &info, sizeof info));
        EXPECT_EQ(static_cast<DWORD>(PAGE_EXECUTE_READ), info.Protect) << std::hex << info.Protect;
    }
    EXPECT_EQ((std::vector<int>{1, 2}), Events());
}

TEST_F(PrivateImageTest, ImageLandsOnItsPreferredBaseWhenFree) {
    PrivateImage image;
    ASSERT_TRUE(image.Load(path_.c_str()));
    EXPECT_EQ(reinterpret_cast<std::uint8_t*>(0x1C000000), image.Base());
    auto greeting = reinterpret_cast<const char* (*)()>(image.FindExport("Greeting"));
    ASSERT_NE(nullptr, greeting);
    EXPECT_STREQ("relocated", greeting());
    image.Unload();
    EXPECT_FALSE(image.Loaded());
    EXPECT_EQ((std::vector<int>{1, 2}), Events());
}

TEST_F(PrivateImageTest, FilesThatAreNoImageDoNotLoad) {
    tolvane::test::TempDir dir;
    ASSERT_TRUE(tolvane::test::WriteText(dir / "text.dll", "MZ but nothing after it"));
    PrivateImage image;
    EXPECT_FALSE(image.Load((dir / "text.dll").c_str()));
    EXPECT_FALSE(image.Load((dir / "missing.dll").c_str()));
    EXPECT_FALSE(image.Loaded());
    EXPECT_TRUE(Events().empty());
}

TEST_F(PrivateImageTest, DllWithoutAnEntryPointLoadsWithoutCallingItsHeader) {
    auto bytes = tolvane::test::ReadBytes(path_);
    auto layout = ReadPeLayout(bytes.data(), bytes.size());
    ASSERT_TRUE(layout.has_value());
    DosHeader dos;
    std::memcpy(&dos, bytes.data(), sizeof dos);
    std::size_t entryAt = dos.ntHeaderOffset + 4 + sizeof(FileHeader) + offsetof(OptionalHeader32, addressOfEntryPoint);
    std::memset(bytes.data() + entryAt, 0, 4);
    tolvane::test::TempDir dir;
    ASSERT_TRUE(tolvane::test::WriteBytes(dir / "no_entry.dll", bytes));
    {
        PrivateImage image;
        ASSERT_TRUE(image.Load((dir / "no_entry.dll").c_str()));
        auto greeting = reinterpret_cast<const char* (*)()>(image.FindExport("Greeting"));
        ASSERT_NE(nullptr, greeting);
        EXPECT_STREQ("relocated", greeting());
    }
    EXPECT_TRUE(Events().empty()) << "neither attach nor detach has an entry point to run";
}

TEST_F(PrivateImageTest, ExportRepairRestoresAPatchedEntryAndLeavesAMatchingOneAlone) {
    HMODULE module = ::LoadLibraryA(path_.c_str());
    ASSERT_NE(nullptr, module) << "GetLastError " << ::GetLastError();
    auto unload = scope_exit([&] { ::FreeLibrary(module); });
    FARPROC greeting = ::GetProcAddress(module, "Greeting");
    FARPROC attached = ::GetProcAddress(module, "AttachedProcess");
    ASSERT_TRUE(greeting && attached);

    EXPECT_EQ(ExportRepairResult::AlreadyMatching, RepairExportEntry(module, "Greeting"));
    EXPECT_EQ(greeting, ::GetProcAddress(module, "Greeting"));

    // Point the Greeting entry at AttachedProcess, as a hiding patch would.
    auto* base = reinterpret_cast<std::uint8_t*>(module);
    auto slot = FindExportSlot(base, 0x10000, "Greeting");
    ASSERT_TRUE(slot.has_value());
    auto* entry = reinterpret_cast<std::uint32_t*>(base + *slot);
    DWORD protection, old;
    ASSERT_TRUE(::VirtualProtect(entry, 4, PAGE_READWRITE, &protection));
    std::uint32_t original = *entry;
    *entry = static_cast<std::uint32_t>(reinterpret_cast<std::uint8_t*>(attached) - base);
    ::VirtualProtect(entry, 4, protection, &old);
    ASSERT_EQ(attached, ::GetProcAddress(module, "Greeting"));

    EXPECT_EQ(ExportRepairResult::Repaired, RepairExportEntry(module, "Greeting"));
    EXPECT_EQ(original, *entry);
    EXPECT_EQ(greeting, ::GetProcAddress(module, "Greeting"));
    MEMORY_BASIC_INFORMATION info{};
    ASSERT_NE(0u, ::VirtualQuery(entry, &info, sizeof info));
    EXPECT_EQ(protection, info.Protect) << "the entry's page keeps its protection";

    EXPECT_EQ(ExportRepairResult::Failed, RepairExportEntry(module, "NoSuchExport"));
}

TEST(ExportRepair, LoadedKernel32MatchesAPrivateCopyOfItsFile) {
    // A private copy of the real kernel32 loads, runs its entry point and yields the
    // same export values as the module the system loaded; nothing is written.
    HMODULE kernel32 = ::GetModuleHandleA("kernel32.dll");
    for (const char* name : {"Process32First", "Process32Next", "Thread32First", "Thread32Next",
                             "Module32First", "Module32Next"}) {
        FARPROC before = ::GetProcAddress(kernel32, name);
        EXPECT_EQ(ExportRepairResult::AlreadyMatching, RepairExportEntry(kernel32, name)) << name;
        EXPECT_EQ(before, ::GetProcAddress(kernel32, name)) << name;
    }
}
