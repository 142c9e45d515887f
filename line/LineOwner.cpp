#include "LineOwner.h"

namespace pmline {

void LineOwner::BeginCommand() { ++m_commands; }

void LineOwner::EndCommand() {
  if (m_commands > 0 && --m_commands == 0) {
    const std::lock_guard lock(m_mutex);
    m_held = false;
  }
}

void LineOwner::Take() {
  std::unique_lock lock(m_mutex);
  if (m_held) return;
  m_waiting = true;
  m_giveWay.store(true, std::memory_order_release);
  m_turnEnded.wait(lock, [this] { return !m_turn; });
  m_held = true;
  m_waiting = false;
  m_giveWay.store(false, std::memory_order_release);
}

void LineOwner::ReleaseUnlessCommand() {
  if (m_commands > 0) return;
  const std::lock_guard lock(m_mutex);
  m_held = false;
}

bool LineOwner::Held() const {
  const std::lock_guard lock(m_mutex);
  return m_held;
}

void LineOwner::StopPoller(Why why) {
  if (m_stopPoller) m_stopPoller(why);
  Take();
  ReleaseUnlessCommand();
}

bool LineOwner::BeginTurn() {
  const std::lock_guard lock(m_mutex);
  if (m_held || m_waiting) return false;
  m_turn = true;
  return true;
}

void LineOwner::EndTurn() {
  {
    const std::lock_guard lock(m_mutex);
    m_turn = false;
  }
  m_turnEnded.notify_all();
}

}  // namespace pmline
