#include "ProgPM.h"

#include <algorithm>

#include "NumericEntry.h"
#include "Scaling.h"

void TProgPMClass::ClearImage() {
  const std::size_t len = std::min<std::size_t>(Image[0], MaxBlockLen);
  std::fill_n(Image.begin() + 1, len, std::uint8_t{0});
  std::fill_n(Image.begin() + MeasOffset, MeasLen, std::uint8_t{0});
  BlockLoaded = false;
}

bool TProgPMClass::LoadBlock(std::span<const std::uint8_t> data) {
  const std::size_t len = Image[0];
  if (len > MaxBlockLen || data.size() < len) return false;
  std::copy_n(data.begin(), len, Image.begin() + 1);
  BlockLoaded = true;
  return true;
}

bool TProgPMClass::LoadMeas(std::span<const std::uint8_t> data) {
  if (data.size() < MeasLen) return false;
  std::copy_n(data.begin(), MeasLen, Image.begin() + MeasOffset);
  return true;
}

bool TProgPMClass::TakeBlockReply(std::span<const std::uint8_t> frame, int correctionCode) {
  if (frame.size() < 3) return false;
  const std::size_t count = frame[2];
  if (count > MaxBlockLen || frame.size() < 3 + count) return false;
  SetLen(static_cast<int>(count));
  LoadBlock(frame.subspan(3, count));
  TakeNonPriv();
  SetCurrent(correctionCode);
  return true;
}

bool TProgPMClass::TakeMeasReply(std::span<const std::uint8_t> frame) {
  if (frame.size() < 3) return false;
  return LoadMeas(frame.subspan(3));
}

std::size_t TProgPMClass::StoreBlock(std::span<std::uint8_t> out) const {
  const std::size_t len = Image[0];
  if (len > MaxBlockLen || out.size() < len) return 0;
  std::copy_n(Image.begin() + 1, len, out.begin());
  return len;
}

void TProgPMClass::TakeNonPriv() { NonPriv = (Image[5] >> 7) & 1; }

void TProgPMClass::SetTipSign(int v) {
  Image[5] = static_cast<std::uint8_t>((Image[5] & 0xFC) | v);
}

void TProgPMClass::SetBreak(int v) {
  Image[5] = static_cast<std::uint8_t>((Image[5] & ~0x04) | ((v & 1) << 2));
}

void TProgPMClass::SetTipK(int v) {
  Image[5] = static_cast<std::uint8_t>((Image[5] & ~0x08) | ((v & 1) << 3));
}

void TProgPMClass::SetCurrent(int v) {
  Image[5] = static_cast<std::uint8_t>((Image[5] & 0x0F) | (v << 4));
}

void TProgPMClass::SetNu(int v) {
  Image[12] = static_cast<std::uint8_t>(v);
  Contr = "PutNu " + std::to_string(GetRangeNo());
}

void TProgPMClass::SetCurrentEndKA(int v) {
  Image[13] = static_cast<std::uint8_t>((Image[13] & 0xF0) | v);
}

void TProgPMClass::SetCurrentEndZ(int v) {
  Image[39] = static_cast<std::uint8_t>((Image[39] & 0xF0) | v);
}

int TProgPMClass::GetNode(int m) const {
  if (m < 0 || m >= NodeCount) return 0;
  return GetLE(23 + 2 * static_cast<std::size_t>(m));
}

void TProgPMClass::SetNode(int m, int v) {
  if (m < 0 || m >= NodeCount) return;
  SetLE(23 + 2 * static_cast<std::size_t>(m), v);
}

float TProgPMClass::CodeToDegC(int code) const { return pmdev::CodeToDegC(code, TMin, TMax); }

int TProgPMClass::CheckNumber(std::string_view text, int kind) const {
  return pmdev::CheckNumber(text, kind, TMin, TMax);
}
