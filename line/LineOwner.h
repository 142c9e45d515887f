#pragma once
// The line has one owner at a time: the window's commands, or the poller of
// the line overview, which runs its polls on a thread of its own. This is
// who may send now and who waits, so that neither user reaches into the
// other.
//
// The window's side (its own thread): a command is marked while it runs
// (a poller does not start a poll meanwhile); the line is taken at the
// command's first request, waiting only for the attempt under way (the
// poller gives way before its next transmission), and held until the
// command ends. The poller's side (its thread): a turn is one poll; it is
// refused while the window holds or waits for the line. Stopping the
// poller (the line changes or closes) goes through the stop it registered.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>

namespace pmline {

class LineOwner {
 public:
  // --- the window's thread ------------------------------------------------
  void BeginCommand();
  // The outermost end gives back the line if a request took it.
  void EndCommand();
  bool CommandRunning() const { return m_commands > 0; }
  // Takes the line (nothing when held already): waits until the poller's
  // turn has ended.
  void Take();
  // Gives it back unless a command is running (a request outside one).
  void ReleaseUnlessCommand();
  bool Held() const;

  // Why the poller is stopped from outside.
  enum class Why { PortChange, Closing };
  // The poller registers how it is stopped (null: none).
  void SetPollerStop(std::function<void(Why)> stop) { m_stopPoller = std::move(stop); }
  // Stops the poller, if one is registered, and waits until its turn has
  // ended: when this returns nothing more of it goes out.
  void StopPoller(Why why);

  // --- the poller's thread ------------------------------------------------
  // A poll may go out now; false while the window holds or waits for the line.
  bool BeginTurn();
  void EndTurn();
  // True while the window waits for the line: the request under way ends
  // before its next transmission.
  const std::atomic<bool>& GiveWay() const { return m_giveWay; }

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_turnEnded;
  bool m_held = false;     // by the window
  bool m_waiting = false;  // the window waits for the poller's turn to end
  bool m_turn = false;     // the poller's poll is under way
  std::atomic<bool> m_giveWay{false};
  int m_commands = 0;      // window thread only
  std::function<void(Why)> m_stopPoller;
};

}  // namespace pmline
