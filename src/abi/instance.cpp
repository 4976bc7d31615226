// Instances of the control behind the C interface: siting, event delivery,
// and the set of live instances.
#include "abi/instance.h"

#include <mutex>
#include <unordered_set>
#include <vector>

#include "abi/server.h"
#include "control/dispatch.h"
#include "service/task_service.h"

namespace kevra::abi {

void InstanceSettings::UseDirectory(const std::string& directory) {
    store_ = directory.empty() ? std::make_unique<IniSettingsStore>()
                               : std::make_unique<IniSettingsStore>(directory);
}

namespace {

std::mutex live_mutex;
std::unordered_set<const kevra_control*>& Live() {
    static std::unordered_set<const kevra_control*> live;
    return live;
}

}  // namespace

kevra_control* NewInstance() {
    static std::once_flag task_service;
    std::call_once(task_service, [] { service::RegisterTaskService(); });
    auto instance = std::make_unique<kevra_control>();
    std::lock_guard<std::mutex> lock(live_mutex);
    Live().insert(instance.get());
    return instance.release();
}

bool IsLive(const kevra_control* control) {
    std::lock_guard<std::mutex> lock(live_mutex);
    return Live().count(control) != 0;
}

void FreeInstance(kevra_control* control) {
    {
        std::lock_guard<std::mutex> lock(live_mutex);
        Live().erase(control);
    }
    delete control;
}

}  // namespace kevra::abi

kevra_control::kevra_control() { kevra::abi::ObjectCreated(); }

kevra_control::~kevra_control() {
    // The container tells a control it is going before it destroys it.
    if (site && !site->Terminated()) site->Terminate();
    // The finder hands the control's hooks back before the control goes.
    finder.reset();
    control_.reset();
    callback_site_.reset();
    headless_.reset();
    kevra::abi::ObjectDestroyed();
}

void kevra_control::SiteHeadless(kevra_line_fn on_line, void* user) {
    line_fn = on_line;
    line_user = user;
    headless_ = std::make_unique<kevra::host::HeadlessHost>(
        [this](const std::string& line) {
            if (line_fn) line_fn(line_user, line.c_str());
        },
        settings);
    headless = headless_.get();
    headless_site = &headless_->Site();
    site = headless_site;
    control = &headless_->Control();
    // The headless host's own finder serves its script commands, which
    // the C interface does not run; this one takes the hooks over.
    finder = std::make_unique<kevra::search::TaskFinder>(*control, history);
    WireEvents();
}

void kevra_control::SiteOnCallbacks(const kevra_site_callbacks& host_site, void* user) {
    callback_site_ = std::make_unique<kevra::abi::CallbackSite>(host_site, user);
    control_ = std::make_unique<kevra::ctlKevraTaskList>(*callback_site_, settings);
    site = callback_site_.get();
    control = control_.get();
    finder = std::make_unique<kevra::search::TaskFinder>(*control, history);
    WireEvents();
    callback_site_->Site(*control_);
}

void kevra_control::WireEvents() {
    control->OnStartTask([this](int32_t id, const std::string& url, const std::string& parms) {
        Raise(id, url, parms);
    });
}

void kevra_control::Raise(int32_t id, const std::string& url, const std::string& parms) {
    // The headless site reports the event as kevra-host prints it.
    if (headless_site && line_fn) headless_site->StartTaskRaised(id, url, parms);
    if (start_task_fn) start_task_fn(start_task_user, id, url.c_str(), parms.c_str());
    if (event_fn) {
        const kevra_variant args[3] = {
            {KEVRA_VT_I4, id, nullptr},
            {KEVRA_VT_STRING, 0, url.c_str()},
            {KEVRA_VT_STRING, 0, parms.c_str()},
        };
        event_fn(event_user, kevra::dispatch::kStartTaskDispid, args, 3);
    }
}
