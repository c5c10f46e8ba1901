#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "frame/exports.h"
#include "frame/manager_chain.h"
#include "tests/support/temp_dir.h"

namespace {

// What each slot's test manager does when asked.
struct Behaviour {
    int openResult = E_UNKNOWN_FORMAT;
    int throwOnOpen = 0;
    bool throwOtherOnOpen = false;
    bool canHandle = false;
    bool throwOnHandle = false;
    bool supports = false;
    int packResult = E_SUCCESS;
    int throwOnPack = 0;
    const char* className = nullptr;
};

struct ChainLog {
    Behaviour behaviour[kChainSlots];
    std::vector<std::string> calls;
    int constructed = 0;
    int destroyed = 0;
    int capabilityAsked[kChainSlots] = {-1, -1, -1};
    tProcessDataProc procGiven[kChainSlots] = {};
    bool failConstruction = false;
};
ChainLog g;

const char* const kSlotClass[kChainSlots] = {"CTeskBinManager", "CKyrBinManager", "CZbkArchiveManager"};

class TestManager : public CKyrArchiveManager {
public:
    explicit TestManager(int slot) : m_slot(slot) {
        if (g.failConstruction) throw static_cast<int>(E_NO_MEMORY);
        ++g.constructed;
        g.calls.push_back("new" + std::to_string(slot));
    }
    ~TestManager() override { ++g.destroyed; }
    const char* ClassName() override {
        return b().className ? b().className : kSlotClass[m_slot];
    }
    CKyrArchiveManager* OpenArchive(tOpenArchiveData* d) override {
        g.calls.push_back("open" + std::to_string(m_slot));
        if (b().throwOnOpen) throw b().throwOnOpen;
        if (b().throwOtherOnOpen) throw std::string("not a code");
        d->OpenResult = b().openResult;
        return this;
    }
    int ReadHeader(tHeaderData*) override { return 100 + m_slot; }
    bool CanYouHandleThisFile(char*) override {
        g.calls.push_back("probe" + std::to_string(m_slot));
        if (b().throwOnHandle) throw static_cast<int>(E_BAD_DATA);
        return b().canHandle;
    }
    bool SupportsCapability(int flags) override {
        g.capabilityAsked[m_slot] = flags;
        return b().supports;
    }
    void SetProcessDataProc(tProcessDataProc proc) override {
        g.procGiven[m_slot] = proc;
        CKyrArchiveManager::SetProcessDataProc(proc);
    }
    int PackFiles(char*, char*, char*, char*, int) override {
        g.calls.push_back("pack" + std::to_string(m_slot));
        if (b().throwOnPack) throw b().throwOnPack;
        return b().packResult;
    }
    int DeleteFiles(char*, char*) override {
        g.calls.push_back("delete" + std::to_string(m_slot));
        if (b().throwOnPack) throw b().throwOnPack;
        return b().packResult;
    }

private:
    Behaviour& b() { return g.behaviour[m_slot]; }
    int m_slot;
};

CKyrArchiveManager* Make0() { return new TestManager(0); }
CKyrArchiveManager* Make1() { return new TestManager(1); }
CKyrArchiveManager* Make2() { return new TestManager(2); }
const ManagerFactory kTestFactories[kChainSlots] = {Make0, Make1, Make2};

int KYR_CALL CallbackA(char*, int) { return 1; }
int KYR_CALL CallbackB(char*, int) { return 1; }

class ManagerChainTest : public ::testing::Test {
protected:
    void SetUp() override {
        g = ChainLog();
        SetManagerFactories(kTestFactories);
        SetProcessDataProc(nullptr, nullptr);
    }
    void TearDown() override { SetManagerFactories(nullptr); }

    tOpenArchiveData OpenRecord(const char* name) {
        tOpenArchiveData d = {};
        d.ArcName = const_cast<char*>(name);
        d.OpenResult = -99;
        return d;
    }
    int Pack(const std::string& name) {
        return PackFiles(const_cast<char*>(name.c_str()), nullptr, nullptr, const_cast<char*>("a\0"), 0);
    }
};

TEST_F(ManagerChainTest, ManagersAreCreatedFromTheLastSlotAndAskedFromTheFirst) {
    tOpenArchiveData d = OpenRecord("x");
    EXPECT_EQ(OpenArchive(&d), nullptr);
    EXPECT_EQ(g.calls, (std::vector<std::string>{"new2", "new1", "new0", "open0", "open1", "open2"}));
    EXPECT_EQ(d.OpenResult, E_UNKNOWN_FORMAT);
    EXPECT_EQ(g.destroyed, 3);
}

TEST_F(ManagerChainTest, OpenProbeOutcomes) {
    struct Case {
        const char* what;
        void (*setup)();
        bool accepted;
        int openResult;
        int managersAsked;
    } cases[] = {
        {"the last verdict wins over a thrown code",
         [] { g.behaviour[0].throwOnOpen = E_BAD_DATA; }, false, E_UNKNOWN_FORMAT, 3},
        {"a thrown code of the last manager is kept",
         [] { g.behaviour[2].throwOnOpen = E_EOPEN; }, false, E_EOPEN, 3},
        {"another code stops the probe", [] { g.behaviour[0].openResult = E_EOPEN; }, false, E_EOPEN, 1},
        {"24 declines like 14", [] { g.behaviour[1].openResult = E_NOT_SUPPORTED; }, false, E_UNKNOWN_FORMAT, 3},
        {"a foreign exception is dropped",
         [] {
             g.behaviour[1].throwOtherOnOpen = true;
             g.behaviour[2].openResult = E_SUCCESS;
         },
         true, E_SUCCESS, 3},
        {"the first acceptance wins", [] { g.behaviour[1].openResult = E_SUCCESS; }, true, E_SUCCESS, 2},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g = ChainLog();
        c.setup();
        tOpenArchiveData d = OpenRecord("x");
        void* handle = OpenArchive(&d);
        EXPECT_EQ(handle != nullptr, c.accepted);
        EXPECT_EQ(d.OpenResult, c.openResult);
        int asked = 0;
        for (const std::string& call : g.calls) asked += call.rfind("open", 0) == 0;
        EXPECT_EQ(asked, c.managersAsked);
        EXPECT_EQ(g.destroyed, c.accepted ? 2 : 3);
        EXPECT_EQ(CloseArchive(handle), 0);
        EXPECT_EQ(g.destroyed, 3);
    }
}

TEST_F(ManagerChainTest, HandleForwardsAndClosesOnce) {
    g.behaviour[2].openResult = E_SUCCESS;
    tOpenArchiveData d = OpenRecord("x");
    void* handle = OpenArchive(&d);
    ASSERT_NE(handle, nullptr);
    EXPECT_NE(handle, reinterpret_cast<void*>(-1));
    EXPECT_EQ(LiveHandleCount(), 1);
    tHeaderData header = {};
    EXPECT_EQ(ReadHeader(handle, &header), 102);
    EXPECT_EQ(CloseArchive(handle), 0);
    EXPECT_EQ(LiveHandleCount(), 0);
    // A closed handle is a foreign value now: nothing is touched.
    EXPECT_EQ(CloseArchive(handle), E_BAD_DATA);
    EXPECT_EQ(ReadHeader(handle, &header), E_BAD_DATA);
    EXPECT_EQ(ProcessFile(handle, PK_SKIP, nullptr, nullptr), E_BAD_DATA);
}

TEST_F(ManagerChainTest, CloseOfForeignValues) {
    int notAManager = 0;
    EXPECT_EQ(CloseArchive(nullptr), 0);
    EXPECT_EQ(CloseArchive(&notAManager), E_BAD_DATA);
    EXPECT_EQ(CloseArchive(reinterpret_cast<void*>(-1)), E_BAD_DATA);
    EXPECT_EQ(CloseArchive(reinterpret_cast<void*>(0x12345678)), E_BAD_DATA);
}

TEST_F(ManagerChainTest, CloseLeavesAManagerWithAnUnknownClassName) {
    g.behaviour[0].openResult = E_SUCCESS;
    g.behaviour[0].className = "SomethingElse";
    tOpenArchiveData d = OpenRecord("x");
    void* handle = OpenArchive(&d);
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(CloseArchive(handle), E_BAD_DATA);
    EXPECT_EQ(LiveHandleCount(), 1);
    g.behaviour[0].className = nullptr;
    EXPECT_EQ(CloseArchive(handle), 0);
}

TEST_F(ManagerChainTest, NullArgumentsAreRefusedWithoutAChain) {
    EXPECT_EQ(OpenArchive(nullptr), nullptr);
    EXPECT_EQ(CanYouHandleThisFile(nullptr), 0);
    EXPECT_EQ(g.constructed, 0);
}

TEST_F(ManagerChainTest, ChainThatCannotBeBuilt) {
    g.failConstruction = true;
    tOpenArchiveData d = OpenRecord("x");
    EXPECT_EQ(OpenArchive(&d), nullptr);
    EXPECT_EQ(d.OpenResult, E_NO_MEMORY);
    EXPECT_EQ(CanYouHandleThisFile(const_cast<char*>("x")), 0);
    TempDir dir;
    EXPECT_EQ(Pack(dir.File("new.zbk")), E_NO_MEMORY);
    EXPECT_EQ(DeleteFiles(const_cast<char*>("x"), const_cast<char*>("a\0")), E_NO_MEMORY);
}

TEST_F(ManagerChainTest, ContentProbeStopsAtTheFirstYesAndSurvivesThrows) {
    g.behaviour[0].throwOnHandle = true;
    g.behaviour[1].canHandle = true;
    EXPECT_EQ(CanYouHandleThisFile(const_cast<char*>("x")), 1);
    EXPECT_EQ(g.calls, (std::vector<std::string>{"new2", "new1", "new0", "probe0", "probe1"}));
    EXPECT_EQ(g.destroyed, 3);
    g = ChainLog();
    EXPECT_EQ(CanYouHandleThisFile(const_cast<char*>("x")), 0);
}

TEST_F(ManagerChainTest, PackAsksNewOrModifyByExistence) {
    TempDir dir;
    std::string existing = dir.File("old.zbk");
    WriteFileText(existing, "x");
    EXPECT_EQ(Pack(existing), E_NOT_SUPPORTED);  // nobody supports anything
    EXPECT_EQ(g.capabilityAsked[2], PK_CAPS_MODIFY);
    g = ChainLog();
    EXPECT_EQ(Pack(dir.File("new.zbk")), E_NOT_SUPPORTED);
    EXPECT_EQ(g.capabilityAsked[0], PK_CAPS_NEW);
    EXPECT_EQ(g.capabilityAsked[2], PK_CAPS_NEW);
}

TEST_F(ManagerChainTest, ExistingFileOfAReadOnlyKindIsNotWrittenTo) {
    TempDir dir;
    std::string existing = dir.File("config.bin");
    WriteFileText(existing, "x");
    struct Case {
        const char* what;
        bool deleting;
        bool existingFile;
        bool configClaims;
        bool configThrows;
        int result;
        bool archiveServes;
        int configWrites = -1; // the configuration manager packs, with this result, when >= 0
    } cases[] = {
        {"pack: configuration claims the file", false, true, true, false, E_NOT_SUPPORTED, false},
        {"pack: nobody else claims it", false, true, false, false, E_SUCCESS, true},
        {"pack: configuration check fails", false, true, false, true, E_SUCCESS, true},
        {"pack: new archive, nothing to claim", false, false, true, false, E_SUCCESS, true},
        {"pack: configuration writes the file and fails: final", false, true, true, false, E_BAD_DATA, false, E_BAD_DATA},
        {"pack: configuration declines a file it does not claim", false, true, false, false, E_SUCCESS, true,
         E_UNKNOWN_FORMAT},
        {"delete: configuration claims the file", true, true, true, false, E_NOT_SUPPORTED, false},
        {"delete: nobody else claims it", true, true, false, false, E_SUCCESS, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        g = ChainLog();
        g.behaviour[1].canHandle = c.configClaims;
        g.behaviour[1].throwOnHandle = c.configThrows;
        g.behaviour[1].supports = c.configWrites >= 0;
        g.behaviour[1].packResult = c.configWrites;
        g.behaviour[2].supports = true;
        std::string file = c.existingFile ? existing : dir.File("new.zbk");
        int result = c.deleting ? DeleteFiles(&file[0], const_cast<char*>("a\0")) : Pack(file);
        EXPECT_EQ(result, c.result);
        std::string served = c.deleting ? "delete2" : "pack2";
        EXPECT_EQ(std::find(g.calls.begin(), g.calls.end(), served) != g.calls.end(), c.archiveServes);
        EXPECT_EQ(g.destroyed, 3);
    }
}

TEST_F(ManagerChainTest, PackResultsAndThrownCodes) {
    TempDir dir;
    g.behaviour[1].supports = true;
    g.behaviour[1].throwOnPack = E_EWRITE;
    g.behaviour[2].supports = true;
    g.behaviour[2].packResult = E_EOPEN;
    EXPECT_EQ(Pack(dir.File("a.zbk")), E_EOPEN);  // the thrown code was replaced by the last result
    EXPECT_EQ(g.destroyed, 3);
    g = ChainLog();
    g.behaviour[0].supports = true;
    g.behaviour[2].supports = true;
    EXPECT_EQ(Pack(dir.File("a.zbk")), 0);  // success ends the probe
    EXPECT_EQ(g.calls.back(), "pack0");
    g = ChainLog();
    g.behaviour[2].supports = true;
    g.behaviour[2].throwOnPack = E_EWRITE;
    EXPECT_EQ(Pack(dir.File("a.zbk")), E_EWRITE);
}

TEST_F(ManagerChainTest, DefaultCallbackServesExactlyOnePackOrDelete) {
    TempDir dir;
    g.behaviour[2].supports = true;
    SetProcessDataProc(reinterpret_cast<void*>(-1), CallbackA);
    EXPECT_EQ(Pack(dir.File("a.zbk")), 0);
    EXPECT_EQ(g.procGiven[2], CallbackA);
    g.procGiven[2] = CallbackB;
    EXPECT_EQ(Pack(dir.File("a.zbk")), 0);
    EXPECT_EQ(g.procGiven[2], nullptr);

    SetProcessDataProc(nullptr, CallbackB);
    EXPECT_EQ(DeleteFiles(const_cast<char*>("x"), const_cast<char*>("a\0")), 0);
    EXPECT_EQ(g.procGiven[2], CallbackB);
    EXPECT_EQ(g.capabilityAsked[2], PK_CAPS_DELETE);
    EXPECT_EQ(DeleteFiles(const_cast<char*>("x"), const_cast<char*>("a\0")), 0);
    EXPECT_EQ(g.procGiven[2], nullptr);

    // An empty archive name is refused, and the callback is used up all the same.
    SetProcessDataProc(nullptr, CallbackA);
    EXPECT_EQ(PackFiles(const_cast<char*>(""), nullptr, nullptr, const_cast<char*>("a\0"), 0), E_NOT_SUPPORTED);
    EXPECT_EQ(PackFiles(nullptr, nullptr, nullptr, nullptr, 0), E_NOT_SUPPORTED);
    EXPECT_EQ(Pack(dir.File("a.zbk")), 0);
    EXPECT_EQ(g.procGiven[2], nullptr);
}

TEST_F(ManagerChainTest, CallbackOnAHandleChangesOnlyThatManager) {
    g.behaviour[2].openResult = E_SUCCESS;
    tOpenArchiveData d1 = OpenRecord("x");
    tOpenArchiveData d2 = OpenRecord("y");
    void* h1 = OpenArchive(&d1);
    void* h2 = OpenArchive(&d2);
    ASSERT_TRUE(h1 && h2);
    SetProcessDataProc(h1, CallbackA);
    SetChangeVolProc(h1, nullptr);
    EXPECT_EQ(static_cast<CKyrArchiveManager*>(h1)->ProcessDataProc(), CallbackA);
    EXPECT_EQ(static_cast<CKyrArchiveManager*>(h2)->ProcessDataProc(), nullptr);
    SetProcessDataProc(h1, CallbackB);
    EXPECT_EQ(static_cast<CKyrArchiveManager*>(h1)->ProcessDataProc(), CallbackB);
    SetProcessDataProc(h1, nullptr);
    EXPECT_EQ(static_cast<CKyrArchiveManager*>(h1)->ProcessDataProc(), nullptr);
    // The default was not touched.
    EXPECT_EQ(TakeDefaultProcessDataProc(), nullptr);
    EXPECT_EQ(CloseArchive(h1), 0);
    EXPECT_EQ(CloseArchive(h2), 0);
}

TEST(BaseManager, DeclinesEverything) {
    CKyrArchiveManager m;
    tOpenArchiveData d = {};
    d.OpenResult = 0;
    EXPECT_EQ(m.OpenArchive(&d), nullptr);
    EXPECT_EQ(d.OpenResult, E_UNKNOWN_FORMAT);
    EXPECT_STREQ(m.ClassName(), "CKyrArchiveManager");
    EXPECT_EQ(m.ReadHeader(nullptr), E_NOT_SUPPORTED);
    EXPECT_EQ(m.ProcessFile(PK_EXTRACT, nullptr, nullptr), E_NOT_SUPPORTED);
    EXPECT_EQ(m.PackFiles(nullptr, nullptr, nullptr, nullptr, 0), E_NOT_SUPPORTED);
    EXPECT_EQ(m.DeleteFiles(nullptr, nullptr), E_NOT_SUPPORTED);
    EXPECT_FALSE(m.SupportsCapability(PK_CAPS_NEW));
    EXPECT_FALSE(m.CanYouHandleThisFile(const_cast<char*>("x")));
}

TEST(Exports, PackerCaps) { EXPECT_EQ(GetPackerCaps(), 95); }

} // namespace
