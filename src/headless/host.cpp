// Running kevra-host commands against the control, and the `dump` state.
#include "headless/host.h"

#include "control/ctlKevraTaskList.h"
#include "control/dispatch.h"
#include "headless/headless_site.h"
#include "platform/faults.h"
#include "platform/json.h"

namespace kevra::host {

namespace {

// Adds a setting-write line for every write the control makes.
class RecordingSettings : public SettingsStore {
public:
    RecordingSettings(SettingsStore& inner, HeadlessHost::LineSink& sink)
        : inner_(inner), sink_(sink) {}
    std::string GetSetting(const std::string& application, const std::string& section,
                           const std::string& key, const std::string& default_value) override {
        return inner_.GetSetting(application, section, key, default_value);
    }
    void SaveSetting(const std::string& application, const std::string& section,
                     const std::string& key, const std::string& value) override {
        inner_.SaveSetting(application, section, key, value);
        sink_("setting-write " + json::Quote(application) + " " + json::Quote(section) + " " +
              json::Quote(key) + " " + json::Quote(value));
    }

private:
    SettingsStore& inner_;
    HeadlessHost::LineSink& sink_;
};

std::string Hex(int32_t hr) {
    char buf[16];
    std::snprintf(buf, sizeof buf, "0x%08X", static_cast<uint32_t>(hr));
    return buf;
}

// An echo word as it is printed: as given, except what would break the
// one-line-per-effect output. A line break inside a word would let a script
// forge a line of another kind, a NUL ends the line for C readers, and
// invalid UTF-8 would make the whole line unreadable as text.
void AppendEchoWord(std::string& line, std::string_view word) {
    size_t from = 0;
    for (size_t i = 0; i <= word.size(); ++i) {
        const char* escape = nullptr;
        if (i < word.size()) {
            switch (word[i]) {
                case '\n': escape = "\\n"; break;
                case '\r': escape = "\\r"; break;
                case '\0': escape = "\\u0000"; break;
                default: continue;
            }
        }
        line += json::ValidUtf8(word.substr(from, i - from));
        if (escape) line += escape;
        from = i + 1;
    }
}

std::string Bool(bool b) { return b ? "true" : "false"; }
std::string Num(double d) { return json::Number(d); }

std::string FontJson(const StdFont& f, bool underline) {
    std::string out = "{\"size\":" + Num(f.Size) + ",\"bold\":" + Bool(f.Bold);
    if (underline) out += ",\"underline\":" + Bool(f.Underline);
    return out + "}";
}

std::string FrameJson(const ChildFrame& f) {
    return "\"visible\":" + Bool(f.visible) + ",\"left\":" + Num(f.left) + ",\"top\":" +
           Num(f.top) + ",\"width\":" + Num(f.width) + ",\"height\":" + Num(f.height);
}

}  // namespace

struct HeadlessHost::Impl {
    LineSink sink;
    RecordingSettings settings;
    HeadlessSite site;
    ctlKevraTaskList control;

    Impl(LineSink s, SettingsStore& store)
        : sink(std::move(s)),
          settings(store, sink),
          site([this](const std::string& line) { sink(line); }),
          control(site, settings) {
        control.OnStartTask([this](int32_t id, const std::string& url, const std::string& parms) {
            site.StartTaskRaised(id, url, parms);
        });
        // The lines are the host's output; a record of calls nobody reads
        // would grow with every command of a long script.
        site.RecordCalls(false);
        site.Site(control);
    }

    // A user action, or the refused line that says why the surface cannot
    // take it now.
    void Act(UserAction::Kind kind, const std::string& key) {
        const UserAction action{kind, key};
        if (const auto refusal = CheckUserAction(site, control, action))
            site.Refused(*refusal);
        else
            TakeUserAction(control, action);
    }

    void Invoke(dispatch::DISPID id, dispatch::Call call, const std::vector<Variant>& args) {
        dispatch::HRESULT hr = dispatch::Invoke(control, id, call, args);
        if (hr != dispatch::kOk) sink("invoke-error " + Hex(hr));
    }
};

HeadlessHost::HeadlessHost(LineSink sink, SettingsStore& settings)
    : impl_(std::make_unique<Impl>(std::move(sink), settings)) {}

HeadlessHost::~HeadlessHost() = default;

ctlKevraTaskList& HeadlessHost::Control() { return impl_->control; }
HeadlessSite& HeadlessHost::Site() { return impl_->site; }

void HeadlessHost::RunAll(const std::vector<Command>& commands) {
    for (const auto& c : commands) Run(c);
}

void HeadlessHost::Finish() { impl_->site.Terminate(); }

void HeadlessHost::Run(const Command& c) {
    Impl& m = *impl_;
    const std::string& n = c.name;
    if (n == "echo") {
        std::string line = "echo";
        for (const auto& w : c.args) {
            line += ' ';
            AppendEchoWord(line, w.text);
        }
        m.sink(line);
        return;
    }
    if (n == "dump") {
        m.sink("dump " + DumpJson());
        return;
    }
    if (m.site.Terminated()) {
        m.site.Refused(TerminatedRefusal());
        return;
    }
    if (n == "set") {
        dispatch::DISPID id = 0;
        dispatch::GetIDOfName(c.args[0].text, id);
        Variant value;
        int32_t number;
        const bool numeric = c.args[0].text == "UserNumber" || c.args[0].text == "AppId";
        if (numeric && !c.args[1].literal && ParseInt32Word(c.args[1].text, number))
            value = Variant(number);
        else
            value = Variant(c.args[1].text);
        m.Invoke(id, dispatch::Call::propertyPut, {value});
    } else if (n == "invoke") {
        const auto id = static_cast<dispatch::DISPID>(c.numbers[0]);
        std::vector<Variant> args;
        dispatch::Call call = dispatch::Call::method;
        const dispatch::Member* member = nullptr;
        for (const auto& mem : dispatch::Members())
            if (mem.dispid == id) member = &mem;
        if (member && member->kind == dispatch::Kind::propput)
            call = c.args.size() == 2 ? dispatch::Call::propertyPut : dispatch::Call::propertyGet;
        if (c.args.size() == 2) {
            const Word& w = c.args[1];
            if (w.literal) {
                args.emplace_back(w.text);
            } else {
                int32_t v;
                if (!ParseInt32Word(w.text, v)) {
                    m.sink("invoke-error " + Hex(dispatch::kOverflow));
                    m.site.AfterCommand();
                    return;
                }
                args.emplace_back(v);
            }
        }
        m.Invoke(id, call, args);
    } else if (n == "load") {
        m.Invoke(dispatch::kLoadDataDispid, dispatch::Call::method, {});
    } else if (n == "select") {
        m.Invoke(dispatch::kSelectTaskDispid, dispatch::Call::method, {});
    } else if (n == "paint") {
        m.site.Paint();
    } else if (n == "resize") {
        m.site.Resize(c.numbers[0], c.numbers[1]);
    } else if (n == "border") {
        m.site.SetBorders(c.numbers[0], c.numbers[1]);
    } else if (n == "terminate") {
        m.site.Terminate();
    } else if (n == "fault") {
        faults::Arm(c.args[0].text, c.count, static_cast<int32_t>(c.numbers[0]), c.args[3].text);
    } else if (n == "open-group") {
        m.Act(UserAction::Kind::open_group, c.args[0].text);
    } else if (n == "click-item") {
        m.Act(UserAction::Kind::click_item, c.args[0].text);
    } else if (n == "select-node") {
        m.Act(UserAction::Kind::select_node, c.args[0].text);
    } else if (n == "dblclick") {
        m.Act(UserAction::Kind::dblclick, "");
    }
    m.site.AfterCommand();
}

std::string HeadlessHost::DumpJson() const {
    const Impl& m = *impl_;
    const HeadlessSite& site = m.site;
    const ctlKevraTaskList& control = m.control;
    std::string out = "{";

    out += "\"control\":{\"width\":" + Num(site.Width()) + ",\"height\":" + Num(site.Height()) +
           ",\"scaleWidth\":" + Num(site.ScaleWidth()) + ",\"scaleHeight\":" +
           Num(site.ScaleHeight()) + ",\"enabled\":" + Bool(site.Enabled()) + "},";
    out += "\"pointer\":" + std::to_string(site.MousePointer()) + ",";

    out += "\"label\":{\"visible\":" + Bool(site.Frame(Child::lblStatus).visible) +
           ",\"caption\":" + json::Quote(site.LabelCaption());
    {
        const ChildFrame f = site.Frame(Child::lblStatus);
        out += ",\"left\":" + Num(f.left) + ",\"top\":" + Num(f.top) + ",\"width\":" +
               Num(f.width) + ",\"height\":" + Num(f.height) + "},";
    }

    const ListBar& list = control.sslistTaskList();
    out += "\"listbar\":{" + FrameJson(site.Frame(Child::sslistTaskList));
    out += ",\"current\":" + (list.CurrentGroup() ? json::Quote(list.CurrentGroup()->Key()) : "null");
    out += ",\"groups\":[";
    bool first = true;
    for (const auto& g : list.Groups().All()) {
        if (!first) out += ",";
        first = false;
        out += "{\"key\":" + json::Quote(g->Key()) + ",\"caption\":" + json::Quote(g->Caption()) +
               ",\"items\":[";
        bool first_item = true;
        for (const auto& it : g->ListItems().All()) {
            if (!first_item) out += ",";
            first_item = false;
            out += "{\"key\":" + json::Quote(it->Key()) + ",\"text\":" + json::Quote(it->Text()) + "}";
        }
        out += "]}";
    }
    out += "],\"OLEDragMode\":" + std::to_string(list.OLEDragMode) +
           ",\"OLEDropMode\":" + std::to_string(list.OLEDropMode) +
           ",\"ListStyle\":" + std::to_string(list.ListStyle) +
           ",\"BackColor\":" + std::to_string(list.BackColor) +
           ",\"ForeColor\":" + std::to_string(list.ForeColor) +
           ",\"Font\":" + FontJson(list.Font(), false) +
           ",\"GroupFont\":" + FontJson(list.GroupFont(), false) + "},";

    const Tree& tree = control.sstreeTaskList();
    out += "\"tree\":{" + FrameJson(site.Frame(Child::sstreeTaskList));
    out += ",\"selected\":" + (tree.Selected() ? json::Quote(tree.Selected()->Key()) : "null");
    out += ",\"nodes\":[";
    for (int32_t i = 1; i <= tree.Nodes().Count(); ++i) {
        const Node* node = tree.Nodes().At(i);
        if (i > 1) out += ",";
        out += "{\"key\":" + json::Quote(node->Key()) + ",\"text\":" + json::Quote(node->Text()) +
               ",\"parent\":" + (node->Parent() ? json::Quote(node->Parent()->Key()) : "null") +
               ",\"expanded\":" + Bool(node->Expanded()) + ",\"selected\":" +
               Bool(node->Selected()) + ",\"font\":" + FontJson(node->Font(), true) + "}";
    }
    out += "],\"DisplayFlag\":" + Bool(tree.DisplayFlag) +
           ",\"DisplayStyle\":" + std::to_string(tree.DisplayStyle) +
           ",\"DisplayMode\":" + std::to_string(tree.DisplayMode) + "},";

    const auto mem = control.GetMembers();
    out += "\"members\":{\"mstrMachineName\":" + json::Quote(mem.mstrMachineName) +
           ",\"mlngUserNumber\":" + std::to_string(mem.mlngUserNumber) +
           ",\"mstrBrand\":" + json::Quote(mem.mstrBrand) +
           ",\"mstrFacilityId\":" + json::Quote(mem.mstrFacilityId) +
           ",\"mlngAppId\":" + std::to_string(mem.mlngAppId) +
           ",\"mstrSelectedGroup\":" + json::Quote(mem.mstrSelectedGroup) +
           ",\"mstrSelectedListItem\":" + json::Quote(mem.mstrSelectedListItem) +
           ",\"mstrSelectedTask\":" + json::Quote(mem.mstrSelectedTask) +
           ",\"mblnSelectionRestored\":" + std::to_string(mem.mblnSelectionRestored) +
           ",\"mblnDataLoaded\":" + std::to_string(mem.mblnDataLoaded) + "},";

    const RecordsetRef& rs = control.Tasks();
    if (!rs) {
        out += "\"tasks\":null";
    } else {
        const bool open = rs->State() == 1;
        out += "\"tasks\":{\"state\":" + std::to_string(rs->State()) +
               ",\"filter\":" + json::Quote(rs->Filter()) +
               ",\"recordCount\":" + (open ? std::to_string(rs->RecordCount()) : "null") + "}";
    }
    return out + "}";
}

}  // namespace kevra::host
