#pragma once
// A stop that reaches an exchange at once, from another thread or from a
// signal handler: a flag the exchange checks between its steps, and a
// descriptor that becomes readable when the stop is raised, which the
// port's waits watch beside the line, so a read or a pause under way ends
// at once instead of at its time-out. Raise() is async-signal-safe.

#include <atomic>

namespace pmlink {

class StopSignal {
 public:
  StopSignal();
  ~StopSignal();
  StopSignal(const StopSignal&) = delete;
  StopSignal& operator=(const StopSignal&) = delete;

  void Raise();
  // Lowers it again for the next run.
  void Clear();
  bool Raised() const { return m_raised.load(std::memory_order_acquire); }
  // Readable while raised; -1 when the system gave none (the flag still works
  // between steps).
  int Fd() const { return m_fd; }
  // Sleeps ms milliseconds, or less when the stop is raised meanwhile.
  void Sleep(int ms) const;

 private:
  std::atomic<bool> m_raised{false};
  int m_fd = -1;
};

}  // namespace pmlink
