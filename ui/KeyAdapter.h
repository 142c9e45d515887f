#pragma once
// Turns a Qt key event into the virtual-key code and Shift state that the key
// filters of the program are written for, so that those filters stay pure
// functions of (code, shift).

class QKeyEvent;

namespace ui {

struct VirtualKey {
  int code = 0;  // 0 when the key has no code in the tables
  bool shift = false;
};

// Digit and punctuation keys map by the physical key where the platform
// tells it (the comma key is 0xBC in a Latin and a Cyrillic layout alike,
// Shift+7 is 0x37 with Shift whether it types "&" or "?"), otherwise by the
// character.
VirtualKey ToVirtualKey(const QKeyEvent& event);

// Virtual-key codes used by the filters.
namespace vk {
constexpr int Back = 0x08, Enter = 0x0D, Shift = 0x10, Control = 0x11, Capital = 0x14, Left = 0x25,
              Right = 0x27, Delete = 0x2E, Numpad0 = 0x60, Subtract = 0x6D, Decimal = 0x6E,
              NumLock = 0x90, Comma = 0xBC, Minus = 0xBD, Period = 0xBE, Slash = 0xBF;
}

}  // namespace ui
