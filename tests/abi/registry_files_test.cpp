// The registry's files as registering leaves them: a registration killed in
// the middle of writing costs the next one nothing and leaves nothing, and
// new files follow the umask.
#include <sys/stat.h>

#include "abi_test_util.h"

namespace kevra::abi::test {
namespace {

using RegistryFilesTest = ScratchTest;

std::string ClassDir() {
    char text[39];
    kevra_guid_to_string(&KEVRA_CLSID_ctlKevraTaskList, text);
    return text;
}

TEST_F(RegistryFilesTest, TheTemporariesOfAKilledRegistrationAreRemovedByTheNext) {
    const fs::path entry = Components() / "classes" / ClassDir();
    const fs::path progids = Components() / "progids";
    fs::create_directories(entry);
    fs::create_directories(progids);
    std::ofstream(entry / ".class.json.tmp-Ab12Cd") << "{\"cut\": ";
    std::ofstream(progids / (std::string(".") + KEVRA_PROGID + ".tmp-Zz99zz")) << "{0000";
    std::ofstream(entry / "notes.tmp-Ab12Cd") << "the user's";

    ASSERT_EQ(DllRegisterServer(), KEVRA_S_OK) << kevra_last_error();
    EXPECT_FALSE(fs::exists(entry / ".class.json.tmp-Ab12Cd"));
    EXPECT_FALSE(fs::exists(progids / (std::string(".") + KEVRA_PROGID + ".tmp-Zz99zz")));
    EXPECT_TRUE(fs::exists(entry / "notes.tmp-Ab12Cd"));
    for (const auto& e : fs::recursive_directory_iterator(Components()))
        EXPECT_FALSE(e.path().filename().string().starts_with(".")) << e.path() << " is left over";
}

TEST_F(RegistryFilesTest, NewFilesFollowTheUmask) {
    const mode_t saved = ::umask(077);
    const KEVRA_HRESULT result = DllRegisterServer();
    ::umask(saved);
    ASSERT_EQ(result, KEVRA_S_OK) << kevra_last_error();
    struct stat st {};
    ASSERT_EQ(::stat((Components() / "classes" / ClassDir() / "class.json").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

}  // namespace
}  // namespace kevra::abi::test
