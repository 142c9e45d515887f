#pragma once
// Reading and writing settings files safely. A read takes only a regular
// file of at most kMaxFileSize bytes and refuses anything else at once (a
// device, a FIFO, a directory, a huge file), so a hostile path can neither
// hang nor exhaust memory. A write goes to a new file in the same folder,
// is flushed to the disk and then renamed over the old one: a write that
// fails leaves the old file as it was. Only a regular file is ever
// replaced: a symbolic link is written through to the file it points to,
// and a FIFO, a device, a socket or a folder is refused untouched.

#include <cstddef>
#include <functional>
#include <string>
#include <string_view>

namespace pmset {

// A real settings file is about 2 KB.
inline constexpr std::size_t kMaxFileSize = 64 * 1024;

struct FileText {
  bool ok = false;
  std::string text;  // the contents, when ok
  std::string why;   // otherwise: what is wrong, naming the file and the cause
};

FileText ReadSettingsFile(const std::string& path);

// Empty on success; otherwise what went wrong, naming the file and the
// system's reason (no space left, read-only, no permission, not a regular
// file ...). A path that is a symbolic link (or a chain of them) keeps the
// link: the file it ends at is replaced, or created when it is missing. The
// replaced file keeps its permissions.
std::string WriteFileAtomically(const std::string& path, const std::string& text);

// The same for a file made piece by piece (a large export, in memory
// independent of its size): `produce` hands each piece to `write`, which
// returns false once writing has failed; `produce` returns "" when it has
// given everything, or why it could not (then the old file stays).
using FileWriter = std::function<bool(std::string_view)>;
std::string WriteFileAtomically(const std::string& path, const std::function<std::string(const FileWriter&)>& produce);

// "это не обычный файл (канал)" for a st_mode that is not a regular file:
// a folder, a FIFO, a device, a socket.
std::string NotRegularFileCause(unsigned mode);

// The system's reason for an errno, in words an operator can act on; an
// errno without its own words is named by its number, never in English.
std::string FileErrorCause(int err);

}  // namespace pmset
