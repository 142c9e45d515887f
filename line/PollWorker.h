#pragma once
// The overview's polls on a thread of their own, so that a silent or
// damaged line never holds the window: one poll at a time (ops/Poll.h),
// on a link of its own over the window's port, with the window link's
// settings as they are when the poll is posted. A poll is a turn of the
// line's owner: it gives way to a command of the window before its next
// transmission, and a stop ends it at once (a read or pause under way
// included). A port that fails under it (an unplugged adapter, a dropped
// connection) ends the poll as a lost line; nothing is shown from here.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "Comportclass.h"
#include "LineOwner.h"
#include "ProgPM.h"
#include "Read.h"
#include "StopSignal.h"

namespace pmline {

class PollWorker {
 public:
  struct Job {
    long serial = 0;   // the poster's own count, returned with the result
    int deviceIndex = 0;
    int attempts = 0;  // 0: the link's own
    TProgPMClass pm;   // the record the poll reads into
  };
  enum class End {
    Polled,   // the poll ran to its end: read tells how
    GaveWay,  // a command of the window took the line first
    Stopped,  // stopped before it ended
    LineLost  // the port failed under it (lostText)
  };
  struct Result {
    Job job;
    End end = End::Polled;
    pmops::ReadOutcome read;
    std::string failureText;  // the link's words for a failed read
    std::string lostText;
  };
  // Called on the worker's thread once a posted poll has ended.
  using Done = std::function<void(Result)>;

  PollWorker(TComPortClass& windowLink, LineOwner& owner, Done done);
  ~PollWorker();
  PollWorker(const PollWorker&) = delete;
  PollWorker& operator=(const PollWorker&) = delete;

  // Window's thread. One poll at a time: false while one is under way.
  bool Post(Job job);
  bool Busy() const;
  // Ends the poll under way (it reports Stopped) and waits until it has:
  // the attempt on the line may finish within kStopGraceMs (a reply on its
  // way is read, not left for the next user of the line); then a read or
  // pause still under way ends at once. The posts after it run again.
  void Stop();
  static constexpr int kStopGraceMs = 50;
  // Window's thread: traffic observer of the worker's link (null: none).
  void SetObserver(pmlink::FrameObserver* observer) { m_observer = observer; }

 private:
  void Loop();
  Result Run(Job job);

  class Silent : public ui::MessageService {
   public:
    ui::Answer Show(const ui::Message&) override { return ui::Answer::Ok; }
    void Beep() override {}
  };

  TComPortClass& m_windowLink;
  LineOwner& m_owner;
  Done m_done;
  Silent m_silent;
  pmlink::StopSignal m_stop;         // ends a read or pause at once
  std::atomic<bool> m_finish{false};  // no further transmission
  TComPortClass m_link;
  pmlink::FrameObserver* m_observer = nullptr;

  mutable std::mutex m_mutex;
  std::condition_variable m_wake;
  std::condition_variable m_idle;
  std::optional<Job> m_job;
  bool m_busy = false;
  bool m_quit = false;
  std::thread m_thread;  // last: starts once the rest is built
};

}  // namespace pmline
