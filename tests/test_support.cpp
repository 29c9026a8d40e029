#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <iterator>

namespace tolvane::test {

TempDir::TempDir() {
    char base[MAX_PATH];
    ::GetTempPathA(sizeof base, base);
    static LONG counter = 0;
    for (;;) {
        path_ = std::string(base) + "tolvane-test-" + std::to_string(::GetCurrentProcessId()) +
                "-" + std::to_string(::InterlockedIncrement(&counter));
        if (::CreateDirectoryA(path_.c_str(), nullptr)) break;
    }
}

TempDir::~TempDir() { RemoveTree(path_); }

void RemoveTree(const std::string& path) {
    WIN32_FIND_DATAA data;
    HANDLE find = ::FindFirstFileA((path + "\\*").c_str(), &data);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            std::string name = data.cFileName;
            if (name == "." || name == "..") continue;
            std::string full = path + "\\" + name;
            ::SetFileAttributesA(full.c_str(), FILE_ATTRIBUTE_NORMAL);
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(full);
            else
                ::DeleteFileA(full.c_str());
        } while (::FindNextFileA(find, &data));
        ::FindClose(find);
    }
    ::RemoveDirectoryA(path.c_str());
}

bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

bool WriteText(const std::string& path, const std::string& text) {
    return WriteBytes(path, std::vector<std::uint8_t>(text.begin(), text.end()));
}

std::vector<std::uint8_t> ReadBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<std::uint8_t>(std::istreambuf_iterator<char>(in), {});
}

std::string ReadText(const std::string& path) {
    auto bytes = ReadBytes(path);
    return std::string(bytes.begin(), bytes.end());
}

bool FileExists(const std::string& path) {
    return ::GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

std::vector<std::uint8_t> SignatureFileBytes(const std::vector<SignatureEntry>& entries,
                                             std::uint16_t month, std::uint16_t day,
                                             std::uint16_t year) {
    SignatureFileHeader header{};
    std::memcpy(header.magic, kSignatureMagic, 4);
    header.entryCount = static_cast<std::uint16_t>(entries.size());
    header.month = month;
    header.day = day;
    header.year = year;
    std::vector<std::uint8_t> bytes(sizeof header + entries.size() * sizeof(SignatureEntry));
    std::memcpy(bytes.data(), &header, sizeof header);
    if (!entries.empty())
        std::memcpy(bytes.data() + sizeof header, entries.data(), entries.size() * sizeof(SignatureEntry));
    return bytes;
}

std::string OnDisk(const std::string& text) {
    std::string out;
    for (char c : text) {
        if (c == '\n') out += '\r';
        out += c;
    }
    return out;
}

bool SamePath(const std::string& a, const std::string& b) {
    return ::lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

std::string CurrentDirectory() {
    char buffer[MAX_PATH];
    DWORD n = ::GetCurrentDirectoryA(sizeof buffer, buffer);
    return std::string(buffer, n);
}

std::string ModuleDirectory() {
    char buffer[MAX_PATH];
    DWORD n = ::GetModuleFileNameA(nullptr, buffer, sizeof buffer);
    std::string path(buffer, n);
    return path.substr(0, path.find_last_of('\\'));
}

std::vector<std::uint8_t> EditionFixture(const std::string& name) {
    return ReadBytes(ModuleDirectory() + "\\fixtures\\editions\\" + name);
}

void ExpectSameAsEditionFixture(const std::string& name, const std::vector<std::uint8_t>& produced) {
    char folder[MAX_PATH];
    DWORD n = ::GetEnvironmentVariableA("TOLVANE_WRITE_EDITION_FIXTURES", folder, sizeof folder);
    if (n > 0 && n < sizeof folder) {
        std::string path = std::string(folder) + "\\" + name;
        ADD_FAILURE() << (WriteBytes(path, produced) ? "wrote the fixture " : "could not write ") << path;
        return;
    }
    std::vector<std::uint8_t> fixture = EditionFixture(name);
    ASSERT_FALSE(fixture.empty()) << "no fixture " << name << " beside the test program";
    EXPECT_EQ(fixture.size(), produced.size()) << name;
    auto mismatch = std::mismatch(fixture.begin(), fixture.end(), produced.begin(), produced.end());
    EXPECT_TRUE(mismatch.first == fixture.end() && mismatch.second == produced.end())
        << name << " differs from the other edition's at byte " << (mismatch.first - fixture.begin());
}

}  // namespace tolvane::test
