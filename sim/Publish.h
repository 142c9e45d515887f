#pragma once
// Simulated lines are announced to the port enumeration as symbolic links
// in one per-user folder: $XDG_RUNTIME_DIR/pmsim when that variable is set,
// otherwise /tmp/pmsim-<uid>.

#include <string>

namespace sim {

std::string LineFolder();
// Creates (0700) the folder and the link <folder>/<name> -> target; returns
// the link's path. A stale link of that name (its target gone) is replaced;
// a live one pointing elsewhere, or a name with '/', throws
// std::runtime_error.
std::string Publish(const std::string& target, const std::string& name);
// Removes the link if it still points to target.
void Unpublish(const std::string& linkPath, const std::string& target);

}  // namespace sim
