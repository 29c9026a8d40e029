// Moving files into the quarantine folder on disk: the bytes written, what replaces what,
// and that a copy which cannot finish keeps the original and leaves no half file.
#include "detectors/quarantine.h"
#include "detectors/quarantine_file.h"
#include "detectors/trojan_detector.h"
#include "test_support.h"
#include "unique_handle.h"

#include <gtest/gtest.h>

#include <memory>

using namespace tolvane;
using namespace tolvane::test;

namespace {

constexpr DWORD kNoProcess = 0xFFFFFFFF;

std::vector<std::uint8_t> Pattern(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7 + i / 251);
    return bytes;
}

class QuarantineTest : public ::testing::Test {
protected:
    std::string Folder() const { return dir_ / "Infected Files"; }
    std::unique_ptr<TrojanDetector> Detector(const std::string& path) {
        auto detector = std::make_unique<TrojanDetector>(path.c_str(), kNoProcess, 0);
        detector->SetQuarantineParent(dir_.path());
        return detector;
    }
    void ExpectQuarantined(const std::string& quarantine, const std::string& original,
                           const std::vector<std::uint8_t>& content) {
        auto bytes = ReadBytes(quarantine);
        ASSERT_EQ(260 + content.size(), bytes.size()) << quarantine;
        QuarantinedFile parsed;
        ASSERT_TRUE(ParseQuarantineFile(bytes.data(), bytes.size(), parsed));
        EXPECT_EQ(original, parsed.originalPath);
        EXPECT_TRUE(parsed.content == content) << "restored bytes differ from the original";
        for (std::size_t i = 0; i < content.size(); ++i)
            if (bytes[260 + i] != (content[i] ^ 0x5B)) {
                ADD_FAILURE() << "byte " << i << " is not XOR 0x5B";
                break;
            }
    }

    TempDir dir_;
};

}  // namespace

TEST_F(QuarantineTest, FileMovesAsHeaderAndScrambledBlocksAndRestoresExactly) {
    std::string source = dir_ / "Patch.exe";
    auto content = Pattern(3 * 4096 + 17);  // several read blocks and a short one
    ASSERT_TRUE(WriteBytes(source, content));
    auto detector = Detector(source);
    ASSERT_TRUE(detector->Quarantine()) << "error " << detector->GetErrorCode();
    EXPECT_FALSE(FileExists(source));
    ExpectQuarantined(Folder() + "\\Patch.exe.KWR", source, content);

    auto bytes = ReadBytes(Folder() + "\\Patch.exe.KWR");
    QuarantinedFile parsed;
    ASSERT_TRUE(ParseQuarantineFile(bytes.data(), bytes.size(), parsed));
    ASSERT_TRUE(WriteBytes(parsed.originalPath, parsed.content));
    EXPECT_EQ(content, ReadBytes(source)) << "restored file";
}

// The quarantine file of one edition is the other's: the program that restores it may be
// of the other kind (a 32-bit installation replaced by a 64-bit one keeps its quarantine).
TEST_F(QuarantineTest, QuarantineFileIsTheSameFromEitherEdition) {
    const std::string folder = "C:\\Tolvane Editions";
    RemoveTree(folder);
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr)) << "GetLastError " << ::GetLastError();
    auto cleanUp = scope_exit([&] { RemoveTree(folder); });
    ASSERT_TRUE(WriteBytes(folder + "\\sample.exe", Pattern(700)));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS),
              QuarantineCopyFile(folder + "\\sample.exe", dir_ / "sample.exe.KWR"));
    ExpectSameAsEditionFixture("sample.exe.KWR", ReadBytes(dir_ / "sample.exe.KWR"));
}

TEST_F(QuarantineTest, SpaceNameLaterCopyAndEmptyFile) {
    std::string spaced = dir_ / " .exe";
    ASSERT_TRUE(WriteBytes(spaced, Pattern(10)));
    auto detector = Detector(spaced);
    ASSERT_TRUE(detector->Quarantine());
    ExpectQuarantined(Folder() + "\\BACKORIFICE.KWR", spaced, Pattern(10));

    ::CreateDirectoryA((dir_ / "other").c_str(), nullptr);
    std::string second = dir_ / "other\\ .exe";
    ASSERT_TRUE(WriteBytes(second, {}));
    ASSERT_TRUE(detector->Quarantine(second.c_str()));
    ExpectQuarantined(Folder() + "\\BACKORIFICE.KWR", second, {});
    EXPECT_EQ(260u, ReadBytes(Folder() + "\\BACKORIFICE.KWR").size()) << "an empty file is its header";
}

TEST_F(QuarantineTest, MissingFilesAndFoldersNeedNoMoving) {
    auto detector = Detector(dir_ / "gone.exe");
    EXPECT_TRUE(detector->Quarantine());
    EXPECT_TRUE(detector->Quarantine(dir_.path().c_str())) << "a folder is not moved";
    EXPECT_TRUE(detector->Quarantine(""));
    EXPECT_EQ(0u, detector->GetErrorCode());
    EXPECT_FALSE(FileExists(Folder() + "\\gone.exe.KWR"));
}

TEST_F(QuarantineTest, FolderThatCannotBeMadeFailsWithTheSystemCode) {
    std::string source = dir_ / "t.exe";
    ASSERT_TRUE(WriteBytes(source, Pattern(5)));
    TrojanDetector detector(source.c_str(), kNoProcess, 0);
    detector.SetQuarantineParent(dir_ / "no\\such\\folder");
    EXPECT_FALSE(detector.Quarantine());
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), detector.GetErrorCode());
    EXPECT_TRUE(FileExists(source));
}

TEST_F(QuarantineTest, FileHeldOpenByAnotherFailsAndStays) {
    std::string source = dir_ / "held.exe";
    ASSERT_TRUE(WriteBytes(source, Pattern(100)));
    unique_file holder(::CreateFileA(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                     FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(holder);
    auto detector = Detector(source);
    EXPECT_FALSE(detector->Quarantine());
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), detector->GetErrorCode());
    holder.reset();
    EXPECT_EQ(Pattern(100), ReadBytes(source));
    EXPECT_FALSE(FileExists(Folder() + "\\held.exe.KWR"));
}

TEST_F(QuarantineTest, DestinationThatCannotBeWrittenKeepsTheSource) {
    std::string source = dir_ / "keep.exe";
    ASSERT_TRUE(WriteBytes(source, Pattern(5000)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_PATH_NOT_FOUND), QuarantineCopyFile(source, dir_ / "none\\keep.exe.KWR"));
    EXPECT_EQ(Pattern(5000), ReadBytes(source));

    std::string busy = dir_ / "busy.KWR";
    ASSERT_TRUE(WriteBytes(busy, Pattern(3)));
    unique_file holder(::CreateFileA(busy.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr));
    ASSERT_TRUE(holder);
    EXPECT_EQ(static_cast<DWORD>(ERROR_SHARING_VIOLATION), QuarantineCopyFile(source, busy));
    EXPECT_EQ(Pattern(5000), ReadBytes(source));
}

TEST_F(QuarantineTest, ReadFailureMidwayRemovesThePartialCopyAndKeepsTheSource) {
    std::string source = dir_ / "mid.exe";
    std::string destination = dir_ / "mid.exe.KWR";
    ASSERT_TRUE(WriteBytes(source, Pattern(3 * 4096)));
    int calls = 0;
    BlockReader failSecond = [&](HANDLE file, void* buffer, DWORD size, DWORD& got) {
        if (++calls == 2) {
            ::SetLastError(ERROR_CRC);
            return false;
        }
        return ::ReadFile(file, buffer, size, &got, nullptr) != FALSE;
    };
    EXPECT_EQ(static_cast<DWORD>(ERROR_CRC), QuarantineCopyFile(source, destination, failSecond));
    EXPECT_EQ(2, calls) << "a failed read ends the copy";
    EXPECT_FALSE(FileExists(destination));
    EXPECT_EQ(Pattern(3 * 4096), ReadBytes(source));

    BlockReader failSilently = [](HANDLE, void*, DWORD, DWORD&) {
        ::SetLastError(ERROR_SUCCESS);
        return false;
    };
    EXPECT_NE(static_cast<DWORD>(ERROR_SUCCESS), QuarantineCopyFile(source, destination, failSilently))
        << "a failure without a code is still a failure";
    EXPECT_TRUE(FileExists(source));
}

TEST_F(QuarantineTest, LaterQuarantineOfTheSameNameReplacesTheEarlier) {
    std::string first = dir_ / "dup.exe";
    ASSERT_TRUE(WriteBytes(first, Pattern(50)));
    auto detector = Detector(first);
    ASSERT_TRUE(detector->Quarantine());
    ::CreateDirectoryA((dir_ / "b").c_str(), nullptr);
    std::string second = dir_ / "b\\dup.exe";
    ASSERT_TRUE(WriteBytes(second, Pattern(20)));
    ASSERT_TRUE(detector->Quarantine(second.c_str()));
    ExpectQuarantined(Folder() + "\\dup.exe.KWR", second, Pattern(20));
}
