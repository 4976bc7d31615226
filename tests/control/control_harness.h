// A control in the headless container with an in-memory settings store and
// a task service whose answer each test chooses.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "control/ctlKevraTaskList.h"
#include "headless/headless_site.h"
#include "platform/dataspace.h"
#include "platform/recordset.h"

namespace kevra::testing {

class MemorySettings : public SettingsStore {
  public:
    std::map<std::string, std::string> values;  // "section/key" -> value
    std::string GetSetting(const std::string&, const std::string& section, const std::string& key,
                           const std::string& default_value) override {
        auto it = values.find(section + "/" + key);
        return it == values.end() ? default_value : it->second;
    }
    void SaveSetting(const std::string&, const std::string& section, const std::string& key,
                     const std::string& value) override {
        values[section + "/" + key] = value;
    }
};

struct Row {
    Variant id, parent, description, isLink = Variant::Null(), url = Variant::Null(),
                                     parms = Variant::Null();
};

inline TableRef MakeTable(const std::vector<Row>& rows) {
    TableBuilder b({"TaskId", "TaskParent", "TaskDescription", "IsLink", "TaskURL", "TaskParms"});
    for (const auto& r : rows) b.AddRow({r.id, r.parent, r.description, r.isLink, r.url, r.parms});
    return b.Build();
}

// RetrieveTasks calls `answer` with its five arguments.
class FakeService : public Dispatchable {
  public:
    using Answer = std::function<void(std::vector<Variant*>&)>;
    explicit FakeService(Answer answer) : answer_(std::move(answer)) {}
    std::string TypeName() const override { return "FakeService"; }
    Variant InvokeByName(const std::string& name, std::vector<Variant*> args) override {
        if (name != "RetrieveTasks") throw RuntimeError(438, "no member " + name);
        answer_(args);
        return Variant();
    }

  private:
    Answer answer_;
};

struct Harness {
    std::vector<std::string> lines;
    MemorySettings settings;
    ComponentRegistry registry;
    HeadlessSite site{[this](const std::string& line) { lines.push_back(line); }};
    std::unique_ptr<ctlKevraTaskList> control;
    FakeService::Answer answer;
    std::vector<std::string> events;

    Harness() {
        registry.Register("KEVRA.clsKEVRA", [this](const std::string&) {
            return std::make_shared<FakeService>(answer);
        });
        control = std::make_unique<ctlKevraTaskList>(site, settings, registry);
        control->OnStartTask([this](int32_t id, const std::string& url, const std::string& parms) {
            events.push_back(std::to_string(id) + "|" + url + "|" + parms);
        });
        site.Site(*control);
    }

    // Serves these rows from the next load on.
    void Serve(TableRef table) {
        answer = [table](std::vector<Variant*>& args) {
            *args[4] = Variant(ObjectRef(Recordset::Open(table)));
        };
    }
    void Load(const std::vector<Row>& rows) {
        Serve(MakeTable(rows));
        control->LoadData();
        site.AfterCommand();
    }
    std::vector<std::string> Boxes() const {
        std::vector<std::string> out;
        for (const auto& l : lines)
            if (l.rfind("msgbox ", 0) == 0) out.push_back(l);
        return out;
    }
    std::vector<std::string> NodeKeys() const {
        std::vector<std::string> keys;
        const auto& nodes = control->sstreeTaskList().Nodes();
        for (int32_t i = 1; i <= nodes.Count(); ++i) keys.push_back(nodes.At(i)->Key());
        return keys;
    }
};

}  // namespace kevra::testing
