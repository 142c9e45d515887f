#pragma once
// Sending the local journal's waiting entries to the team server, never on
// a write's path: `pmctl journal sync` runs one round, the window keeps a
// thread of its own (SyncLoop) that runs a round after each write and at
// intervals. A round that fails leaves every entry it did not finish
// waiting for the next one; the server takes an entry sent twice once.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "Journal.h"
#include "ServerAddress.h"
#include "TeamServer.h"

namespace pmjournal {

struct SyncReport {
  bool reached = false;      // the server answered this round
  bool everything = false;   // nothing is left waiting
  std::size_t sent = 0;      // entries the server took this round
  std::size_t waiting = 0;   // entries still waiting after it
  std::int64_t reachedMs = 0;  // when the server last answered (0: never)
  std::string error;         // why the round ended early, for the operator
};

// Entries per transaction on the server.
inline constexpr std::size_t kSyncBatch = 500;

// Sends what `journal` holds waiting, a batch at a time, until nothing is
// left or `stop` is set. Throws JournalError or ServerError; the entries of
// a batch that failed stay waiting.
std::size_t SendWaiting(Journal& journal, TeamServer& server, const std::atomic<bool>* stop = nullptr,
                        std::size_t batch = kSyncBatch);

// One round against the journal at `path` (not created when missing):
// connects, sends, reports. Never throws.
SyncReport SyncOnce(const std::string& path, const ServerAddress& address, ServerLimits limits = {},
                    const std::atomic<bool>* stop = nullptr);

// A thread that runs a round at once, after every Wake() and every
// `interval` while entries wait; `report` is called on that thread after
// each round. The destructor ends it: a connection under way is given up
// within 0.1 s, a statement under way ends within its time limit, a name
// lookup within the connect time.
class SyncLoop {
 public:
  using Report = std::function<void(const SyncReport&)>;
  SyncLoop(std::string path, ServerAddress address, Report report,
           std::chrono::milliseconds interval = std::chrono::seconds(30), ServerLimits limits = {});
  ~SyncLoop();
  SyncLoop(const SyncLoop&) = delete;
  SyncLoop& operator=(const SyncLoop&) = delete;

  // A round soon (after a write); never waits.
  void Wake();

 private:
  void Run();

  const std::string m_path;
  const ServerAddress m_address;
  const Report m_report;
  const std::chrono::milliseconds m_interval;
  const ServerLimits m_limits;
  std::mutex m_mutex;
  std::condition_variable m_wake;
  bool m_woken = true;
  std::atomic<bool> m_stop{false};
  std::thread m_thread;
};

}  // namespace pmjournal
