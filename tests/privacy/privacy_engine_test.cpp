// The PrivacyEngine object driven as the Privacy Control page drives it (Scan,
// ProcessList, Close), loaded from hyseng32.dll, with a generated psigs.kws, real
// registry keys and a running specimen process.
#include "engine_codes.h"
#include "hyseng32.h"
#include "plugin_module.h"
#include "privacy_test_support.h"
#include "registry_support.h"
#include "test_support.h"
#include "unique_handle.h"

#include <gtest/gtest.h>
#include <wrl/client.h>

#include <cstring>

using Microsoft::WRL::ComPtr;
using namespace tolvane;
using namespace tolvane::test;

namespace {

const char kToolName[] = "WinWhatWhere Investigator";
const std::string kUserKey = "Software\\Ostrimark\\Tolvane Privacy Test";
const std::string kMachineKey = "SOFTWARE\\Ostrimark\\Tolvane Privacy Test";

class PrivacyEngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(module_.Loaded()) << module_.Path() << " GetLastError " << ::GetLastError();
        DeleteTree(HKEY_CURRENT_USER, kUserKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kMachineKey);
        previousDirectory_ = CurrentDirectory();
        // The engine takes psigs.kws from the folder current when it was made.
        ASSERT_TRUE(::SetCurrentDirectoryA(dir_.path().c_str()));
        engine_ = NewEngine();
        ASSERT_TRUE(engine_);
    }
    void TearDown() override {
        engine_.Reset();
        ::SetCurrentDirectoryA(previousDirectory_.c_str());
        DeleteTree(HKEY_CURRENT_USER, kUserKey);
        DeleteTree(HKEY_LOCAL_MACHINE, kMachineKey);
    }

    ComPtr<IPrivacyEngine> NewEngine() {
        ComPtr<IClassFactory> factory;
        ComPtr<IPrivacyEngine> engine;
        if (SUCCEEDED(module_.GetClassObject(CLSID_PrivacyEngine, IID_PPV_ARGS(&factory))))
            factory->CreateInstance(nullptr, IID_PPV_ARGS(&engine));
        return engine;
    }

    void PutSignatures(const std::vector<SignatureEntry>& entries,
                       const std::vector<RegistrySignature>& records) {
        ASSERT_TRUE(WriteBytes(dir_ / "psigs.kws", PrivacyFileBytes(entries, records)));
    }
    unsigned long LastError() {
        unsigned long code = 0xDEADBEEF;
        EXPECT_EQ(S_OK, engine_->get_LastError(&code));
        return code;
    }
    // Scan, expecting success; returns pVal.
    long Scan() {
        long found = 0xDEAD;
        EXPECT_EQ(S_OK, engine_->Scan(&found)) << "LastError " << LastError();
        EXPECT_EQ(1u, LastError());
        return found;
    }
    std::vector<std::string> ProcessList() {
        VARIANT list;
        ::VariantInit(&list);
        std::vector<std::string> names;
        EXPECT_EQ(S_OK, engine_->get_ProcessList(&list));
        if (V_VT(&list) != (VT_ARRAY | VT_BSTR)) {
            ADD_FAILURE() << "variant type " << V_VT(&list);
            ::VariantClear(&list);
            return names;
        }
        LONG lower = -1, upper = -2;
        EXPECT_EQ(1u, ::SafeArrayGetDim(V_ARRAY(&list)));
        ::SafeArrayGetLBound(V_ARRAY(&list), 1, &lower);
        ::SafeArrayGetUBound(V_ARRAY(&list), 1, &upper);
        EXPECT_EQ(0, lower);
        for (LONG i = lower; i <= upper; ++i) {
            BSTR name = nullptr;
            ::SafeArrayGetElement(V_ARRAY(&list), &i, &name);
            unique_bstr owned(name);
            char ansi[300] = {};
            ::WideCharToMultiByte(CP_ACP, 0, name, -1, ansi, sizeof ansi - 1, nullptr, nullptr);
            names.emplace_back(ansi);
        }
        ::VariantClear(&list);
        return names;
    }

    TempDir dir_;
    PluginModule module_{"hyseng32.dll"};
    std::string previousDirectory_;
    ComPtr<IPrivacyEngine> engine_;
};

using Names = std::vector<std::string>;

}  // namespace

TEST_F(PrivacyEngineTest, InitReportsMissingTamperedAndShortFilesThenLoads) {
    EXPECT_EQ(E_FAIL, engine_->Init());
    EXPECT_EQ(kCodeSignatureMissing, LastError());
    auto bytes = PrivacyFileBytes({{0, 1}}, {});
    bytes[0] = 'k';
    ASSERT_TRUE(WriteBytes(dir_ / "psigs.kws", bytes));
    EXPECT_EQ(E_FAIL, engine_->Init());
    EXPECT_EQ(kCodeSignatureMagic, LastError());
    ASSERT_TRUE(WriteBytes(dir_ / "psigs.kws", std::vector<std::uint8_t>(bytes.begin(), bytes.begin() + 10)));
    EXPECT_EQ(E_FAIL, engine_->Init());
    EXPECT_EQ(kCodeSignatureRead, LastError());
    PutSignatures({}, {});
    EXPECT_EQ(S_OK, engine_->Init());
    EXPECT_EQ(1u, LastError());
    ASSERT_TRUE(::DeleteFileA((dir_ / "psigs.kws").c_str()));
    EXPECT_EQ(S_OK, engine_->Init()) << "loaded signatures are not read again";
}

TEST_F(PrivacyEngineTest, NothingListedFindsNothingAndAnEmptyArray) {
    PutSignatures({{0, 0x12345678}}, {RegistryRecord("Absent", kCurrentUser, kUserKey + "\\Nope")});
    ASSERT_EQ(S_OK, engine_->Init());
    EXPECT_EQ(0, Scan());
    EXPECT_EQ(Names{}, ProcessList());
}

TEST_F(PrivacyEngineTest, SpecimenProcessYieldsTheToolOnceAndStaysAfterClose) {
    std::uint32_t fingerprint = FileFingerprint(SleeperPath());
    ASSERT_NE(0u, fingerprint) << SleeperPath();
    PutSignatures({{0, fingerprint}}, {});
    ASSERT_EQ(S_OK, engine_->Init());
    {
        SpecimenProcess first(SleeperPath());
        SpecimenProcess second(SleeperPath());
        ASSERT_TRUE(first.Running() && second.Running());
        EXPECT_EQ(1, Scan());
        EXPECT_EQ(Names{kToolName}, ProcessList()) << "two matching processes, one finding";
        EXPECT_EQ(1, Scan());
        EXPECT_EQ(Names{kToolName}, ProcessList()) << "a later scan adds nothing";
    }
    EXPECT_EQ(S_OK, engine_->Close());
    EXPECT_EQ(1, Scan()) << "the finding is held after the tool ended";
    EXPECT_EQ(Names{kToolName}, ProcessList());
}

TEST_F(PrivacyEngineTest, SpecimenListedWithAnotherTypeIsNotReported) {
    PutSignatures({{1, FileFingerprint(SleeperPath())}}, {});
    ASSERT_EQ(S_OK, engine_->Init());
    SpecimenProcess specimen(SleeperPath());
    ASSERT_TRUE(specimen.Running());
    EXPECT_EQ(0, Scan());
    EXPECT_EQ(Names{}, ProcessList());
}

TEST_F(PrivacyEngineTest, ExistingKeysUnderEitherRootYieldTheirNamesRegistryFirst) {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kUserKey + "\\Tool", "x", "1"));
    ASSERT_TRUE(SetString(HKEY_LOCAL_MACHINE, kMachineKey + "\\Service", "x", "1"));
    PutSignatures({{0, FileFingerprint(SleeperPath())}},
                  {RegistryRecord("User tool", kCurrentUser, kUserKey + "\\Tool"),
                   RegistryRecord("Not installed", kCurrentUser, kUserKey + "\\Other"),
                   RegistryRecord("Machine tool", kLocalMachine, kMachineKey + "\\Service"),
                   RegistryRecord("Wrong root", kLocalMachine, kUserKey + "\\Tool")});
    ASSERT_EQ(S_OK, engine_->Init());
    SpecimenProcess specimen(SleeperPath());
    EXPECT_EQ(1, Scan());
    // Records are probed last in the file first; the running tool comes after them.
    EXPECT_EQ((Names{"Machine tool", "User tool", kToolName}), ProcessList());
    EXPECT_EQ((Names{"Machine tool", "User tool", kToolName}), ProcessList()) << "reading changes nothing";
}

TEST_F(PrivacyEngineTest, ScansGatherNamesUntilClose) {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kUserKey + "\\Tool", "x", "1"));
    PutSignatures({}, {RegistryRecord("User tool", kCurrentUser, kUserKey + "\\Tool")});
    ASSERT_EQ(S_OK, engine_->Init());
    EXPECT_EQ(1, Scan());
    EXPECT_EQ(1, Scan());
    EXPECT_EQ((Names{"User tool", "User tool"}), ProcessList());
    EXPECT_EQ(S_OK, engine_->Close());
    EXPECT_EQ(Names{}, ProcessList());
    DeleteTree(HKEY_CURRENT_USER, kUserKey);
    EXPECT_EQ(0, Scan()) << "the key is gone";
}

TEST_F(PrivacyEngineTest, LoadNewDefsReplacesEveryRecord) {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kUserKey + "\\Old", "x", "1"));
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kUserKey + "\\New", "x", "1"));
    PutSignatures({}, {RegistryRecord("Old tool", kCurrentUser, kUserKey + "\\Old")});
    ASSERT_EQ(S_OK, engine_->Init());
    PutSignatures({{0, FileFingerprint(SleeperPath())}},
                  {RegistryRecord("New tool", kCurrentUser, kUserKey + "\\New")});
    EXPECT_EQ(S_OK, engine_->Init()) << "Init keeps what is loaded";
    SpecimenProcess specimen(SleeperPath());
    EXPECT_EQ(1, Scan());
    EXPECT_EQ(Names{"Old tool"}, ProcessList());
    EXPECT_EQ(S_OK, engine_->Close());
    EXPECT_EQ(S_OK, engine_->LoadNewDefs());
    EXPECT_EQ(1, Scan());
    EXPECT_EQ((Names{"New tool", kToolName}), ProcessList());

    ASSERT_TRUE(::DeleteFileA((dir_ / "psigs.kws").c_str()));
    EXPECT_EQ(E_FAIL, engine_->LoadNewDefs());
    EXPECT_EQ(kCodeSignatureMissing, LastError());
}

TEST_F(PrivacyEngineTest, RetryAfterAShortFileListsEachRecordOnce) {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kUserKey + "\\Tool", "x", "1"));
    auto bytes = PrivacyFileBytes({}, {RegistryRecord("User tool", kCurrentUser, kUserKey + "\\Tool"),
                                       RegistryRecord("Second", kCurrentUser, kUserKey + "\\Second")});
    ASSERT_TRUE(WriteBytes(dir_ / "psigs.kws", std::vector<std::uint8_t>(bytes.begin(), bytes.end() - 1)));
    EXPECT_EQ(E_FAIL, engine_->Init());
    EXPECT_EQ(kCodeSignatureRead, LastError());
    EXPECT_EQ(1, Scan()) << "records read before the failure stay in use";
    EXPECT_EQ(Names{"User tool"}, ProcessList());
    EXPECT_EQ(S_OK, engine_->Close());

    ASSERT_TRUE(WriteBytes(dir_ / "psigs.kws", bytes));
    EXPECT_EQ(S_OK, engine_->Init());
    EXPECT_EQ(1, Scan());
    EXPECT_EQ(Names{"User tool"}, ProcessList()) << "the retried load does not double the record";
}

TEST_F(PrivacyEngineTest, HostileRecordsAreSkippedAndTheRestStillWork) {
    ASSERT_TRUE(SetString(HKEY_CURRENT_USER, kUserKey + "\\Tool", "x", "1"));
    RegistrySignature unterminated = RegistryRecord("", kCurrentUser, kUserKey + "\\Tool");
    std::memset(unterminated.name, 'N', sizeof unterminated.name);
    PutSignatures({}, {unterminated,
                       RegistryRecord("Handle value", 0x00000004u, "Software"),
                       RegistryRecord("Good", kCurrentUser, kUserKey + "\\Tool")});
    ASSERT_EQ(S_OK, engine_->Init());
    EXPECT_EQ(1, Scan());
    EXPECT_EQ(Names{"Good"}, ProcessList());
}

TEST_F(PrivacyEngineTest, ScanWithoutSignaturesFindsNothing) {
    EXPECT_EQ(0, Scan());
    EXPECT_EQ(Names{}, ProcessList());
    EXPECT_EQ(E_POINTER, engine_->Scan(nullptr));
}
