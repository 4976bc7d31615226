// The headless host: one control in the headless container, driven by
// parsed script commands, every observable effect written as one line.
// kevra-host is a thin command line around it; tests use it directly.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "kevra/headless/script.h"
#include "kevra/platform/settings_store.h"

namespace kevra {
class ctlKevraTaskList;
class HeadlessSite;
}  // namespace kevra
namespace kevra::search {
class HistoryStore;
}  // namespace kevra::search

namespace kevra::host {

class HeadlessHost {
  public:
    using LineSink = std::function<void(const std::string&)>;

    // `settings` is the store the control reads and writes; the host adds
    // the setting-write lines around it. `history` keeps the favourites and
    // launch history of the find commands; without one they are kept in
    // memory for the host's life.
    HeadlessHost(LineSink sink, SettingsStore& settings, search::HistoryStore* history = nullptr);
    ~HeadlessHost();

    void Run(const Command& command);
    void RunAll(const std::vector<Command>& commands);
    // Sends the terminate notification unless the script already did.
    void Finish();

    // The state as `dump` prints it (without the "dump " prefix).
    std::string DumpJson() const;

    ctlKevraTaskList& Control();
    HeadlessSite& Site();

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

}  // namespace kevra::host
