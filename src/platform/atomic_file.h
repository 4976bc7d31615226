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

#include <cstddef>
#include <string>
#include <string_view>

namespace kevra {

struct ReplaceFileOptions {
    // Permission bits of a file that did not exist before, from which the
    // umask takes its bits away (a folder's default ACL applies as well). A
    // file that existed keeps its permission bits.
    unsigned new_file_mode = 0666;
};

// Writes `content` to `path`, replacing the regular file there or creating
// it. Refuses a path where something other than a regular file stands (a
// symbolic link, a FIFO, a device, a folder, a socket), leaving it as it is.
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

}  // namespace kevra
