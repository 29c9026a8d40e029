// Small helpers the test programs share: a scratch folder, whole-file read and write,
// and the signature-file bytes the engines read.
#pragma once

#include "signature_file.h"

#include <windows.h>

#include <cstdint>
#include <string>
#include <vector>

namespace tolvane::test {

// A fresh folder under %TEMP%, removed with everything in it at the end of the scope.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::string& path() const { return path_; }
    std::string operator/(const std::string& name) const { return path_ + "\\" + name; }

private:
    std::string path_;
};

void RemoveTree(const std::string& path);
bool WriteBytes(const std::string& path, const std::vector<std::uint8_t>& bytes);
bool WriteText(const std::string& path, const std::string& text);
std::vector<std::uint8_t> ReadBytes(const std::string& path);
std::string ReadText(const std::string& path);
bool FileExists(const std::string& path);

// Bytes of a signature file: header with the given date, then the entries.
std::vector<std::uint8_t> SignatureFileBytes(const std::vector<SignatureEntry>& entries,
                                             std::uint16_t month = 6, std::uint16_t day = 21,
                                             std::uint16_t year = 2000);

// What a text-mode stream puts on disk for `text`: CR before every LF.
std::string OnDisk(const std::string& text);
bool SamePath(const std::string& a, const std::string& b);  // ignoring case
std::string CurrentDirectory();
std::string ModuleDirectory();  // folder of the running test program

// Files that both editions write alike (the diagnostic dump, a quarantine file), kept in
// tests/fixtures/editions/ as the 32-bit edition wrote them: each edition's tests check
// that they write these very bytes and read them back, so a file one edition writes is
// one the other reads. The build copies them beside the test programs.
std::vector<std::uint8_t> EditionFixture(const std::string& name);
// Fails the calling test unless `produced` is the fixture `name` byte for byte. With
// TOLVANE_WRITE_EDITION_FIXTURES naming a folder, writes `produced` there instead and
// still fails, so that a run which makes fixtures never passes as one that checks them.
void ExpectSameAsEditionFixture(const std::string& name, const std::vector<std::uint8_t>& produced);

}  // namespace tolvane::test
