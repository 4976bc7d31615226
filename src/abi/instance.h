// One instance of the control as the C interface hands it out: the control,
// the site it lives on (the host's callbacks or the headless site), its
// settings store, the finder with its history store, the host's event
// handlers, and the reference count.
//
// The instance guards itself against the ways a C host can misuse it:
// calls on another thread than the creating one, calls on a pointer that is
// not a live instance, and above all a release from inside one of its own
// callbacks (the StartTask handler runs nested inside the control's
// double-click handler; freeing the control there would pull it from under
// its own stack frame). Such a release is carried out when the outermost
// call into the instance has returned.
#pragma once

#include <memory>
#include <string>
#include <thread>

#include "abi/callback_site.h"
#include "abi/kevra_tasklist.h"
#include "control/ctlKevraTaskList.h"
#include "headless/headless_site.h"
#include "headless/host.h"
#include "search/switchable_history_store.h"
#include "search/task_finder.h"
#include "settings/ini_settings_store.h"

namespace kevra::abi {

// The settings store an instance uses; its directory may be changed.
class InstanceSettings : public SettingsStore {
  public:
    InstanceSettings() : store_(std::make_unique<IniSettingsStore>()) {}
    // Empty: the default directory.
    void UseDirectory(const std::string& directory);
    std::string GetSetting(const std::string& application, const std::string& section,
                           const std::string& key, const std::string& default_value) override {
        return store_->GetSetting(application, section, key, default_value);
    }
    void SaveSetting(const std::string& application, const std::string& section,
                     const std::string& key, const std::string& value) override {
        store_->SaveSetting(application, section, key, value);
    }

  private:
    std::unique_ptr<IniSettingsStore> store_;
};

}  // namespace kevra::abi

struct kevra_control {
    kevra_control();
    ~kevra_control();
    kevra_control(const kevra_control&) = delete;
    kevra_control& operator=(const kevra_control&) = delete;

    void SiteHeadless(kevra_line_fn on_line, void* user);
    void SiteOnCallbacks(const kevra_site_callbacks& host_site, void* user);
    bool Sited() const { return control != nullptr; }
    bool Terminated() const { return site->Terminated(); }

    // The container the control lives on: the headless one (which reports
    // through the line callback) or the one on the host's callbacks.
    kevra::ContainerCore* site = nullptr;
    kevra::ctlKevraTaskList* control = nullptr;
    kevra::host::HeadlessHost* headless = nullptr;  // the headless site only
    kevra::HeadlessSite* headless_site = nullptr;   // the headless site only

    kevra::abi::InstanceSettings settings;
    kevra::search::SwitchableHistoryStore history;
    // Follows the control's loads and launches from the siting on.
    std::unique_ptr<kevra::search::TaskFinder> finder;
    std::thread::id thread = std::this_thread::get_id();
    unsigned refs = 1;
    int depth = 0;          // calls into the instance on the stack
    bool released = false;  // the last reference is gone; freed when depth is 0

    kevra_line_fn line_fn = nullptr;
    void* line_user = nullptr;
    kevra_start_task_fn start_task_fn = nullptr;
    void* start_task_user = nullptr;
    kevra_event_fn event_fn = nullptr;
    void* event_user = nullptr;

  private:
    void WireEvents();
    void Raise(int32_t id, const std::string& url, const std::string& parms);

    std::unique_ptr<kevra::host::HeadlessHost> headless_;
    std::unique_ptr<kevra::abi::CallbackSite> callback_site_;
    std::unique_ptr<kevra::ctlKevraTaskList> control_;
};

namespace kevra::abi {

// Creates an unsited instance and registers the task service in the
// process on first use.
kevra_control* NewInstance();
// Whether `control` is a live instance (not yet freed).
bool IsLive(const kevra_control* control);
// Frees the instance: the terminate notification if the host has not sent
// it, then the memory.
void FreeInstance(kevra_control* control);

}  // namespace kevra::abi
