// What every benchmark binary needs to drive the control without a window
// system: a task service that hands out rows already in memory, a settings
// store that remembers nothing, a headless control that notices error
// reports, and the catalogue shapes and sizes the figures are measured at.
#pragma once

#include <benchmark/benchmark.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bench/catalogue_generator.h"
#include "control/ctlKevraTaskList.h"
#include "headless/headless_site.h"
#include "platform/dataspace.h"
#include "platform/error.h"
#include "platform/settings_store.h"

namespace kevra::bench {

// The catalogue sizes of every figure. The smoke run in ctest selects the
// first with the filter `rows:1000$`.
inline const std::vector<int64_t> kSizes = {1'000, 10'000, 100'000, 1'000'000};

// A catalogue as the list bar sees it in a large hotel group: one group per
// hundred tasks (a million tasks give ten thousand groups), ten list items
// per group, the rest in trees of fan-out 10 below the items.
inline testdata::CatalogueSpec ListBarShape(uint32_t rows) {
    testdata::CatalogueSpec spec;
    spec.rows = rows;
    spec.fanout = {std::max<uint32_t>(1, rows / 100), 10, 10};
    spec.depth = 0;
    return spec;
}

// One group with one list item and every other task below that item, in a
// tree of fan-out 10: filling the tree for the item shows the whole
// catalogue.
inline testdata::CatalogueSpec SingleItemShape(uint32_t rows) {
    testdata::CatalogueSpec spec;
    spec.rows = rows;
    spec.fanout = {1, 1, 10};
    spec.depth = 0;
    return spec;
}

using CatalogueShape = testdata::CatalogueSpec (*)(uint32_t rows);

// The generated catalogue of `rows` tasks in `shape`, made on first use and
// kept for the rest of the process, so that the figures of one size share
// their rows and none of them times the generator.
inline const testdata::Catalogue& GeneratedCatalogue(uint32_t rows,
                                                     CatalogueShape shape = ListBarShape) {
    static std::map<std::pair<uintptr_t, uint32_t>, testdata::Catalogue> made;
    const auto key = std::make_pair(reinterpret_cast<uintptr_t>(shape), rows);
    auto it = made.find(key);
    if (it == made.end()) it = made.emplace(key, testdata::GenerateCatalogue(shape(rows))).first;
    return it->second;
}

// What this benchmark binary printed when started again as a measuring
// child of its own, so that neither the catalogue generated here nor heap
// left over from an earlier figure is counted in the child's memory.
struct SelfRun {
    std::string output;  // its standard output
    bool ok = false;     // it ran and exited with 0
};

// Runs this binary again with `args` (args[0] its name) and reads what it
// prints.
inline SelfRun RunSelf(const std::vector<std::string>& args) {
    SelfRun run;
    int out[2];
    if (::pipe(out) != 0) return run;
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out[1], 1);
        ::close(out[0]);
        ::close(out[1]);
        std::vector<char*> argv;
        for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
        argv.push_back(nullptr);
        ::execv("/proc/self/exe", argv.data());
        ::_exit(127);
    }
    ::close(out[1]);
    char buffer[256];
    for (ssize_t n; pid > 0 && (n = ::read(out[0], buffer, sizeof buffer)) > 0;)
        run.output.append(buffer, static_cast<size_t>(n));
    ::close(out[0]);
    int status = 0;
    run.ok = pid > 0 && ::waitpid(pid, &status, 0) == pid && WIFEXITED(status) &&
             WEXITSTATUS(status) == 0;
    return run;
}

// A settings store that stores nothing: every read yields its default.
class NullSettings : public SettingsStore {
  public:
    std::string GetSetting(const std::string&, const std::string&, const std::string&,
                           const std::string& default_value) override {
        return default_value;
    }
    void SaveSetting(const std::string&, const std::string&, const std::string&,
                     const std::string&) override {}
};

// KEVRA.clsKEVRA answering from rows in memory: RetrieveTasks opens a new
// record set over the table it is given, so a load costs the list bar build
// and nothing of a store.
class MemoryTaskService : public Dispatchable {
  public:
    explicit MemoryTaskService(TableRef rows) : rows_(std::move(rows)) {}
    std::string TypeName() const override { return "MemoryTaskService"; }
    Variant InvokeByName(const std::string& name, std::vector<Variant*> args) override {
        if (name != "RetrieveTasks" || args.size() != 5)
            throw RuntimeError(err::kNoSuchMember,
                               "The benchmark's task service answers RetrieveTasks with five "
                               "arguments only, not " +
                                   name);
        *args[4] = Variant(ObjectRef(Recordset::Open(rows_)));
        return Variant();
    }

  private:
    TableRef rows_;
};

// One control in the headless container, with its own component registry.
// Every line the container would print is dropped, except that an error
// report is remembered, so that a benchmark never times a failing path.
class HeadlessControl {
  public:
    HeadlessControl()
        : site_([this](const std::string& line) {
              if (line.compare(0, 6, "msgbox") == 0 && error_.empty()) error_ = line;
          }),
          control_(site_, settings_, registry_) {
        site_.Site(control_);
    }

    ComponentRegistry& Registry() { return registry_; }
    ctlKevraTaskList& Control() { return control_; }

    // Serves `rows` (through MemoryTaskService) to every later LoadData.
    void ServeRows(TableRef rows) {
        *served_ = std::move(rows);
        if (!registry_.IsRegistered("KEVRA.clsKEVRA")) {
            auto served = served_;
            registry_.Register("KEVRA.clsKEVRA", [served](const std::string&) -> ObjectRef {
                return std::make_shared<MemoryTaskService>(*served);
            });
        }
    }

    // The first error report shown since the last call, or "".
    std::string TakeError() {
        std::string e;
        e.swap(error_);
        return e;
    }

    // LoadData; false (and the state's error) when it reported a failure.
    bool Load(benchmark::State& state) {
        control_.LoadData();
        return Ok(state);
    }
    bool Ok(benchmark::State& state) {
        std::string e = TakeError();
        if (e.empty()) return true;
        state.SkipWithError(e.c_str());
        return false;
    }

    // LoadData at every iteration of `state`, each time from a fresh copy of
    // `rows`, as a load of a new record set builds its index anew. The copy,
    // and the freeing of the rows of the load before, stay outside the
    // timing. False (and the state's error) when a load reported a failure.
    bool LoadFreshCopies(benchmark::State& state, const TableRef& rows) {
        TableRef previous;
        for (auto _ : state) {
            state.PauseTiming();
            previous.reset();
            if (control_.Tasks()) previous = control_.Tasks()->Rows();
            ServeRows(testdata::CopyTaskRows(rows));
            state.ResumeTiming();
            if (!Load(state)) return false;
        }
        return true;
    }

  private:
    std::string error_;
    NullSettings settings_;
    ComponentRegistry registry_;
    HeadlessSite site_;
    ctlKevraTaskList control_;
    std::shared_ptr<TableRef> served_ = std::make_shared<TableRef>();
};

}  // namespace kevra::bench
