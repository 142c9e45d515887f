#pragma once
// The device record: the parameter image of the instrument shown in the main
// window, its field accessors and the state that travels with it.
//
// Image layout (50 bytes):
//   byte 0          L, length of the parameter block (0..40 after a read)
//   bytes 1..L      the parameter block as the instrument sent it (function 68)
//   bytes 41..49    the measurement block (function 71)
// Parameter block fields are little-endian, measurement fields big-endian;
// every 16-bit field is signed and its getter sign-extends.
//
// No operation reads or writes outside the 50 bytes: LoadBlock refuses a
// length above 40, StoreBlock refuses one above 40, node indexes outside
// 0..7 are ignored, and the bit setters truncate their result to one byte.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

class TProgPMClass {
public:
  static constexpr std::size_t ImageSize = 50;
  static constexpr std::size_t MaxBlockLen = 40;   // bytes 1..40
  static constexpr std::size_t MeasOffset = 41;    // bytes 41..49
  static constexpr std::size_t MeasLen = 9;
  static constexpr int NodeCount = 8;

  // --- the image ------------------------------------------------------------
  // Zeroed here for reproducibility; a read clears it again (ClearImage).
  std::array<std::uint8_t, ImageSize> Image{};

  // --- state ------------------------------------------------------------------
  // The three control references (the field, button and combo box that last
  // started an operation) belong to the main window, not to this record.
  int Access = 0;       // password-change access flag; nothing sets it to 1
  int DevType = 0;      // model code of the instrument shown, 0 when none
  int Version = 0;      // its firmware version
  int NonPriv = 0;      // 1 = instrument reported non-privileged mode
  int Changed = 0;      // image edited since the last read
  int TipDChanged = 0;  // sensor type changed since the last read
  int DataRead = 0;     // a complete read has finished
  int LayoutDone = 0;   // window arranged for DevType/Version
  int SavedRange = 0;   // standard range number at the last read, 0 if non-standard
  float TMin = 0.0f;    // scale start, degC (ZET models)
  float TMax = 0.0f;    // scale end, degC
  std::string Contr;    // hidden diagnostic trace text; the window shows a copy

  // True once a parameter block has been loaded since the last ClearImage.
  // A write must not send a block that no successful read has filled.
  bool BlockLoaded = false;

  // --- filling at a read --------------------------------------------------------
  // Zero bytes 1..L (L = current byte 0, at most 40 used) and 41..49; byte 0
  // keeps the old length. Clears BlockLoaded.
  void ClearImage();

  // Copy L = GetLen() bytes of reply data (the bytes after address, function
  // code and byte count) into bytes 1..L. Refuses (returns false, copies
  // nothing) when L exceeds 40 or the data holds fewer than L bytes.
  bool LoadBlock(std::span<const std::uint8_t> data);

  // Copy the first 9 reply data bytes into bytes 41..49. Refuses (false,
  // nothing copied) when fewer than 9 bytes are given.
  bool LoadMeas(std::span<const std::uint8_t> data);

  // The whole step after a successful function 68 request. `frame` is the reply
  // frame from its address byte (frame[2] = byte count, data from frame[3]).
  // Sets byte 0 to the count, LoadBlock, TakeNonPriv, SetCurrent(correction).
  // A count above 40, or a frame shorter than 3 + count, is refused: the image
  // is left untouched and false returned; the read then ends as a failed read.
  bool TakeBlockReply(std::span<const std::uint8_t> frame, int correctionCode);

  // The step after a successful function 71 request: LoadMeas on frame data.
  bool TakeMeasReply(std::span<const std::uint8_t> frame);

  // Copy bytes 1..L into `out` (the function 69 request data) and return L.
  // Returns 0 and copies nothing when L exceeds 40 or `out` is too small.
  std::size_t StoreBlock(std::span<std::uint8_t> out) const;

  // NonPriv := bit 7 of byte 5 as the instrument sent it.
  void TakeNonPriv();
  int GetNonPriv() const { return NonPriv; }

  // --- parameter block accessors (little-endian) --------------------------------
  int GetLen() const { return Image[0]; }
  void SetLen(int n) { Image[0] = static_cast<std::uint8_t>(n); }

  int GetKBegSk() const { return GetLE(1); }
  void SetKBegSk(int v) { SetLE(1, v); }
  int GetKEndSk() const { return GetLE(3); }
  void SetKEndSk(int v) { SetLE(3, v); }

  // Byte 5 (Flags): bits 0-1 alarm type, bit 2 break state, bit 3 contact
  // type, bits 4-7 output-current correction at scale start.
  int GetTipSign() const { return Image[5] & 0x03; }
  void SetTipSign(int v);  // keeps bits 2-7, ORs in v (v is not masked)
  int GetBreak() const { return (Image[5] >> 2) & 1; }
  void SetBreak(int v);    // bit 2 := v (0/1)
  int GetTipK() const { return (Image[5] >> 3) & 1; }
  void SetTipK(int v);     // bit 3 := v (0/1)
  int GetCurrent() const { return Image[5] >> 4; }
  void SetCurrent(int v);  // bits 4-7 := v, bits 0-3 kept

  int GetUstKod1() const { return GetLE(6); }
  void SetUstKod1(int v) { SetLE(6, v); }
  int GetUstKod2() const { return GetLE(8); }
  void SetUstKod2(int v) { SetLE(8, v); }

  int GetTipD() const { return Image[10]; }
  void SetTipD(int v) { Image[10] = static_cast<std::uint8_t>(v); }
  int GetRangeNo() const { return Image[11]; }
  void SetRangeNo(int v) { Image[11] = static_cast<std::uint8_t>(v); }
  int GetNu() const { return Image[12]; }
  void SetNu(int v);  // also Contr := "PutNu " + RangeNo

  // Byte 13 is shared: Connect (ZET-TS), low nibble CurrentEndKA (KARD,
  // LUNT), low byte of BegSkTxc (ZET-TP). DevType decides the reading.
  int GetConnect() const { return Image[13]; }
  void SetConnect(int v) { Image[13] = static_cast<std::uint8_t>(v); }
  int GetCurrentEndKA() const { return Image[13] & 0x0F; }
  void SetCurrentEndKA(int v);  // keeps bits 4-7, ORs in v (v is not masked)

  int GetBegSkTxc() const { return GetLE(13); }
  void SetBegSkTxc(int v) { SetLE(13, v); }
  int GetEndSkTxc() const { return GetLE(15); }
  void SetEndSkTxc(int v) { SetLE(15, v); }
  int GetKTxc() const { return GetLE(17); }
  void SetKTxc(int v) { SetLE(17, v); }
  int GetRangeMin() const { return GetLE(19); }
  void SetRangeMin(int v) { SetLE(19, v); }
  int GetRangeMax() const { return GetLE(21); }
  void SetRangeMax(int v) { SetLE(21, v); }

  // Node m (0..7) at bytes 23+2m, 24+2m. Outside 0..7: reads 0, writes nothing.
  int GetNode(int m) const;
  void SetNode(int m, int v);

  int GetCurrentEndZ() const { return Image[39] & 0x0F; }
  void SetCurrentEndZ(int v);  // byte 39: keeps bits 4-7, ORs in v (not masked)

  // --- measurement block (big-endian) -------------------------------------------
  int GetRez() const { return GetBE(41); }
  int GetStatus() const { return Image[43]; }
  int GetKodACP() const { return GetBE(44); }
  int GetTxc() const { return GetBE(46); }
  int GetKodTxc() const { return GetBE(48); }

  // --- conversions and entry checks bound to this record --------------------------
  // TMin + (TMax - TMin) * code * (1/8191), rounded to a float.
  float CodeToDegC(int code) const;
  // Text check of a typed number; kind 1 takes its bounds from TMin..TMax.
  int CheckNumber(std::string_view text, int kind) const;

private:
  int GetLE(std::size_t at) const {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>(Image[at] | (Image[at + 1] << 8)));
  }
  void SetLE(std::size_t at, int v) {
    Image[at] = static_cast<std::uint8_t>(v & 0xFF);
    Image[at + 1] = static_cast<std::uint8_t>((v >> 8) & 0xFF);
  }
  int GetBE(std::size_t at) const {
    return static_cast<std::int16_t>(static_cast<std::uint16_t>((Image[at] << 8) | Image[at + 1]));
  }
};
