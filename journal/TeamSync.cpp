#include "TeamSync.h"

#include <filesystem>

namespace pmjournal {

std::size_t SendWaiting(Journal& journal, TeamServer& server, const std::atomic<bool>* stop, std::size_t batch) {
  std::size_t sent = 0;
  while (!(stop && *stop)) {
    const std::vector<Entry> waiting = journal.Waiting(batch);
    if (waiting.empty()) break;
    server.Send(waiting);
    // Committed on the server: a failure to mark them here only sends them
    // once more, and the server takes them once.
    journal.MarkShared(waiting);
    sent += waiting.size();
    if (waiting.size() < batch) break;
  }
  return sent;
}

SyncReport SyncOnce(const std::string& path, const ServerAddress& address, ServerLimits limits,
                    const std::atomic<bool>* stop) {
  SyncReport report;
  std::unique_ptr<Journal> journal;
  // A journal nobody has written yet has nothing to send; it is not made here.
  const auto open = [&] {
    std::error_code ec;
    if (!journal && std::filesystem::exists(path, ec)) journal = Journal::Open(path).journal;
  };
  try {
    TeamServer server(address, limits, stop);
    report.reached = true;
    report.reachedMs = NowMs();
    open();
    if (journal) report.sent = SendWaiting(*journal, server, stop);
  } catch (const ServerError& e) {
    report.error = e.what();
    if (e.Reached() && !report.reached) {
      report.reached = true;
      report.reachedMs = NowMs();
    }
  } catch (const JournalError& e) {
    report.error = e.what();
  } catch (const std::exception& e) {
    report.error = std::string("Сервер журнала изменений: ") + e.what();
  }
  try {
    open();
    report.waiting = journal ? journal->CountWaiting() : 0;
  } catch (const JournalError& e) {
    if (report.error.empty()) report.error = e.what();
  }
  report.everything = report.reached && report.error.empty() && report.waiting == 0;
  return report;
}

SyncLoop::SyncLoop(std::string path, ServerAddress address, Report report, std::chrono::milliseconds interval,
                   ServerLimits limits)
    : m_path(std::move(path)),
      m_address(std::move(address)),
      m_report(std::move(report)),
      m_interval(interval),
      m_limits(limits),
      m_thread([this] { Run(); }) {}

SyncLoop::~SyncLoop() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_stop = true;
  }
  m_wake.notify_all();
  m_thread.join();
}

void SyncLoop::Wake() {
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    m_woken = true;
  }
  m_wake.notify_all();
}

void SyncLoop::Run() {
  std::int64_t reachedMs = 0;
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(m_mutex);
      m_wake.wait_for(lock, m_interval, [this] { return m_woken || m_stop; });
      if (m_stop) return;
      m_woken = false;
    }
    SyncReport report = SyncOnce(m_path, m_address, m_limits, &m_stop);
    if (report.reached) reachedMs = report.reachedMs;
    report.reachedMs = reachedMs;
    if (m_stop) return;
    m_report(report);
  }
}

}  // namespace pmjournal
