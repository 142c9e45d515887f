#include "ReplySender.h"

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <thread>

namespace sim {

namespace {

bool SleepUnlessStopped(Clock::duration t, const std::atomic<bool>& stop) {
  const auto end = Clock::now() + t;
  while (!stop) {
    const auto now = Clock::now();
    if (now >= end) return true;
    std::this_thread::sleep_for(std::min<Clock::duration>(end - now, std::chrono::milliseconds(10)));
  }
  return false;
}

bool WriteAll(int fd, const std::uint8_t* data, std::size_t n, const std::atomic<bool>& stop) {
  const auto giveUp = Clock::now() + std::chrono::seconds(2);
  while (n > 0 && !stop) {
    // send() keeps a closed connection from raising SIGPIPE; a pty is not a socket.
    ssize_t w = ::send(fd, data, n, MSG_NOSIGNAL);
    if (w < 0 && errno == ENOTSOCK) w = ::write(fd, data, n);
    if (w > 0) {
      data += w;
      n -= static_cast<std::size_t>(w);
      continue;
    }
    if (w < 0 && errno == EINTR) continue;
    if (w < 0 && errno != EAGAIN) return false;
    // Nobody reads the other side: wait a little, then drop the reply
    // rather than block the line.
    if (Clock::now() >= giveUp) return true;
    pollfd p{fd, POLLOUT, 0};
    ::poll(&p, 1, 20);
  }
  return true;
}

}  // namespace

int PollTimeoutMs(Line& line) {
  if (const auto deadline = line.Deadline()) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - Clock::now());
    return static_cast<int>(std::clamp<long>(left.count(), 0, 20));
  }
  return 20;
}

bool SendReply(int fd, const Reply& reply, const std::atomic<bool>& stop) {
  const Clock::duration before = reply.delay + reply.wire;
  if (before.count() > 0 && !SleepUnlessStopped(before, stop)) return true;
  if (reply.byteGap.count() <= 0) return WriteAll(fd, reply.bytes.data(), reply.bytes.size(), stop);
  for (std::size_t i = 0; i < reply.bytes.size(); ++i) {
    if (i > 0 && !SleepUnlessStopped(reply.byteGap, stop)) return true;
    if (!WriteAll(fd, &reply.bytes[i], 1, stop)) return false;
  }
  return true;
}

}  // namespace sim
