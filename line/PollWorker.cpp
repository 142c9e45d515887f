#include "PollWorker.h"

#include "LinePoll.h"
#include "Poll.h"

namespace pmline {

PollWorker::PollWorker(TComPortClass& windowLink, LineOwner& owner, Done done)
    : m_windowLink(windowLink),
      m_owner(owner),
      m_done(std::move(done)),
      m_link(windowLink.Device(), m_silent, {}),
      m_thread([this] { Loop(); }) {
  m_link.SetStop(&m_stop);
  m_link.SetGiveWay([this] {
    return m_finish.load(std::memory_order_acquire) || m_owner.GiveWay().load(std::memory_order_acquire);
  });
  // A lost line comes back as an error of the port, reported by the window.
  m_link.SetPurgeFailureThrows(true);
}

PollWorker::~PollWorker() {
  {
    const std::lock_guard lock(m_mutex);
    m_quit = true;
  }
  m_stop.Raise();
  m_wake.notify_all();
  m_thread.join();
}

bool PollWorker::Post(Job job) {
  {
    const std::lock_guard lock(m_mutex);
    if (m_busy || m_quit) return false;
    // Taken while the worker waits: it reads them only after the lock.
    m_link.TakeSettings(m_windowLink);
    m_link.SetFrameObserver(m_observer);
    m_stop.Clear();
    m_finish.store(false, std::memory_order_release);
    m_job = std::move(job);
    m_busy = true;
  }
  m_wake.notify_all();
  return true;
}

bool PollWorker::Busy() const {
  const std::lock_guard lock(m_mutex);
  return m_busy;
}

void PollWorker::Stop() {
  m_finish.store(true, std::memory_order_release);
  std::unique_lock lock(m_mutex);
  if (m_idle.wait_for(lock, std::chrono::milliseconds(kStopGraceMs), [this] { return !m_busy; })) return;
  m_stop.Raise();
  m_idle.wait(lock, [this] { return !m_busy; });
}

void PollWorker::Loop() {
  for (;;) {
    Job job;
    {
      std::unique_lock lock(m_mutex);
      m_wake.wait(lock, [this] { return m_quit || m_job.has_value(); });
      if (m_quit) return;
      job = std::move(*m_job);
      m_job.reset();
    }
    Result result = Run(std::move(job));
    {
      const std::lock_guard lock(m_mutex);
      m_busy = false;
    }
    m_idle.notify_all();
    m_done(std::move(result));
  }
}

PollWorker::Result PollWorker::Run(Job job) {
  Result out;
  if (m_stop.Raised() || m_finish.load(std::memory_order_acquire)) {
    out.job = std::move(job);
    out.end = End::Stopped;
    return out;
  }
  if (!m_owner.BeginTurn()) {
    out.job = std::move(job);
    out.end = End::GaveWay;
    return out;
  }
  try {
    out.read = pmops::Poll(m_link, job.pm, job.deviceIndex, job.attempts);
    if (out.read.result == rc::Stopped)
      out.end = m_stop.Raised() || m_finish.load(std::memory_order_acquire) ? End::Stopped : End::GaveWay;
    else if (out.read.result != rc::Ok)
      out.failureText = FailureText(m_link, job.deviceIndex, out.read.result);
  } catch (const pmlink::SerialPortError& e) {
    out.end = End::LineLost;
    out.lostText = e.what();
  } catch (const std::exception& e) {
    out.end = End::LineLost;
    out.lostText = e.what();
  }
  m_owner.EndTurn();
  out.job = std::move(job);
  return out;
}

}  // namespace pmline
