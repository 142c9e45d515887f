#include "Publish.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "LineFolder.h"

namespace sim {

namespace {

std::string ReadLink(const std::string& path) {
  char buf[4096];
  const ssize_t n = ::readlink(path.c_str(), buf, sizeof buf - 1);
  if (n < 0) return {};
  return std::string(buf, static_cast<std::size_t>(n));
}

[[noreturn]] void Fail(const std::string& what, int err) {
  throw std::runtime_error(what + ": " + std::strerror(err));
}

}  // namespace

std::string LineFolder() { return pmlink::SimulatorLineFolder(); }

std::string Publish(const std::string& target, const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find('/') != std::string::npos)
    throw std::runtime_error("invalid line name: " + name);
  const std::string folder = LineFolder();
  if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) Fail("cannot create " + folder, errno);
  // In /tmp the folder could have been planted by someone else, or be a
  // link to another place. One of ours that others could write to is closed.
  struct stat st {};
  if (::lstat(folder.c_str(), &st) != 0) Fail("cannot inspect " + folder, errno);
  if (!S_ISDIR(st.st_mode) || st.st_uid != ::getuid())
    throw std::runtime_error(folder + " is not a folder of this user");
  if ((st.st_mode & 0777) != 0700 && ::chmod(folder.c_str(), 0700) != 0)
    Fail("cannot restrict " + folder, errno);
  if (!pmlink::IsPrivateFolder(folder))
    throw std::runtime_error(folder + " is open to other users");

  const std::string link = folder + "/" + name;
  if (::lstat(link.c_str(), &st) == 0) {
    if (!S_ISLNK(st.st_mode)) throw std::runtime_error(link + " exists and is not a link");
    struct stat targetSt {};
    const bool live = ::stat(link.c_str(), &targetSt) == 0;
    if (live && ReadLink(link) != target) throw std::runtime_error(link + " is in use by another line");
    if (::unlink(link.c_str()) != 0) Fail("cannot replace " + link, errno);
  }
  if (::symlink(target.c_str(), link.c_str()) != 0) Fail("cannot create " + link, errno);
  return link;
}

void Unpublish(const std::string& linkPath, const std::string& target) {
  if (!linkPath.empty() && ReadLink(linkPath) == target) ::unlink(linkPath.c_str());
}

}  // namespace sim
