// The C interface to the instance's finder: search results, favourites and
// recent tasks handed out as lists the host owns, showing an entry, pinning,
// and where the history is kept.
//
// A list is a copy: it stays valid after the instance is released, and a
// host that frees it twice, or passes a pointer that is no list, gets
// KEVRA_E_POINTER rather than a corrupted heap, as with instances.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <optional>
#include <unordered_set>
#include <vector>

#include "abi/instance_call.h"
#include "container/user_actions.h"

struct kevra_results {
    struct Item {
        int id;
        int kind;
        int count;
        std::vector<std::string> captions;
        std::vector<const char*> path;  // into captions
    };
    std::vector<Item> items;
};

namespace kevra::abi {

namespace {

static_assert(static_cast<int>(search::EntryKind::group) == KEVRA_ENTRY_GROUP &&
                  static_cast<int>(search::EntryKind::item) == KEVRA_ENTRY_ITEM &&
                  static_cast<int>(search::EntryKind::task) == KEVRA_ENTRY_TASK &&
                  static_cast<int>(search::EntryKind::link) == KEVRA_ENTRY_LINK,
              "entry kinds of the C interface and the search differ");

std::mutex lists_mutex;
std::unordered_set<const kevra_results*>& Lists() {
    static std::unordered_set<const kevra_results*> lists;
    return lists;
}

const kevra_results::Item& ItemOf(const kevra_results* results, unsigned index) {
    if (!results) throw AbiError(KEVRA_E_POINTER, "the results pointer is NULL");
    {
        std::lock_guard<std::mutex> lock(lists_mutex);
        if (!Lists().count(results))
            throw AbiError(KEVRA_E_POINTER,
                           "the pointer does not name a live result list (was it freed?)");
    }
    if (index >= results->items.size())
        throw AbiError(KEVRA_E_INVALIDARG,
                       "there is no entry " + std::to_string(index) + ": the list holds " +
                           std::to_string(results->items.size()) + " (entries count from 0)");
    return results->items[index];
}

// The list the host receives, or the failure with `*out` NULL.
template <typename Entries>
KEVRA_HRESULT HandOut(kevra_control* control, kevra_results** out, Entries&& entries) {
    return Guard([&]() -> KEVRA_HRESULT {
        if (!out) throw AbiError(KEVRA_E_POINTER, "the results out-pointer is NULL");
        *out = nullptr;
        return OnInstance(control, Need::sited, [&](kevra_control& c) {
            auto list = std::make_unique<kevra_results>();
            for (const search::TaskFinder::Entry& e : entries(*c.finder)) {
                if (e.id < INT_MIN || e.id > INT_MAX) continue;
                kevra_results::Item item{static_cast<int>(e.id),
                                         static_cast<int>(e.kind),
                                         static_cast<int>(std::min<int64_t>(e.count, INT_MAX)),
                                         e.path,
                                         {}};
                list->items.push_back(std::move(item));
            }
            // Pointers taken once the captions have stopped moving.
            for (auto& item : list->items)
                for (const auto& caption : item.captions) item.path.push_back(caption.c_str());
            {
                std::lock_guard<std::mutex> lock(lists_mutex);
                Lists().insert(list.get());
            }
            *out = list.release();
            return KEVRA_S_OK;
        });
    });
}

// Why the entry cannot be pinned or shown: nothing loaded, or no such entry.
std::optional<Refusal> NoEntry(search::TaskFinder& finder, int id,
                               const std::vector<std::string>& keys) {
    if (!finder.Loaded()) return Refusal{"no catalogue is loaded", "call LoadData first"};
    if (keys.empty())
        return Refusal{
            "task " + std::to_string(id) + " is not in the loaded catalogue's list bar or tree",
            ""};
    return std::nullopt;
}

// A refusal as the headless site reports it and as the host reads it.
[[noreturn]] void Refuse(kevra_control& c, const std::string& doing, const Refusal& refusal) {
    if (c.headless_site && c.line_fn) c.headless_site->Refused(refusal);
    std::string message = "cannot " + doing + ": " + refusal.reason;
    if (!refusal.remedy.empty()) message += " (" + refusal.remedy + ")";
    throw AbiError(KEVRA_E_REFUSED, message);
}

KEVRA_HRESULT Pin(kevra_control* control, int id, bool pin) {
    return OnInstance(control, Need::sited, [&](kevra_control& c) {
        const std::string doing =
            std::string(pin ? "pin" : "unpin") + " task " + std::to_string(id);
        if (const auto refusal = NoEntry(*c.finder, id, c.finder->KeysOf(id)))
            Refuse(c, doing, *refusal);
        if (pin)
            c.finder->Pin(id);
        else
            c.finder->Unpin(id);
        return KEVRA_S_OK;
    });
}

}  // namespace

}  // namespace kevra::abi

using kevra::abi::AbiError;
using kevra::abi::Need;
using kevra::abi::OnInstance;

extern "C" {

KEVRA_API KEVRA_HRESULT kevra_control_set_history_store(kevra_control* control, int store,
                                                        const char* directory) {
    return OnInstance(control, Need::live, [&](kevra_control& c) {
        if (store == KEVRA_HISTORY_FILES) {
            if (directory && !*directory)
                throw AbiError(KEVRA_E_INVALIDARG,
                               "the history directory is empty: pass NULL for the default one");
            c.history.UseFiles(directory ? directory : "");
        } else if (store == KEVRA_HISTORY_MEMORY) {
            if (directory)
                throw AbiError(KEVRA_E_INVALIDARG,
                               "a history kept in memory has no directory: pass NULL");
            c.history.UseMemory();
        } else {
            throw AbiError(KEVRA_E_INVALIDARG,
                           "there is no history store " + std::to_string(store) +
                               " (use KEVRA_HISTORY_FILES or KEVRA_HISTORY_MEMORY)");
        }
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_find(kevra_control* control, const char* text,
                                           unsigned int limit, kevra_results** results) {
    return kevra::abi::HandOut(control, results, [&](kevra::search::TaskFinder& finder) {
        if (!text) throw AbiError(KEVRA_E_POINTER, "the search text is NULL (pass \"\" for none)");
        return finder.Find(text, limit);
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_favourites(kevra_control* control, kevra_results** results) {
    return kevra::abi::HandOut(
        control, results, [](kevra::search::TaskFinder& finder) { return finder.Favourites(); });
}

KEVRA_API KEVRA_HRESULT kevra_control_recent(kevra_control* control, unsigned int limit,
                                             kevra_results** results) {
    return kevra::abi::HandOut(
        control, results, [&](kevra::search::TaskFinder& finder) { return finder.Recent(limit); });
}

KEVRA_API KEVRA_HRESULT kevra_results_count(const kevra_results* results, unsigned int* count) {
    return kevra::abi::Guard([&]() -> KEVRA_HRESULT {
        if (!count) throw AbiError(KEVRA_E_POINTER, "the count pointer is NULL");
        *count = 0;
        if (!results) throw AbiError(KEVRA_E_POINTER, "the results pointer is NULL");
        std::lock_guard<std::mutex> lock(kevra::abi::lists_mutex);
        if (!kevra::abi::Lists().count(results))
            throw AbiError(KEVRA_E_POINTER,
                           "the pointer does not name a live result list (was it freed?)");
        *count = static_cast<unsigned>(results->items.size());
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_results_entry(const kevra_results* results, unsigned int index,
                                            kevra_entry* entry) {
    return kevra::abi::Guard([&]() -> KEVRA_HRESULT {
        if (!entry) throw AbiError(KEVRA_E_POINTER, "the entry pointer is NULL");
        if (entry->struct_size < sizeof(kevra_entry))
            throw AbiError(KEVRA_E_INVALIDARG, "kevra_entry.struct_size is " +
                                                   std::to_string(entry->struct_size) +
                                                   ": set it to sizeof(kevra_entry)");
        const auto& item = kevra::abi::ItemOf(results, index);
        entry->id = item.id;
        entry->kind = item.kind;
        entry->count = item.count;
        entry->depth = static_cast<unsigned>(item.path.size());
        entry->path = item.path.data();
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_results_path_text(const kevra_results* results, unsigned int index,
                                                const char* separator, char* buffer, size_t size,
                                                size_t* length) {
    return kevra::abi::Guard([&]() -> KEVRA_HRESULT {
        if (length) *length = 0;
        if (!buffer && size > 0)
            throw AbiError(KEVRA_E_POINTER, "the buffer is NULL but its size is " +
                                                std::to_string(size) + " (pass size 0 to measure)");
        if (buffer && size > 0) buffer[0] = '\0';
        const auto& item = kevra::abi::ItemOf(results, index);
        std::string text;
        for (size_t i = 0; i < item.captions.size(); ++i) {
            if (i) text += separator ? separator : " > ";
            text += item.captions[i];
        }
        if (length) *length = text.size();
        if (!buffer) return KEVRA_S_OK;
        if (text.size() >= size)
            throw AbiError(KEVRA_E_NOT_SUFFICIENT_BUFFER,
                           "the buffer holds " + std::to_string(size) + " bytes; the path needs " +
                               std::to_string(text.size() + 1) + " with its NUL");
        std::memcpy(buffer, text.c_str(), text.size() + 1);
        return KEVRA_S_OK;
    });
}

KEVRA_API void kevra_results_free(kevra_results* results) {
    if (!results) return;
    {
        std::lock_guard<std::mutex> lock(kevra::abi::lists_mutex);
        // A list freed twice, or no list at all, is left alone.
        if (!kevra::abi::Lists().erase(results)) return;
    }
    delete results;
}

KEVRA_API KEVRA_HRESULT kevra_control_show_task(kevra_control* control, int id) {
    return OnInstance(control, Need::sited, [&](kevra_control& c) {
        using kevra::UserAction;
        const std::string doing = "show task " + std::to_string(id);
        const std::vector<std::string> keys = c.finder->KeysOf(id);
        // The surface first, worded as for every user action; then the
        // entry; then the tree, which the item's click fills.
        std::optional<kevra::Refusal> refusal;
        if (!c.site->Enabled() || !c.site->Frame(kevra::Child::sslistTaskList).visible)
            refusal =
                kevra::CheckUserAction(*c.site, *c.control, {UserAction::Kind::open_group, ""});
        if (!refusal) refusal = kevra::abi::NoEntry(*c.finder, id, keys);
        if (!refusal)
            refusal = kevra::CheckUserAction(*c.site, *c.control,
                                             {UserAction::Kind::open_group, keys[0]});
        if (!refusal && keys.size() > 1)
            refusal = kevra::CheckUserAction(*c.site, *c.control, {UserAction::Kind::dblclick, ""});
        if (refusal) kevra::abi::Refuse(c, doing, *refusal);
        kevra::abi::ControlCall call(*c.site);
        if (!c.control->ShowTask(keys))
            throw AbiError(KEVRA_E_FAIL, "cannot " + doing +
                                             ": the list bar or the tree did not take every step");
        return KEVRA_S_OK;
    });
}

KEVRA_API KEVRA_HRESULT kevra_control_pin(kevra_control* control, int id) {
    return kevra::abi::Pin(control, id, true);
}

KEVRA_API KEVRA_HRESULT kevra_control_unpin(kevra_control* control, int id) {
    return kevra::abi::Pin(control, id, false);
}

KEVRA_API KEVRA_HRESULT kevra_control_take_history_error(kevra_control* control, char** message) {
    return kevra::abi::Guard([&]() -> KEVRA_HRESULT {
        if (!message) throw AbiError(KEVRA_E_POINTER, "the message out-pointer is NULL");
        *message = nullptr;
        return OnInstance(control, Need::sited, [&](kevra_control& c) -> KEVRA_HRESULT {
            const auto error = c.finder->TakeRecordingError();
            if (!error) return KEVRA_S_FALSE;
            const std::string text =
                "a launch could not be kept in the history: " + error->Description();
            char* copy = static_cast<char*>(std::malloc(text.size() + 1));
            if (!copy) throw std::bad_alloc();
            std::memcpy(copy, text.c_str(), text.size() + 1);
            *message = copy;
            return KEVRA_S_OK;
        });
    });
}

}  // extern "C"
