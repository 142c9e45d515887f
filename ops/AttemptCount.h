#pragma once
// Sets the link's attempt counts for the life of the object and puts the
// link's own counts back however the operation ends. 0 keeps the link's.
// Stage 1 (the header) always; stage 2 (the rest and its CRC) too when
// asked, so that a probe is that many requests whatever the reply.

#include "Comportclass.h"

namespace pmops {

enum class Stages { First, Both };

class AttemptCount {
 public:
  AttemptCount(TComPortClass& link, int attempts, Stages stages = Stages::First)
      : m_link(link), m_saved1(link.Retries1), m_saved2(link.Retries2) {
    if (attempts <= 0) return;
    m_link.SetRetries1(attempts);
    if (stages == Stages::Both) m_link.SetRetries2(attempts);
  }
  ~AttemptCount() {
    m_link.SetRetries1(m_saved1);
    m_link.SetRetries2(m_saved2);
  }
  AttemptCount(const AttemptCount&) = delete;
  AttemptCount& operator=(const AttemptCount&) = delete;

 private:
  TComPortClass& m_link;
  int m_saved1;
  int m_saved2;
};

}  // namespace pmops
