#include "AddressLookup.h"

#include <sys/socket.h>

#include <cerrno>
#include <condition_variable>
#include <mutex>
#include <system_error>
#include <thread>

namespace pmlink {

namespace {

// What the lookup thread and the waiting caller share; whichever lets go
// last frees it. After the caller has abandoned it, the thread frees its
// result itself.
struct Pending {
  std::mutex mutex;
  std::condition_variable ended;
  bool finished = false;
  bool abandoned = false;
  int rc = 0;
  int err = 0;
  addrinfo* found = nullptr;
};

}  // namespace

AddressLookup LookUpAddresses(const std::string& host, const std::string& service,
                              std::chrono::steady_clock::time_point deadline) {
  AddressLookup result;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  hints.ai_flags = AI_NUMERICSERV | AI_NUMERICHOST;
  addrinfo* found = nullptr;
  result.rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
  result.err = errno;
  if (result.rc != EAI_NONAME) {
    result.found.reset(found);
    return result;
  }

  // A name: AI_ADDRCONFIG leaves out the address families this host has no
  // address of its own in, which it could not connect over anyway.
  hints.ai_flags = AI_NUMERICSERV | AI_ADDRCONFIG;
  auto pending = std::make_shared<Pending>();
  try {
    std::thread([pending, host, service, hints] {
      addrinfo* found = nullptr;
      const int rc = ::getaddrinfo(host.c_str(), service.c_str(), &hints, &found);
      const int err = errno;
      const std::lock_guard lock(pending->mutex);
      if (pending->abandoned) {
        if (rc == 0) ::freeaddrinfo(found);
        return;
      }
      pending->rc = rc;
      pending->err = err;
      pending->found = rc == 0 ? found : nullptr;
      pending->finished = true;
      pending->ended.notify_one();
    }).detach();
  } catch (const std::system_error& e) {
    result.rc = EAI_SYSTEM;
    result.err = e.code().value();
    return result;
  }

  std::unique_lock lock(pending->mutex);
  if (!pending->ended.wait_until(lock, deadline, [&] { return pending->finished; })) {
    pending->abandoned = true;
    result.rc = EAI_AGAIN;
    result.timedOut = true;
    return result;
  }
  result.rc = pending->rc;
  result.err = pending->err;
  result.found.reset(pending->found);
  return result;
}

}  // namespace pmlink
