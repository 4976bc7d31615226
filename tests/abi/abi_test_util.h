// Shared helpers of the component library's tests: a scratch directory per
// test with XDG_DATA_HOME, XDG_CONFIG_HOME and XDG_STATE_HOME pointed into it, a small
// catalogue, and a listing of a directory tree.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <string>

#include "kevra_tasklist.h"

namespace kevra::abi::test {

namespace fs = std::filesystem;

class ScratchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        const char* base = std::getenv("KEVRA_TEST_TMP");
        const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
        root_ = fs::path(base ? base : fs::temp_directory_path().string()) /
                (std::string(info->test_suite_name()) + "." + info->name());
        fs::remove_all(root_);
        fs::create_directories(root_);
        data_home_ = root_ / "data";
        config_home_ = root_ / "config";
        state_home_ = root_ / "state";
        setenv("XDG_DATA_HOME", data_home_.c_str(), 1);
        setenv("XDG_CONFIG_HOME", config_home_.c_str(), 1);
        setenv("XDG_STATE_HOME", state_home_.c_str(), 1);
    }

    fs::path Components() const { return data_home_ / "kevra" / "components"; }

    // Three levels: group X1, list item X2, tasks X3 (a link) and X4 (not).
    std::string WriteCatalogue() const {
        const fs::path path = root_ / "catalogue.json";
        std::ofstream(path) << R"([
 {"TaskId":1,"TaskParent":0,"TaskDescription":"Front Office","IsLink":false},
 {"TaskId":2,"TaskParent":1,"TaskDescription":"Reservations","IsLink":false},
 {"TaskId":3,"TaskParent":2,"TaskDescription":"New","IsLink":true,"TaskURL":" app://new ","TaskParms":"q=1"},
 {"TaskId":4,"TaskParent":2,"TaskDescription":"Nothing","IsLink":false}
])";
        return path.string();
    }

    fs::path root_, data_home_, config_home_, state_home_;
};

// Every file and directory below `dir`, with file contents, as one text.
inline std::string Snapshot(const fs::path& dir) {
    std::set<std::string> lines;
    if (!fs::exists(dir)) return "";
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        std::string line = fs::relative(e.path(), dir).string();
        if (e.is_regular_file()) {
            std::ifstream in(e.path(), std::ios::binary);
            std::ostringstream text;
            text << in.rdbuf();
            line += " = " + text.str();
        } else {
            line += "/";
        }
        lines.insert(line);
    }
    std::string out;
    for (const auto& l : lines) out += l + "\n";
    return out;
}

inline std::string ReadFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

}  // namespace kevra::abi::test
