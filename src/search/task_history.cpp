// Favourites, launch scores, and their text form.
#include "search/task_history.h"

#include <algorithm>
#include <charconv>
#include <cmath>

#include "platform/error.h"
#include "platform/json.h"

namespace kevra::search {

namespace {

constexpr std::string_view kHeader = "kevra favourites and history 1";

}  // namespace

bool TaskHistory::IsPinned(int64_t task) const {
    return std::find(favourites_.begin(), favourites_.end(), task) != favourites_.end();
}

bool TaskHistory::Pin(int64_t task) {
    if (IsPinned(task)) return false;
    if (favourites_.size() >= kMaxFavourites)
        throw RuntimeError(err::kInvalidArgument,
                           "Cannot pin task " + std::to_string(task) + ": " +
                               std::to_string(kMaxFavourites) +
                               " tasks of this catalogue are pinned, the most the favourites "
                               "keep. Unpin one first.");
    favourites_.push_back(task);
    return true;
}

bool TaskHistory::Unpin(int64_t task) {
    const auto at = std::find(favourites_.begin(), favourites_.end(), task);
    if (at == favourites_.end()) return false;
    favourites_.erase(at);
    return true;
}

double TaskHistory::ScoreAt(const Launch& launch, Seconds now) {
    const double elapsed = static_cast<double>(std::max<Seconds>(0, now - launch.last));
    return launch.score * std::exp2(-elapsed / static_cast<double>(kHalfLife));
}

void TaskHistory::RecordLaunch(int64_t task, Seconds now) {
    auto at = std::find_if(launches_.begin(), launches_.end(),
                           [&](const Launch& l) { return l.task == task; });
    Launch launch{task, 1, now, 1.0};
    if (at != launches_.end()) {
        launch = *at;
        launch.score = ScoreAt(*at, now) + 1.0;
        launch.last = std::max(at->last, now);
        if (launch.count < INT64_MAX) ++launch.count;
        launches_.erase(at);
    }
    // The latest launch last: launches within one second keep their order.
    launches_.push_back(launch);
    if (launches_.size() <= kMaxLaunches) return;
    // The weakest goes, never the launch just counted: a new task must get
    // its chance, however well used the others are.
    const auto weakest = std::min_element(
        launches_.begin(), launches_.end() - 1,
        [&](const Launch& a, const Launch& b) { return ScoreAt(a, now) < ScoreAt(b, now); });
    launches_.erase(weakest);
}

void TaskHistory::AddLoadedFavourite(int64_t task) {
    if (!IsPinned(task) && favourites_.size() < kMaxFavourites) favourites_.push_back(task);
}

void TaskHistory::AddLoadedLaunch(const Launch& launch) {
    for (Launch& l : launches_)
        if (l.task == launch.task) {
            l = launch;
            return;
        }
    if (launches_.size() < kMaxLaunches) launches_.push_back(launch);
}

TaskHistory* HistoryFile::Find(std::string_view catalogue) {
    for (auto& [name, history] : catalogues)
        if (name == catalogue) return &history;
    return nullptr;
}

TaskHistory& HistoryFile::Get(std::string_view catalogue) {
    if (TaskHistory* h = Find(catalogue)) return *h;
    catalogues.emplace_back(std::string(catalogue), TaskHistory());
    return catalogues.back().second;
}

std::string WriteHistoryFile(const HistoryFile& file) {
    std::string out(kHeader);
    out += '\n';
    char number[32];
    const auto append = [&](auto value) {
        const auto end = std::to_chars(number, number + sizeof number, value).ptr;
        out += ' ';
        out.append(number, end);
    };
    for (const auto& [name, history] : file.catalogues) {
        if (history.Empty()) continue;
        out += "catalogue " + json::Quote(name) + "\n";
        for (const int64_t task : history.Favourites()) {
            out += "pin";
            append(task);
            out += '\n';
        }
        for (const Launch& l : history.Launches()) {
            out += "launch";
            append(l.task);
            append(l.count);
            append(l.last);
            append(l.score);
            out += '\n';
        }
    }
    return out;
}

namespace {

// Reads the history file's lines; every failure names the line.
class Reader {
  public:
    Reader(std::string_view text, const std::string& name) : text_(text), name_(name) {}

    HistoryFile Read() {
        HistoryFile file;
        TaskHistory* current = nullptr;
        bool header = false;
        while (NextLine()) {
            if (line_.empty()) continue;
            if (!header) {
                if (line_ != kHeader)
                    Damaged("it does not start with \"" + std::string(kHeader) +
                            "\": it is not a favourites and history file, or one of a later "
                            "version");
                header = true;
                continue;
            }
            const size_t blank = line_.find(' ');
            const std::string_view word = line_.substr(0, blank);
            std::string_view rest = blank == std::string_view::npos ? "" : line_.substr(blank + 1);
            if (word == "catalogue") {
                std::string catalogue, why;
                if (!json::Unquote(rest, catalogue, why))
                    Damaged("the catalogue name is not a JSON string (" + why + ")");
                if (file.Find(catalogue)) Damaged("the catalogue is named twice");
                current = &file.Get(catalogue);
            } else if (word == "pin" || word == "launch") {
                if (!current) Damaged("\"" + std::string(word) + "\" comes before any catalogue");
                if (word == "pin") {
                    current->AddLoadedFavourite(Integer(rest, "task id"));
                    End(rest);
                } else {
                    Launch l;
                    l.task = Integer(rest, "task id");
                    l.count = Integer(rest, "count");
                    l.last = Integer(rest, "time");
                    l.score = Real(rest);
                    End(rest);
                    if (l.count < 1) Damaged("a launch count must be at least 1");
                    if (!(l.score >= 0) || !std::isfinite(l.score))
                        Damaged("a score must be a number from 0 up");
                    current->AddLoadedLaunch(l);
                }
            } else {
                Damaged("\"" + json::ValidUtf8(word) + "\" is not a line of this file");
            }
        }
        if (!header && !text_.empty()) Damaged("it has no header line");
        return file;
    }

  private:
    bool NextLine() {
        if (pos_ >= text_.size()) return false;
        size_t end = text_.find('\n', pos_);
        if (end == std::string_view::npos) end = text_.size();
        line_ = text_.substr(pos_, end - pos_);
        if (!line_.empty() && line_.back() == '\r') line_.remove_suffix(1);
        pos_ = end + 1;
        ++line_number_;
        return true;
    }

    std::string_view Word(std::string_view& rest, const char* what) {
        if (rest.empty()) Damaged(std::string("the ") + what + " is missing");
        const size_t blank = rest.find(' ');
        const std::string_view word = rest.substr(0, blank);
        rest = blank == std::string_view::npos ? "" : rest.substr(blank + 1);
        return word;
    }

    int64_t Integer(std::string_view& rest, const char* what) {
        const std::string_view word = Word(rest, what);
        int64_t value = 0;
        const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
        if (ec != std::errc() || end != word.data() + word.size())
            Damaged(std::string("the ") + what + " \"" + json::ValidUtf8(word) +
                    "\" is not a whole number");
        return value;
    }

    double Real(std::string_view& rest) {
        const std::string_view word = Word(rest, "score");
        double value = 0;
        const auto [end, ec] = std::from_chars(word.data(), word.data() + word.size(), value);
        if (ec != std::errc() || end != word.data() + word.size())
            Damaged("the score \"" + json::ValidUtf8(word) + "\" is not a number");
        return value;
    }

    void End(std::string_view rest) {
        if (!rest.empty()) Damaged("it has more on it than its numbers");
    }

    [[noreturn]] void Damaged(const std::string& what) {
        std::string where = " is damaged";
        if (line_number_ > 0) where += " at line " + std::to_string(line_number_);
        throw RuntimeError(err::kSettingsStore,
                           "The favourites and history file " + json::Quote(name_) + where + ": " +
                               what +
                               ". It is left as it is: mend it, or move it away to start afresh.");
    }

    std::string_view text_;
    const std::string& name_;
    size_t pos_ = 0;
    std::string_view line_;
    int line_number_ = 0;
};

}  // namespace

HistoryFile ReadHistoryFile(std::string_view text, const std::string& name) {
    return Reader(text, name).Read();
}

}  // namespace kevra::search
