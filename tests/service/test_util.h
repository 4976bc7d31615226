// Helpers shared by the task service tests: scratch files and reading a
// record set back row by row.
#pragma once

#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "../scratch_dir.h"
#include "platform/recordset.h"
#include "platform/variant.h"

namespace kevra::service::testing {

using ScratchDir = kevra::testing::ScratchDir;

// Every visible row of a fresh cursor over `table`, each as the values of
// `fields` in that order.
inline std::vector<std::vector<Variant>> ReadRows(const TableRef& table,
                                                  const std::vector<std::string>& fields) {
    std::vector<std::vector<Variant>> rows;
    RecordsetRef rs = Recordset::Open(table);
    for (; !rs->Eof(); rs->MoveNext()) {
        std::vector<Variant> row;
        for (const auto& f : fields) row.push_back(rs->Fields(f).Value());
        rows.push_back(std::move(row));
    }
    return rows;
}

// The TaskId of each row, in record-set order.
inline std::vector<int64_t> TaskIds(const TableRef& table) {
    std::vector<int64_t> ids;
    for (auto& row : ReadRows(table, {"TaskId"})) ids.push_back(row[0].ToInt64());
    return ids;
}

inline std::string ReadFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Each row as the control reads it: key text, parent as a number, caption,
// whether it is a link, URL and parameters after trimming. Two tables that
// give equal lists show the same groups, items and tree, in the same order.
inline std::vector<std::string> AsShown(const TableRef& table) {
    std::vector<std::string> out;
    RecordsetRef rs = Recordset::Open(table);
    auto text = [&](const char* f) {
        Variant v = rs->Fields(f).Value();
        return v.IsNull() ? std::string("<null>") : Trim(v.ToString());
    };
    for (; !rs->Eof(); rs->MoveNext()) {
        Variant parent = rs->Fields("TaskParent").Value();
        out.push_back("X" + rs->Fields("TaskId").Value().ToString() + " parent=" +
                      (parent.IsNull() ? "<null>" : std::to_string(parent.ToDouble())) + " [" +
                      text("TaskDescription") +
                      "] link=" + (rs->Fields("IsLink").Value().EqualsTrue() ? "1" : "0") +
                      " url=[" + text("TaskURL") + "] parms=[" + text("TaskParms") + "]");
    }
    return out;
}

}  // namespace kevra::service::testing
