#pragma once
// A name server that never answers, for the process that calls this (a
// forked child): it moves into new user, mount and network namespaces, makes
// /etc/resolv.conf name 127.0.0.1 there, and holds that address's DNS port
// open without ever answering. Needs unprivileged user namespaces; false
// when the system does not allow them.

#include <fcntl.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/mount.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace testsupport {

inline bool WriteFile(const std::string& path, const std::string& text) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) return false;
  const bool ok = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  return ok;
}

inline bool EnterSilentResolver() {
  const std::string uid = std::to_string(::getuid()), gid = std::to_string(::getgid());
  if (::unshare(CLONE_NEWUSER | CLONE_NEWNS | CLONE_NEWNET) != 0) return false;
  WriteFile("/proc/self/setgroups", "deny");
  if (!WriteFile("/proc/self/uid_map", "0 " + uid + " 1") ||
      !WriteFile("/proc/self/gid_map", "0 " + gid + " 1"))
    return false;
  if (::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0) return false;

  char conf[] = "/tmp/pm-silent-resolv-XXXXXX";
  const int fd = ::mkstemp(conf);
  if (fd < 0) return false;
  const std::string text = "nameserver 127.0.0.1\noptions timeout:5 attempts:2\n";
  const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
  ::close(fd);
  const bool bound = written && ::mount(conf, "/etc/resolv.conf", nullptr, MS_BIND, nullptr) == 0;
  ::unlink(conf);
  if (!bound) return false;

  // The new network has only the loopback, and it starts down; an address
  // of its own besides keeps AI_ADDRCONFIG from ruling every family out.
  const int s = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  ifreq up{};
  std::strcpy(up.ifr_name, "lo");
  up.ifr_flags = IFF_UP | IFF_LOOPBACK | IFF_RUNNING;
  const bool lo = ::ioctl(s, SIOCSIFFLAGS, &up) == 0;
  ifreq alias{};
  std::strcpy(alias.ifr_name, "lo:1");
  auto* a = reinterpret_cast<sockaddr_in*>(&alias.ifr_addr);
  a->sin_family = AF_INET;
  a->sin_addr.s_addr = htonl(0x0A000001);  // 10.0.0.1
  ::ioctl(s, SIOCSIFADDR, &alias);
  ::close(s);
  if (!lo) return false;

  // The server: bound, never read, never closed.
  const int dns = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  at.sin_port = htons(53);
  return ::bind(dns, reinterpret_cast<sockaddr*>(&at), sizeof at) == 0;
}

}  // namespace testsupport
