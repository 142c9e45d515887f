#pragma once
// Sets the link's stage-1 attempt count for the life of the object and puts
// the link's own count back however the operation ends. 0 keeps the link's.

#include "Comportclass.h"

namespace pmops {

class AttemptCount {
 public:
  AttemptCount(TComPortClass& link, int attempts) : m_link(link), m_saved(link.GetRetries1()) {
    if (attempts > 0) m_link.SetRetries1(attempts);
  }
  ~AttemptCount() { m_link.SetRetries1(m_saved); }
  AttemptCount(const AttemptCount&) = delete;
  AttemptCount& operator=(const AttemptCount&) = delete;

 private:
  TComPortClass& m_link;
  int m_saved;
};

}  // namespace pmops
