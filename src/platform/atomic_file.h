// Replacing a file whole, for every writer of files a user keeps (catalogue
// exports, the component registry): a reader, or the system after a crash,
// finds the old contents or the new ones, never a mixture, and nothing that
// stood at the path other than a regular file is ever replaced.
//
// The new contents go to a temporary file beside the target, named
// .NAME.tmp-XXXXXX, which is synced to disk and renamed over the target;
// then the folder is synced so that the rename itself survives a crash. The
// writer holds an flock on its temporary file from creation until after the
// rename. A writer that is killed loses its lock with its life, so a later
// write to the same target can tell its leftover (unlocked) from a
// temporary another writer is still filling (locked) and removes the former.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"

namespace kevra {

struct ReplaceFileOptions {
    // Permission bits of a file that did not exist before, from which the
    // umask takes its bits away (a folder's default ACL applies as well). A
    // file that existed keeps its permission bits.
    unsigned new_file_mode = 0666;
};

// Writes `content` to `path`, replacing the regular file there or creating
// it (FileReplacement below, with the content as its one piece). Refuses a
// path where something other than a regular file stands (a symbolic link, a
// FIFO, a device, a folder, a socket), leaving it as it is.
// Throws RuntimeError naming the path and what to do: err::kPermissionDenied
// when the folder or file may not be written or the file system is
// read-only, err::kPathAccess otherwise. After a failure the target is as
// it was (unless the failure is that the folder could not be synced after
// the rename, which the message says) and no temporary file is left.
void ReplaceFile(const std::string& path, std::string_view content,
                 const ReplaceFileOptions& options = {});

// Removes the temporary files of ReplaceFile for `path` that a killed
// writer left behind: named exactly as ReplaceFile names them for this
// target, regular files owned by this user, and not locked by a live
// writer. Returns how many it removed. ReplaceFile calls it before it
// writes; failures only leave the leftovers in place.
size_t RemoveAbandonedTemporaries(const std::string& path);

// The same for the target `name` in the folder open as `dir`, for a writer
// that holds its folder open so that the folder it checked is the one it
// writes in (the settings store).
size_t RemoveAbandonedTemporariesAt(int dir, const std::string& name);

// The form of ReplaceFile for such a writer: the same steps, with every name
// looked up in `dir` (which may be an O_PATH descriptor). It throws nothing
// for the failures of the file system; it says which step failed and why,
// so that the caller can word the error in its own terms. Unlike
// ReplaceFile it does not look at what stands at `name` first (the caller
// has read it) nor remove abandoned temporaries (the caller decides when).
struct ReplaceAtOptions {
    // Permission bits the temporary is created with; the umask applies.
    unsigned create_mode = 0600;
    // Set on the temporary before it is filled; the umask does not apply.
    std::optional<unsigned> mode;
    // Tried on the temporary before it is filled: first both, then the
    // group alone; a failure is no failure of the replace.
    std::optional<uid_t> owner;
    std::optional<gid_t> group;
};

enum class ReplaceStep {
    kNone,                // done
    kCreateTemporary,     // no temporary could be created in the folder
    kTemporaryTakenAway,  // another program kept removing the new temporaries
    kWrite,               // setting the mode, writing, syncing or closing it
    kRename,              // renaming it over the target
    kSyncFolder,          // the target is replaced, its folder not synced
};

struct ReplaceOutcome {
    ReplaceStep step = ReplaceStep::kNone;
    int error = 0;          // errno of the step
    std::string temporary;  // the temporary's name in the folder, once made
    bool ok() const { return step == ReplaceStep::kNone; }
};

// Before kRename the target is as it was and no temporary is left.
ReplaceOutcome ReplaceFileAt(int dir, const std::string& name, std::string_view content,
                             const ReplaceAtOptions& options = {});

// ReplaceFileAt a step at a time, for contents that come in pieces: the
// temporary is made and locked when it is constructed, filled by Write,
// and renamed over the target by Commit. Each returns the outcome so far;
// after a failure the temporary is gone and every later call returns that
// failure. Destroyed before Commit, it removes its temporary and leaves the
// target as it was. `dir` must stay open as long as it lives.
class ReplacementAt {
  public:
    ReplacementAt(int dir, std::string name, const ReplaceAtOptions& options = {});
    ~ReplacementAt();
    ReplacementAt(const ReplacementAt&) = delete;
    ReplacementAt& operator=(const ReplacementAt&) = delete;

    const ReplaceOutcome& Write(std::string_view piece);
    const ReplaceOutcome& Commit();
    const ReplaceOutcome& outcome() const { return outcome_; }

  private:
    const ReplaceOutcome& Failed(ReplaceStep step, int error);

    int dir_;
    std::string name_;
    ReplaceOutcome outcome_;
    UniqueFd out_, lock_;
    bool temporary_exists_ = false;
    bool committed_ = false;
};

// ReplaceFile for contents written in pieces as they are made (an export of
// a catalogue too large to hold): the same checks, temporary, modes,
// messages and error numbers, each thrown by the call that meets the
// failure. The constructor checks what stands at `path` and makes the
// temporary; Write appends; Commit syncs and renames. Destroyed before
// Commit, or after any failure, it leaves the target as it was and no
// temporary behind.
class FileReplacement {
  public:
    explicit FileReplacement(std::string path, const ReplaceFileOptions& options = {});
    ~FileReplacement();
    FileReplacement(const FileReplacement&) = delete;
    FileReplacement& operator=(const FileReplacement&) = delete;

    void Write(std::string_view piece);
    void Commit();

  private:
    void ThrowIfFailed(const ReplaceOutcome& outcome) const;

    std::string path_, folder_;
    UniqueFd dir_;
    // After dir_, so that an abandoned temporary goes before the folder's
    // descriptor is closed.
    std::optional<ReplacementAt> replacement_;
};

}  // namespace kevra
