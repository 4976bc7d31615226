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

#include "../scratch_dir.h"
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

// A new folder for one test, removed with everything in it at the end;
// `path` is its name as text.
struct TempDir : kevra::testing::ScratchDir {
    TempDir() : ScratchDir("search"), path(Path().string()) {}
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
