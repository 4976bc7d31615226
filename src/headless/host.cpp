// Running kevra-host commands against the control, and the `dump` state.
#include "headless/host.h"

#include "control/ctlKevraTaskList.h"
#include "control/dispatch.h"
#include "headless/headless_site.h"
#include "platform/faults.h"
#include "platform/json.h"
#include "search/task_finder.h"

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
                case '\n':
                    escape = "\\n";
                    break;
                case '\r':
                    escape = "\\r";
                    break;
                case '\0':
                    escape = "\\u0000";
                    break;
                default:
                    continue;
            }
        }
        line += json::ValidUtf8(word.substr(from, i - from));
        if (escape) line += escape;
        from = i + 1;
    }
}

// An entry of the find commands: ID KIND PATH.
std::string EntryText(const search::TaskFinder::Entry& entry) {
    std::string out = std::to_string(entry.id) + " " + search::KindName(entry.kind) + " [";
    for (size_t i = 0; i < entry.path.size(); ++i) {
        if (i) out += ",";
        out += json::Quote(entry.path[i]);
    }
    return out + "]";
}

std::string Bool(bool b) { return b ? "true" : "false"; }
std::string Num(double d) { return json::Number(d); }

std::string FontJson(const StdFont& f, bool underline) {
    std::string out = "{\"size\":" + Num(f.Size) + ",\"bold\":" + Bool(f.Bold);
    if (underline) out += ",\"underline\":" + Bool(f.Underline);
    return out + "}";
}

std::string FrameJson(const ChildFrame& f) {
    return "\"visible\":" + Bool(f.visible) + ",\"left\":" + Num(f.left) +
           ",\"top\":" + Num(f.top) + ",\"width\":" + Num(f.width) + ",\"height\":" + Num(f.height);
}

// The parts of `dump`, each one key of its object and that key's value.

std::string SurfaceJson(const HeadlessSite& site) {
    std::string out = "\"control\":{\"width\":" + Num(site.Width()) +
                      ",\"height\":" + Num(site.Height()) +
                      ",\"scaleWidth\":" + Num(site.ScaleWidth()) +
                      ",\"scaleHeight\":" + Num(site.ScaleHeight()) +
                      ",\"enabled\":" + Bool(site.Enabled()) + "},";
    out += "\"pointer\":" + std::to_string(site.MousePointer()) + ",";
    // Not FrameJson: the caption comes between the visibility and the
    // place, in the order that saved dumps hold.
    const ChildFrame f = site.Frame(Child::lblStatus);
    return out + "\"label\":{\"visible\":" + Bool(f.visible) +
           ",\"caption\":" + json::Quote(site.LabelCaption()) + ",\"left\":" + Num(f.left) +
           ",\"top\":" + Num(f.top) + ",\"width\":" + Num(f.width) +
           ",\"height\":" + Num(f.height) + "}";
}

std::string GroupJson(const Group& g) {
    std::string out = "{\"key\":" + json::Quote(g.Key()) +
                      ",\"caption\":" + json::Quote(g.Caption()) + ",\"items\":[";
    bool first = true;
    for (const auto& it : g.ListItems().All()) {
        if (!first) out += ",";
        first = false;
        out += "{\"key\":" + json::Quote(it->Key()) + ",\"text\":" + json::Quote(it->Text()) + "}";
    }
    return out + "]}";
}

std::string ListBarJson(const HeadlessSite& site, const ListBar& list) {
    std::string out = "\"listbar\":{" + FrameJson(site.Frame(Child::sslistTaskList));
    out +=
        ",\"current\":" + (list.CurrentGroup() ? json::Quote(list.CurrentGroup()->Key()) : "null");
    out += ",\"groups\":[";
    bool first = true;
    for (const auto& g : list.Groups().All()) {
        if (!first) out += ",";
        first = false;
        out += GroupJson(*g);
    }
    return out + "],\"OLEDragMode\":" + std::to_string(list.OLEDragMode) +
           ",\"OLEDropMode\":" + std::to_string(list.OLEDropMode) +
           ",\"ListStyle\":" + std::to_string(list.ListStyle) +
           ",\"BackColor\":" + std::to_string(list.BackColor) +
           ",\"ForeColor\":" + std::to_string(list.ForeColor) +
           ",\"Font\":" + FontJson(list.Font(), false) +
           ",\"GroupFont\":" + FontJson(list.GroupFont(), false) + "}";
}

std::string NodeJson(const Node& node) {
    return "{\"key\":" + json::Quote(node.Key()) + ",\"text\":" + json::Quote(node.Text()) +
           ",\"parent\":" + (node.Parent() ? json::Quote(node.Parent()->Key()) : "null") +
           ",\"expanded\":" + Bool(node.Expanded()) + ",\"selected\":" + Bool(node.Selected()) +
           ",\"font\":" + FontJson(node.Font(), true) + "}";
}

std::string TreeJson(const HeadlessSite& site, const Tree& tree) {
    std::string out = "\"tree\":{" + FrameJson(site.Frame(Child::sstreeTaskList));
    out += ",\"selected\":" + (tree.Selected() ? json::Quote(tree.Selected()->Key()) : "null");
    out += ",\"nodes\":[";
    for (int32_t i = 1; i <= tree.Nodes().Count(); ++i) {
        if (i > 1) out += ",";
        out += NodeJson(*tree.Nodes().At(i));
    }
    return out + "],\"DisplayFlag\":" + Bool(tree.DisplayFlag) +
           ",\"DisplayStyle\":" + std::to_string(tree.DisplayStyle) +
           ",\"DisplayMode\":" + std::to_string(tree.DisplayMode) + "}";
}

std::string MembersJson(const ctlKevraTaskList::Members& mem) {
    return "\"members\":{\"mstrMachineName\":" + json::Quote(mem.mstrMachineName) +
           ",\"mlngUserNumber\":" + std::to_string(mem.mlngUserNumber) +
           ",\"mstrBrand\":" + json::Quote(mem.mstrBrand) +
           ",\"mstrFacilityId\":" + json::Quote(mem.mstrFacilityId) +
           ",\"mlngAppId\":" + std::to_string(mem.mlngAppId) +
           ",\"mstrSelectedGroup\":" + json::Quote(mem.mstrSelectedGroup) +
           ",\"mstrSelectedListItem\":" + json::Quote(mem.mstrSelectedListItem) +
           ",\"mstrSelectedTask\":" + json::Quote(mem.mstrSelectedTask) +
           ",\"mblnSelectionRestored\":" + std::to_string(mem.mblnSelectionRestored) +
           ",\"mblnDataLoaded\":" + std::to_string(mem.mblnDataLoaded) + "}";
}

std::string TasksJson(const RecordsetRef& rs) {
    if (!rs) return "\"tasks\":null";
    const bool open = rs->State() == 1;
    return "\"tasks\":{\"state\":" + std::to_string(rs->State()) +
           ",\"filter\":" + json::Quote(rs->Filter()) +
           ",\"recordCount\":" + (open ? std::to_string(rs->RecordCount()) : "null") + "}";
}

}  // namespace

struct HeadlessHost::Impl {
    LineSink sink;
    RecordingSettings settings;
    HeadlessSite site;
    ctlKevraTaskList control;
    search::MemoryHistoryStore own_history;
    search::TaskFinder finder;

    Impl(LineSink s, SettingsStore& store, search::HistoryStore* history)
        : sink(std::move(s)),
          settings(store, sink),
          site([this](const std::string& line) { sink(line); }),
          control(site, settings),
          finder(control, history ? *history : own_history) {
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

    // Why `show-task`, `pin` or `unpin` cannot have the entry: nothing is
    // loaded, or the id is none of the loaded catalogue's entries.
    std::optional<Refusal> NoEntry(int64_t id, const std::vector<std::string>& keys) {
        if (!finder.Loaded()) return Refusal{"no catalogue is loaded", "load first"};
        if (keys.empty())
            return Refusal{
                "task " + std::to_string(id) + " is not in the loaded catalogue's list bar or tree",
                ""};
        return std::nullopt;
    }

    // The entry shown as the user would reach it, or the refused line.
    void ShowTask(int64_t id) {
        const std::vector<std::string> keys = finder.KeysOf(id);
        // The surface first, worded as for every user action; then the
        // entry; then the tree, which the item's click fills.
        std::optional<Refusal> refusal;
        if (!site.Enabled() || !site.Frame(Child::sslistTaskList).visible)
            refusal = CheckUserAction(site, control, {UserAction::Kind::open_group, ""});
        if (!refusal) refusal = NoEntry(id, keys);
        if (!refusal)
            refusal = CheckUserAction(site, control, {UserAction::Kind::open_group, keys[0]});
        if (!refusal && keys.size() > 1)
            refusal = CheckUserAction(site, control, {UserAction::Kind::dblclick, ""});
        if (refusal)
            site.Refused(*refusal);
        else
            control.ShowTask(keys);
    }

    // A launch the history could not keep, reported with the next command
    // that shows or changes the history.
    void ReportRecordingError() {
        if (const auto error = finder.TakeRecordingError())
            site.Refused(
                {"a launch could not be kept in the history: " + error->Description(), ""});
    }

    void Pin(int64_t id, bool pin) {
        ReportRecordingError();
        if (const auto refusal = NoEntry(id, finder.KeysOf(id))) return site.Refused(*refusal);
        try {
            if (pin)
                finder.Pin(id);
            else
                finder.Unpin(id);
        } catch (const RuntimeError& e) {
            site.Refused({e.Description(), ""});
        }
    }

    // `favourites` and `recent`: the entries, then the end line. A history
    // that cannot be read is a refused line, and the list is empty.
    void List(const char* line, const char* end,
              const std::function<std::vector<search::TaskFinder::Entry>()>& entries) {
        ReportRecordingError();
        std::vector<search::TaskFinder::Entry> listed;
        try {
            listed = entries();
        } catch (const RuntimeError& e) {
            site.Refused({e.Description(), ""});
        }
        for (const auto& entry : listed) {
            std::string text = std::string(line) + " " + EntryText(entry);
            if (std::string_view(line) == "recent") text += " " + std::to_string(entry.count);
            sink(text);
        }
        sink(std::string(end) + " " + std::to_string(listed.size()));
    }

    void Invoke(dispatch::DISPID id, dispatch::Call call, const std::vector<Variant>& args) {
        dispatch::HRESULT hr = dispatch::Invoke(control, id, call, args);
        if (hr != dispatch::kOk) sink("invoke-error " + Hex(hr));
    }

    void Echo(const Command& c) {
        std::string line = "echo";
        for (const auto& w : c.args) {
            line += ' ';
            AppendEchoWord(line, w.text);
        }
        sink(line);
    }

    // The commands that go through the dispatch interface, as a host of the
    // control would call it. False for any other command.
    bool RunDispatchCommand(const Command& c) {
        const std::string& n = c.name;
        if (n == "set")
            SetProperty(c.args[0].text, c.args[1]);
        else if (n == "invoke")
            InvokeById(static_cast<dispatch::DISPID>(c.numbers[0]),
                       c.args.size() == 2 ? &c.args[1] : nullptr);
        else if (n == "load")
            Invoke(dispatch::kLoadDataDispid, dispatch::Call::method, {});
        else if (n == "select")
            Invoke(dispatch::kSelectTaskDispid, dispatch::Call::method, {});
        else
            return false;
        return true;
    }

    // `set NAME VALUE`: UserNumber and AppId take a bare number as a
    // number; anything else goes to the interface as text, which converts it.
    void SetProperty(const std::string& name, const Word& value_word) {
        dispatch::DISPID id = 0;
        dispatch::GetIDOfName(name, id);
        Variant value;
        int32_t number;
        const bool numeric = name == "UserNumber" || name == "AppId";
        if (numeric && !value_word.literal && ParseInt32Word(value_word.text, number))
            value = Variant(number);
        else
            value = Variant(value_word.text);
        Invoke(id, dispatch::Call::propertyPut, {value});
    }

    // `invoke DISPID [VALUE]`: a property named by its id is put when a
    // value is given and read otherwise. A bare value that is no 32-bit
    // number is refused here, as the interface would refuse it.
    void InvokeById(dispatch::DISPID id, const Word* value) {
        std::vector<Variant> args;
        dispatch::Call call = dispatch::Call::method;
        const dispatch::Member* member = nullptr;
        for (const auto& mem : dispatch::Members())
            if (mem.dispid == id) member = &mem;
        if (member && member->kind == dispatch::Kind::propput)
            call = value ? dispatch::Call::propertyPut : dispatch::Call::propertyGet;
        if (value && value->literal) {
            args.emplace_back(value->text);
        } else if (value) {
            int32_t v;
            if (!ParseInt32Word(value->text, v)) {
                sink("invoke-error " + Hex(dispatch::kOverflow));
                return;
            }
            args.emplace_back(v);
        }
        Invoke(id, call, args);
    }

    // What the container does to the control, and the test hooks. False for
    // any other command.
    bool RunContainerCommand(const Command& c) {
        const std::string& n = c.name;
        if (n == "paint")
            site.Paint();
        else if (n == "resize")
            site.Resize(c.numbers[0], c.numbers[1]);
        else if (n == "border")
            site.SetBorders(c.numbers[0], c.numbers[1]);
        else if (n == "terminate")
            site.Terminate();
        else if (n == "fault")
            faults::Arm(c.args[0].text, c.count, static_cast<int32_t>(c.numbers[0]),
                        c.args[3].text);
        else
            return false;
        return true;
    }

    // What the user does with the mouse. False for any other command.
    bool RunUserAction(const Command& c) {
        const std::string& n = c.name;
        if (n == "open-group")
            Act(UserAction::Kind::open_group, c.args[0].text);
        else if (n == "click-item")
            Act(UserAction::Kind::click_item, c.args[0].text);
        else if (n == "select-node")
            Act(UserAction::Kind::select_node, c.args[0].text);
        else if (n == "dblclick")
            Act(UserAction::Kind::dblclick, "");
        else
            return false;
        return true;
    }

    // Finding a task, and the favourites and launch history. False for any
    // other command.
    bool RunFindCommand(const Command& c) {
        const std::string& n = c.name;
        if (n == "find") {
            const auto found = finder.Find(c.args[0].text, static_cast<size_t>(c.limit));
            for (const auto& entry : found) sink("found " + EntryText(entry));
            sink("found-end " + std::to_string(found.size()));
        } else if (n == "show-task") {
            ShowTask(c.task_id);
        } else if (n == "pin" || n == "unpin") {
            Pin(c.task_id, n == "pin");
        } else if (n == "favourites") {
            List("favourite", "favourites-end", [&] { return finder.Favourites(); });
        } else if (n == "recent") {
            List("recent", "recent-end",
                 [&] { return finder.Recent(static_cast<size_t>(c.limit)); });
        } else {
            return false;
        }
        return true;
    }
};

HeadlessHost::HeadlessHost(LineSink sink, SettingsStore& settings, search::HistoryStore* history)
    : impl_(std::make_unique<Impl>(std::move(sink), settings, history)) {}

HeadlessHost::~HeadlessHost() = default;

ctlKevraTaskList& HeadlessHost::Control() { return impl_->control; }
HeadlessSite& HeadlessHost::Site() { return impl_->site; }

void HeadlessHost::RunAll(const std::vector<Command>& commands) {
    for (const auto& c : commands) Run(c);
}

void HeadlessHost::Finish() { impl_->site.Terminate(); }

void HeadlessHost::Run(const Command& c) {
    Impl& m = *impl_;
    // These two print and change nothing, so they still work once the
    // control is terminated.
    if (c.name == "echo") return m.Echo(c);
    if (c.name == "dump") return m.sink("dump " + DumpJson());
    if (m.site.Terminated()) return m.site.Refused(TerminatedRefusal());
    m.RunDispatchCommand(c) || m.RunContainerCommand(c) || m.RunUserAction(c) ||
        m.RunFindCommand(c);
    m.site.AfterCommand();
}

std::string HeadlessHost::DumpJson() const {
    const HeadlessSite& site = impl_->site;
    const ctlKevraTaskList& control = impl_->control;
    return "{" + SurfaceJson(site) + "," + ListBarJson(site, control.sslistTaskList()) + "," +
           TreeJson(site, control.sstreeTaskList()) + "," + MembersJson(control.GetMembers()) +
           "," + TasksJson(control.Tasks()) + "}";
}

}  // namespace kevra::host
