#pragma once
// The per-user folder where the instrument simulator publishes its lines as
// symbolic links, and the check that makes it safe to list them: the folder
// may lie in a directory every user can write to (/tmp), where anybody could
// have created it first or put links of their own into it.
// Header-only: the simulator uses it without the rest of the link.

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace pmlink {

// "$XDG_RUNTIME_DIR/pmsim" when XDG_RUNTIME_DIR is set, else "/tmp/pmsim-<uid>".
inline std::string SimulatorLineFolder() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && *runtime != '\0') return std::string(runtime) + "/pmsim";
  return "/tmp/pmsim-" + std::to_string(::getuid());
}

// A real folder (not a link to one) that belongs to this user and that no
// other user can write to.
inline bool IsPrivateFolder(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return false;
  return S_ISDIR(st.st_mode) && st.st_uid == ::getuid() && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

}  // namespace pmlink
