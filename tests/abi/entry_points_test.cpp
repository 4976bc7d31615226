// The library's entry points through its exported C interface: the
// per-user component registry that registering writes and unregistering
// removes, the class factory and the unload bookkeeping, identifiers and the
// toolbox image.
#include <dlfcn.h>
#include <limits.h>
#include <sys/stat.h>

#include <cstring>

#include "abi_test_util.h"

namespace kevra::abi::test {
namespace {

std::string ClassDirName() {
    char text[39];
    kevra_guid_to_string(&KEVRA_CLSID_ctlKevraTaskList, text);
    return text;
}

using RegistryTest = ScratchTest;

TEST_F(RegistryTest, RegisteringWritesTheClassEntryAndTheProgId) {
    ASSERT_EQ(DllRegisterServer(), KEVRA_S_OK) << kevra_last_error();
    const fs::path entry = Components() / "classes" / ClassDirName();

    const std::string cls = ReadFile(entry / "class.json");
    EXPECT_NE(cls.find("\"clsid\": \"" + ClassDirName() + "\""), std::string::npos) << cls;
    EXPECT_NE(cls.find("\"progId\": \"KevraTaskList.ctlKevraTaskList\""), std::string::npos);
    EXPECT_NE(cls.find("\"version\": \"" KEVRA_EXPECTED_VERSION "\""), std::string::npos);
    EXPECT_NE(cls.find("\"threadingModel\": \"Apartment\""), std::string::npos);

    // The library path is the versioned name of the very file this process
    // loaded, so a host can load the class from the entry.
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(&DllRegisterServer), &info), 0);
    char loaded[PATH_MAX], registered[PATH_MAX];
    ASSERT_NE(realpath(info.dli_fname, loaded), nullptr);
    const size_t at = cls.find("\"library\": \"") + 12;
    const std::string library = cls.substr(at, cls.find('"', at) - at);
    EXPECT_EQ(fs::path(library).filename(), "libKevraTaskList.so.1");
    ASSERT_NE(realpath(library.c_str(), registered), nullptr) << library;
    EXPECT_STREQ(registered, loaded);

    EXPECT_EQ(ReadFile(entry / "typeinfo.json"), std::string(kevra_type_info_json()) + "\n");
    const unsigned char* bmp = nullptr;
    const size_t size = kevra_toolbox_bitmap(&bmp);
    EXPECT_EQ(ReadFile(entry / "toolbox.bmp"),
              std::string(reinterpret_cast<const char*>(bmp), size));

    KEVRA_GUID clsid{};
    ASSERT_EQ(kevra_clsid_from_progid(KEVRA_PROGID, &clsid), KEVRA_S_OK) << kevra_last_error();
    EXPECT_TRUE(kevra_guid_equal(&clsid, &KEVRA_CLSID_ctlKevraTaskList));
}

TEST_F(RegistryTest, UnregisteringRemovesExactlyWhatRegisteringWrote) {
    // Another component's entry and a file of the user's own already live
    // in the registry; both must survive.
    fs::create_directories(Components() / "classes" / "{00000000-1111-2222-3333-444444444444}");
    std::ofstream(Components() / "classes" / "{00000000-1111-2222-3333-444444444444}" /
                  "class.json")
        << "{}";
    std::ofstream(data_home_ / "kevra" / "notes.txt") << "mine";
    const std::string before = Snapshot(data_home_);

    ASSERT_EQ(DllRegisterServer(), KEVRA_S_OK) << kevra_last_error();
    ASSERT_NE(Snapshot(data_home_), before);
    ASSERT_EQ(DllUnregisterServer(), KEVRA_S_OK) << kevra_last_error();
    EXPECT_EQ(Snapshot(data_home_), before);
}

TEST_F(RegistryTest, AFreshRegistryIsRemovedDownToTheDataHome) {
    // Registering creates kevra/, components/, classes/ and progids/; a
    // second registration must not make it forget that.
    fs::create_directories(data_home_);
    ASSERT_EQ(DllRegisterServer(), KEVRA_S_OK);
    ASSERT_EQ(DllRegisterServer(), KEVRA_S_OK);
    ASSERT_EQ(DllUnregisterServer(), KEVRA_S_OK) << kevra_last_error();
    EXPECT_FALSE(fs::exists(data_home_ / "kevra"));
    EXPECT_TRUE(fs::exists(data_home_)) << "the data home existed before: it stays";
    // Unregistering what is not registered is not a failure.
    EXPECT_EQ(DllUnregisterServer(), KEVRA_S_OK) << kevra_last_error();
}

TEST_F(RegistryTest, AProgIdTakenOverByAnotherClassIsLeftToIt) {
    ASSERT_EQ(DllRegisterServer(), KEVRA_S_OK);
    const fs::path progid = Components() / "progids" / KEVRA_PROGID;
    std::ofstream(progid) << "{00000000-1111-2222-3333-444444444444}\n";
    ASSERT_EQ(DllUnregisterServer(), KEVRA_S_OK) << kevra_last_error();
    EXPECT_TRUE(fs::exists(progid));
    EXPECT_FALSE(fs::exists(Components() / "classes" / ClassDirName()));
}

TEST_F(RegistryTest, AnUnwritableRegistryFailsClearlyAndLeavesNothing) {
    if (geteuid() == 0) {
        // Permissions do not stop root: put a file where a directory goes.
        fs::create_directories(data_home_);
        std::ofstream(data_home_ / "kevra") << "in the way";
    } else {
        fs::create_directories(data_home_);
        fs::permissions(data_home_, fs::perms::owner_read | fs::perms::owner_exec);
    }
    const std::string before = Snapshot(data_home_);
    EXPECT_EQ(DllRegisterServer(), KEVRA_SELFREG_E_CLASS);
    const std::string reason = kevra_last_error();
    EXPECT_NE(reason.find((data_home_ / "kevra").string()), std::string::npos) << reason;
    EXPECT_NE(reason.find("XDG_DATA_HOME"), std::string::npos) << reason;
    fs::permissions(data_home_, fs::perms::owner_all);
    EXPECT_EQ(Snapshot(data_home_), before);
}

TEST_F(RegistryTest, ARelativeDataHomeIsIgnoredForTheHomeDirectory) {
    setenv("XDG_DATA_HOME", "relative/data", 1);
    const char* old_home = std::getenv("HOME");
    const std::string saved = old_home ? old_home : "";
    setenv("HOME", (root_ / "home").c_str(), 1);
    EXPECT_EQ(DllRegisterServer(), KEVRA_S_OK) << kevra_last_error();
    EXPECT_TRUE(fs::exists(root_ / "home/.local/share/kevra/components/progids" / KEVRA_PROGID));
    EXPECT_EQ(DllUnregisterServer(), KEVRA_S_OK);
    EXPECT_FALSE(fs::exists(root_ / "home/.local/share/kevra"));
    setenv("HOME", saved.c_str(), 1);
}

TEST_F(RegistryTest, ProgIdLookupsNameWhatIsWrong) {
    KEVRA_GUID clsid;
    EXPECT_EQ(kevra_clsid_from_progid(KEVRA_PROGID, &clsid), KEVRA_REGDB_E_CLASSNOTREG);
    EXPECT_NE(std::string(kevra_last_error()).find("DllRegisterServer"), std::string::npos);
    EXPECT_EQ(kevra_clsid_from_progid("../../etc/passwd", &clsid), KEVRA_E_INVALIDARG);
    EXPECT_EQ(kevra_clsid_from_progid("", &clsid), KEVRA_E_INVALIDARG);
    EXPECT_EQ(kevra_clsid_from_progid(nullptr, &clsid), KEVRA_E_POINTER);

    fs::create_directories(Components() / "progids");
    std::ofstream(Components() / "progids" / KEVRA_PROGID) << "not a class id\n";
    EXPECT_EQ(kevra_clsid_from_progid(KEVRA_PROGID, &clsid), KEVRA_REGDB_E_READREGDB);
}

class FactoryTest : public ScratchTest {
  protected:
    KevraClassFactory* GetFactory() {
        void* object = nullptr;
        EXPECT_EQ(
            DllGetClassObject(&KEVRA_CLSID_ctlKevraTaskList, &KEVRA_IID_IClassFactory, &object),
            KEVRA_S_OK)
            << kevra_last_error();
        return static_cast<KevraClassFactory*>(object);
    }
};

TEST_F(FactoryTest, TheClassObjectIsOnlyForItsClassAndInterfaces) {
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(DllGetClassObject(&KEVRA_IID_IUnknown, &KEVRA_IID_IClassFactory, &object),
              KEVRA_CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(
        DllGetClassObject(&KEVRA_CLSID_ctlKevraTaskList, &KEVRA_IID__ctlKevraTaskList, &object),
        KEVRA_E_NOINTERFACE);
    EXPECT_EQ(DllGetClassObject(&KEVRA_CLSID_ctlKevraTaskList, &KEVRA_IID_IClassFactory, nullptr),
              KEVRA_E_POINTER);
    EXPECT_EQ(DllCanUnloadNow(), KEVRA_S_OK);
}

TEST_F(FactoryTest, CreateInstanceRefusesAggregationAndForeignInterfaces) {
    KevraClassFactory* factory = GetFactory();
    void* object = nullptr;
    int outer = 0;
    EXPECT_EQ(factory->lpVtbl->CreateInstance(factory, &outer, &KEVRA_IID_IUnknown, &object),
              KEVRA_CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->lpVtbl->CreateInstance(factory, nullptr, &KEVRA_IID_IClassFactory, &object),
              KEVRA_E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);

    void* same = nullptr;
    ASSERT_EQ(factory->lpVtbl->QueryInterface(factory, &KEVRA_IID_IUnknown, &same), KEVRA_S_OK);
    EXPECT_EQ(same, factory);
    EXPECT_EQ(factory->lpVtbl->Release(factory), 1u);
    EXPECT_EQ(factory->lpVtbl->Release(factory), 0u);
}

TEST_F(FactoryTest, TheLibraryIsUnloadableOnlyWithNothingOutstanding) {
    KevraClassFactory* factory = GetFactory();
    EXPECT_EQ(DllCanUnloadNow(), KEVRA_S_FALSE) << "a live factory keeps the library";

    void* object = nullptr;
    ASSERT_EQ(
        factory->lpVtbl->CreateInstance(factory, nullptr, &KEVRA_IID__ctlKevraTaskList, &object),
        KEVRA_S_OK);
    ASSERT_EQ(factory->lpVtbl->LockServer(factory, 1), KEVRA_S_OK);
    factory->lpVtbl->Release(factory);
    EXPECT_EQ(DllCanUnloadNow(), KEVRA_S_FALSE);

    auto* control = static_cast<kevra_control*>(object);
    EXPECT_EQ(kevra_control_release(control), 0u);
    EXPECT_EQ(DllCanUnloadNow(), KEVRA_S_FALSE) << "the server lock is still held";

    // The lock is released through a factory, as the host holds none now.
    factory = GetFactory();
    ASSERT_EQ(factory->lpVtbl->LockServer(factory, 0), KEVRA_S_OK);
    EXPECT_EQ(factory->lpVtbl->LockServer(factory, 0), KEVRA_E_UNEXPECTED)
        << "an unlock without a lock must not drive the count below zero";
    factory->lpVtbl->Release(factory);
    EXPECT_EQ(DllCanUnloadNow(), KEVRA_S_OK);
}

TEST(Identifiers, GuidsRoundTripAndMalformedTextIsRejected) {
    char text[39];
    ASSERT_EQ(kevra_guid_to_string(&KEVRA_IID_IClassFactory, text), KEVRA_S_OK);
    EXPECT_STREQ(text, "{00000001-0000-0000-C000-000000000046}");
    KEVRA_GUID parsed{};
    ASSERT_EQ(kevra_guid_from_string("{6b1e3f53-9c0a-4d57-8e21-4a7c5d13b901}", &parsed),
              KEVRA_S_OK);
    EXPECT_TRUE(kevra_guid_equal(&parsed, &KEVRA_CLSID_ctlKevraTaskList));
    for (const char* bad :
         {"", "{6B1E3F53-9C0A-4D57-8E21-4A7C5D13B90}", "{6B1E3F53-9C0A-4D57-8E21-4A7C5D13B9011}",
          "{6B1E3F53+9C0A-4D57-8E21-4A7C5D13B901}", "{6B1E3F53-9C0A-4D57-8E21-4A7C5D13B9G1}",
          "6B1E3F53-9C0A-4D57-8E21-4A7C5D13B901"})
        EXPECT_EQ(kevra_guid_from_string(bad, &parsed), KEVRA_CO_E_CLASSSTRING) << bad;
}

TEST(Identifiers, TheTypeInformationPublishesTheExportedIdentifiers) {
    const std::string info = kevra_type_info_json();
    char text[39];
    for (const KEVRA_GUID* id : {&KEVRA_CLSID_ctlKevraTaskList, &KEVRA_IID__ctlKevraTaskList,
                                 &KEVRA_IID___ctlKevraTaskList, &KEVRA_LIBID_KevraTaskList}) {
        kevra_guid_to_string(id, text);
        EXPECT_NE(info.find(text), std::string::npos) << text;
    }
}

TEST(ToolboxBitmap, IsA16By15SixteenColourBmp) {
    const unsigned char* bmp = nullptr;
    const size_t size = kevra_toolbox_bitmap(&bmp);
    ASSERT_GE(size, 54u);
    auto u32 = [&](size_t at) {
        return static_cast<uint32_t>(bmp[at] | bmp[at + 1] << 8 | bmp[at + 2] << 16 |
                                     bmp[at + 3] << 24);
    };
    auto u16 = [&](size_t at) { return static_cast<uint16_t>(bmp[at] | bmp[at + 1] << 8); };
    EXPECT_EQ(bmp[0], 'B');
    EXPECT_EQ(bmp[1], 'M');
    EXPECT_EQ(u32(2), size);
    EXPECT_EQ(u32(18), 16u);  // width
    EXPECT_EQ(u32(22), 15u);  // height, bottom-up
    EXPECT_EQ(u16(28), 4u);   // bits a pixel
    EXPECT_EQ(u32(30), 0u);   // uncompressed
    EXPECT_EQ(u32(46), 16u);  // colours
    // Rows of 16 four-bit pixels are 8 bytes, already a multiple of 4.
    EXPECT_EQ(u32(10) + 8u * 15u, size);
}

}  // namespace
}  // namespace kevra::abi::test
