#include "maintenance/quarantine_manager.h"

#include "app_test_support.h"
#include "quarantine_format.h"
#include "registry_support.h"
#include "resource.h"
#include "test_support.h"
#include "unique_handle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

namespace tolvane {
namespace {

using test::FileExists;
using test::ReadBytes;

std::vector<std::uint8_t> Content(std::size_t size) {
    std::vector<std::uint8_t> bytes(size);
    for (std::size_t i = 0; i < size; ++i) bytes[i] = static_cast<std::uint8_t>(i * 7);
    return bytes;
}

std::vector<std::uint8_t> QuarantineBytes(const std::string& formerPath, std::vector<std::uint8_t> content) {
    QuarantineHeader header = MakeQuarantineHeader(formerPath);
    std::vector<std::uint8_t> bytes(sizeof header + content.size());
    std::memcpy(bytes.data(), &header, sizeof header);
    ScrambleQuarantineBytes(content.data(), content.size());
    std::copy(content.begin(), content.end(), bytes.begin() + sizeof header);
    return bytes;
}

class Quarantine : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(::CreateDirectoryA(folder_.c_str(), nullptr)); }
    std::string Put(const std::string& name, const std::vector<std::uint8_t>& bytes) {
        std::string path = folder_ + "\\" + name;
        EXPECT_TRUE(test::WriteBytes(path, bytes));
        return path;
    }

    test::ScopedProductKey key_;
    test::TempDir dir_;
    std::string folder_ = QuarantineFolder(dir_.path());
    std::vector<UINT> asked_;
    ConfirmQuestion answer(bool ok, bool stopAsking) {
        return [this, ok, stopAsking](UINT question) {
            asked_.push_back(question);
            if (stopAsking) StopConfirming(question);
            return ok;
        };
    }
};

TEST_F(Quarantine, RestoreBringsBackEveryFileItCanAndReportsEachOneItCannot) {
    ASSERT_TRUE(test::SetDword(test::kProductKey, "ConfirmRestore", 0, REG_BINARY));
    ASSERT_TRUE(test::WriteText(dir_ / "taken.exe", "someone else's"));
    Put("good.exe.KWR", QuarantineBytes(dir_ / "good.exe", Content(5000)));
    std::string taken = Put("taken.exe.KWR", QuarantineBytes(dir_ / "taken.exe", Content(10)));
    std::string nowhere = Put("nowhere.exe.KWR", QuarantineBytes(dir_ / "gone\\nowhere.exe", Content(10)));
    ASSERT_TRUE(::CreateDirectoryA((folder_ + "\\sub").c_str(), nullptr));

    QuarantineManager manager(folder_);
    manager.Refresh();
    EXPECT_EQ("<Unknown>", manager.DefinitionsDate());
    std::vector<std::string> listed = manager.Files();
    std::sort(listed.begin(), listed.end());
    ASSERT_EQ((std::vector<std::string>{"good.exe.KWR", "nowhere.exe.KWR", "taken.exe.KWR"}), listed);
    EXPECT_EQ(dir_ / "taken.exe", QuarantinedFrom(taken));

    test::CaughtMessages messages;
    manager.Restore({"taken.exe.KWR", "good.exe.KWR", "nowhere.exe.KWR"}, answer(false, false));
    EXPECT_TRUE(asked_.empty());
    EXPECT_EQ(Content(5000), ReadBytes(dir_ / "good.exe"));
    EXPECT_EQ("someone else's", test::ReadText(dir_ / "taken.exe"));
    EXPECT_TRUE(FileExists(taken) && FileExists(nowhere));
    ASSERT_EQ(3u, messages.shown().size());
    EXPECT_EQ("There was an error trying to read or open the file '" + taken + "'. The file could not be restored.",
              messages.shown()[0].text);
    EXPECT_NE(std::string::npos, messages.shown()[1].text.find(nowhere));
    EXPECT_EQ("The file(s) have been restored.", messages.shown()[2].text);
    EXPECT_EQ(2u, manager.Files().size());

    // A missing folder lists nothing.
    QuarantineManager missing(dir_ / "none");
    missing.Refresh();
    EXPECT_TRUE(missing.Files().empty());
}

TEST_F(Quarantine, FileQuarantinedByTheOtherEditionRestores) {
    // Written by the 32-bit engine from "C:\Tolvane Editions\sample.exe" (700 bytes).
    const std::string folder = "C:\\Tolvane Editions";
    test::RemoveTree(folder);
    ASSERT_TRUE(::CreateDirectoryA(folder.c_str(), nullptr)) << "GetLastError " << ::GetLastError();
    auto cleanUp = scope_exit([&] { test::RemoveTree(folder); });
    std::vector<std::uint8_t> fixture = test::EditionFixture("sample.exe.KWR");
    ASSERT_EQ(960u, fixture.size());
    std::string file = Put("sample.exe.KWR", fixture);
    EXPECT_EQ(folder + "\\sample.exe", QuarantinedFrom(file));
    ASSERT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RestoreQuarantinedFile(file));
    std::vector<std::uint8_t> restored = ReadBytes(folder + "\\sample.exe");
    ASSERT_EQ(700u, restored.size());
    for (std::size_t i = 0; i < restored.size(); ++i)
        ASSERT_EQ(static_cast<std::uint8_t>(i * 7 + i / 251), restored[i]) << "byte " << i;
    EXPECT_FALSE(FileExists(file));
}

TEST_F(Quarantine, QuestionsAskedUntilSwitchedOffAndOddStoredValuesIgnored) {
    ASSERT_TRUE(test::SetDword(test::kProductKey, "ConfirmDelete", 2, REG_BINARY));
    ASSERT_TRUE(test::SetString(HKEY_LOCAL_MACHINE, std::string(test::kProductKey) + "\\Engine", "VirusDefsDate",
                                "6/21/2000"));
    std::string kept = Put("a.exe.KWR", QuarantineBytes(dir_ / "a.exe", Content(3)));
    QuarantineManager manager(folder_);
    manager.Refresh();
    EXPECT_EQ(1, manager.ConfirmDelete());
    EXPECT_EQ("6/21/2000", manager.DefinitionsDate());
    test::CaughtMessages messages;

    manager.Restore({}, answer(true, false));
    manager.Delete({}, answer(true, false));
    EXPECT_TRUE(asked_.empty() && messages.shown().empty());

    // "Don't ask me this question again." and then Cancel.
    manager.Restore({"a.exe.KWR"}, answer(false, true));
    EXPECT_EQ(std::vector<UINT>{IDS_CONFIRM_RESTORE}, asked_);
    EXPECT_TRUE(FileExists(kept) && messages.shown().empty());
    manager.Refresh();
    EXPECT_EQ(0, manager.ConfirmRestore());
    manager.Restore({"a.exe.KWR"}, answer(false, false));
    ASSERT_EQ(1u, asked_.size());
    EXPECT_EQ(Content(3), ReadBytes(dir_ / "a.exe"));

    Put("b.KWR", Content(3));
    manager.Delete({"b.KWR", "vanished.KWR"}, answer(true, false));
    EXPECT_EQ(IDS_CONFIRM_DELETE, asked_.back());
    EXPECT_TRUE(manager.Files().empty());
    ASSERT_EQ(2u, messages.shown().size());
    EXPECT_EQ("The file(s) have been deleted.", messages.shown()[1].text);
}

TEST_F(Quarantine, ForgedHeadersAreRefusedAndTheirFilesKept) {
    std::string path = dir_ / "x.exe";
    struct Forged {
        std::vector<std::uint8_t> bytes;
        DWORD error;
    };
    std::vector<Forged> forged = {
        {{}, ERROR_BAD_PATHNAME},  // no path at all
        {QuarantineBytes("..\\up.exe", Content(4)), ERROR_BAD_PATHNAME},
        {QuarantineBytes("relative.exe", Content(4)), ERROR_BAD_PATHNAME},
        {QuarantineBytes(dir_ / "..\\up.exe", Content(4)), ERROR_BAD_PATHNAME},
        {QuarantineBytes("\\\\.\\PhysicalDrive0", Content(4)), ERROR_BAD_PATHNAME},
        {QuarantineBytes(dir_ / "CON.txt", Content(4)), ERROR_BAD_PATHNAME},
        {QuarantineBytes(path + ":hidden", Content(4)), ERROR_BAD_PATHNAME},
        {QuarantineBytes(dir_.path() + "\\", Content(4)), ERROR_BAD_PATHNAME},
        {std::vector<std::uint8_t>(300, 'A'), ERROR_INVALID_DATA},  // no end to the path
    };
    for (std::size_t i = 0; i < forged.size(); ++i) {
        std::string file = Put("forged.KWR", forged[i].bytes);
        EXPECT_EQ(forged[i].error, RestoreQuarantinedFile(file)) << "case " << i;
        EXPECT_EQ(forged[i].bytes, ReadBytes(file)) << "case " << i;
    }
    EXPECT_EQ("", QuarantinedFrom(folder_ + "\\forged.KWR"));  // the last case names none
    EXPECT_FALSE(FileExists(dir_ / "..\\up.exe"));
    EXPECT_FALSE(FileExists(path));
    // The stream's own file, named without the stream, is restored.
    std::string plain = Put("plain.KWR", QuarantineBytes(path, Content(4)));
    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RestoreQuarantinedFile(plain));
    EXPECT_EQ(Content(4), ReadBytes(path));
}

TEST_F(Quarantine, FileShorterThanTheHeaderRestoresThePathItHoldsAsAnEmptyFile) {
    // Cut after the path's zero, and cut inside the path: the text is the path either way.
    for (bool ended : {true, false}) {
        std::string path = dir_ / (ended ? "ended.exe" : "cut.exe");
        std::vector<std::uint8_t> cut(path.begin(), path.end());
        if (ended) cut.push_back(0);
        std::string file = Put("short.KWR", cut);
        EXPECT_EQ(path, QuarantinedFrom(file));
        EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RestoreQuarantinedFile(file)) << path;
        EXPECT_TRUE(FileExists(path) && ReadBytes(path).empty()) << path;
        EXPECT_FALSE(FileExists(file));
    }
    // The path checks hold for a short file too.
    std::string up = dir_ / "..\\short-up.exe";
    std::string file = Put("short.KWR", std::vector<std::uint8_t>(up.begin(), up.end()));
    EXPECT_EQ(static_cast<DWORD>(ERROR_BAD_PATHNAME), RestoreQuarantinedFile(file));
    EXPECT_TRUE(FileExists(file));
    EXPECT_FALSE(FileExists(dir_ / "..\\short-up.exe"));
}

TEST_F(Quarantine, DeleteReportsEveryFileThatStayedAndSaysDeletedOnlyForTheRest) {
    ASSERT_TRUE(test::SetDword(test::kProductKey, "ConfirmDelete", 0, REG_BINARY));
    std::string readOnly = Put("read-only.KWR", Content(3));
    std::string inUse = Put("in-use.KWR", Content(3));
    std::string plain = Put("plain.KWR", Content(3));
    ASSERT_TRUE(::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
    auto writable = scope_exit([&] { ::SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_NORMAL); });
    unique_file held(::CreateFileA(inUse.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                                   FILE_ATTRIBUTE_NORMAL, nullptr));
    ASSERT_TRUE(held);
    auto stayed = [](const std::string& file) {
        return "There was an error trying to delete the file '" + file +
               "'. The file is still in the 'Infected Files' folder.";
    };
    QuarantineManager manager(folder_);
    manager.Refresh();
    {
        test::CaughtMessages messages;
        manager.Delete({"read-only.KWR", "plain.KWR", "in-use.KWR"}, answer(true, false));
        EXPECT_EQ((std::vector<std::string>{stayed(readOnly), stayed(inUse), "The file(s) have been deleted."}),
                  test::ShownTexts(messages));
    }
    EXPECT_FALSE(FileExists(plain));
    EXPECT_TRUE(FileExists(readOnly) && FileExists(inUse));
    std::vector<std::string> listed = manager.Files();
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ((std::vector<std::string>{"in-use.KWR", "read-only.KWR"}), listed);

    test::CaughtMessages messages;
    manager.Delete({"in-use.KWR"}, answer(true, false));
    EXPECT_EQ(std::vector<std::string>{stayed(inUse)}, test::ShownTexts(messages)) << "no word of success";
}

TEST_F(Quarantine, FailedWriteOrReadKeepsTheQuarantineFileAndLeavesNoPartialRestore) {
    std::vector<std::uint8_t> bytes = QuarantineBytes(dir_ / "big.exe", Content(10000));
    std::string file = Put("big.exe.KWR", bytes);
    int calls = 0;
    BlockWriter fullDisk = [&calls](HANDLE out, const void* data, DWORD size, DWORD& written) {
        if (++calls == 1) return ::WriteFile(out, data, size, &written, nullptr) != FALSE;
        ::SetLastError(ERROR_DISK_FULL);
        return false;
    };
    BlockReader badSector = [&calls](HANDLE in, void* buffer, DWORD size, DWORD& got) {
        if (++calls == 1) return ::ReadFile(in, buffer, size, &got, nullptr) != FALSE;
        ::SetLastError(ERROR_CRC);
        return false;
    };
    EXPECT_EQ(static_cast<DWORD>(ERROR_DISK_FULL), RestoreQuarantinedFile(file, nullptr, fullDisk));
    EXPECT_EQ(bytes, ReadBytes(file));
    EXPECT_FALSE(FileExists(dir_ / "big.exe"));
    calls = 0;
    EXPECT_EQ(static_cast<DWORD>(ERROR_CRC), RestoreQuarantinedFile(file, badSector));
    EXPECT_EQ(bytes, ReadBytes(file));
    EXPECT_FALSE(FileExists(dir_ / "big.exe"));

    EXPECT_EQ(static_cast<DWORD>(ERROR_SUCCESS), RestoreQuarantinedFile(file));
    EXPECT_EQ(Content(10000), ReadBytes(dir_ / "big.exe"));
    EXPECT_FALSE(FileExists(file));
}

}  // namespace
}  // namespace tolvane
