// Catalogues for the search tests: rows written as (id, parent, caption,
// link) and the record set over them; a private temporary folder.
#pragma once

#include <stdlib.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/recordset.h"

namespace kevra::search::test {

struct TaskRow {
    Variant id;
    Variant parent;
    Variant caption;
    bool link = false;
};

inline RecordsetRef Catalogue(const std::vector<TaskRow>& rows) {
    TableBuilder b({"TaskId", "TaskParent", "TaskDescription", "IsLink", "TaskURL", "TaskParms"});
    for (const TaskRow& r : rows)
        b.AddRow({r.id, r.parent, r.caption, Variant::Boolean(r.link),
                  r.link ? Variant("https://pms.example/" + r.id.ToString()) : Variant::Null(),
                  Variant::Null()});
    return Recordset::Open(b.Build());
}

// A new folder under $KEVRA_TEST_TMP (or /tmp), removed with everything in
// it at the end.
struct TempDir {
    TempDir() {
        const char* base = std::getenv("KEVRA_TEST_TMP");
        const std::filesystem::path root = (base != nullptr && base[0] != '\0') ? base : "/tmp";
        std::filesystem::create_directories(root);
        path = (root / "search-XXXXXX").string();
        if (::mkdtemp(path.data()) == nullptr) throw std::runtime_error("mkdtemp " + path);
    }
    ~TempDir() {
        std::error_code ec;
        std::filesystem::permissions(path, std::filesystem::perms::owner_all,
                                     std::filesystem::perm_options::add, ec);
        std::filesystem::remove_all(path, ec);
    }
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    std::string path;
};

inline std::string ReadText(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

inline void WriteText(const std::string& path, const std::string& text) {
    std::ofstream(path, std::ios::binary) << text;
}

}  // namespace kevra::search::test
