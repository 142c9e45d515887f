#include "KeyAdapter.h"

#include <QKeyEvent>

namespace ui {

namespace {

// X11 key codes (evdev + 8) of the digit and punctuation keys, which stay
// the same whatever layout is active: Shift+7 is the 7 key whether it types
// "&" (Latin) or "?" (Cyrillic).
int FromX11Keycode(quint32 scan) {
  if (scan >= 10 && scan <= 18) return 0x31 + static_cast<int>(scan - 10);  // 1 .. 9
  switch (scan) {
    case 19: return 0x30;
    case 20: return vk::Minus;
    case 59: return vk::Comma;
    case 60: return vk::Period;
    case 61: return vk::Slash;
    default: return 0;
  }
}

}  // namespace

VirtualKey ToVirtualKey(const QKeyEvent& e) {
  VirtualKey k;
  k.shift = e.modifiers().testFlag(Qt::ShiftModifier);
  const bool keypad = e.modifiers().testFlag(Qt::KeypadModifier);
  const int key = e.key();

  if (key >= Qt::Key_0 && key <= Qt::Key_9) {
    k.code = (keypad ? vk::Numpad0 : 0x30) + (key - Qt::Key_0);
    return k;
  }
  switch (key) {
    case Qt::Key_Backspace: k.code = vk::Back; return k;
    case Qt::Key_Return:
    case Qt::Key_Enter: k.code = vk::Enter; return k;
    case Qt::Key_Shift: k.code = vk::Shift; return k;
    case Qt::Key_Control: k.code = vk::Control; return k;
    case Qt::Key_CapsLock: k.code = vk::Capital; return k;
    case Qt::Key_Left: k.code = vk::Left; return k;
    case Qt::Key_Right: k.code = vk::Right; return k;
    case Qt::Key_Delete: k.code = vk::Delete; return k;
    case Qt::Key_NumLock: k.code = vk::NumLock; return k;
    default: break;
  }
  if (keypad) {
    if (key == Qt::Key_Minus) { k.code = vk::Subtract; return k; }
    if (key == Qt::Key_Period || key == Qt::Key_Comma) { k.code = vk::Decimal; return k; }
  }
  if (int phys = FromX11Keycode(e.nativeScanCode()); phys != 0 && !keypad) {
    k.code = phys;
    return k;
  }
  switch (key) {
    case Qt::Key_Comma:
    case Qt::Key_Less:
    case 0x0431:  // Cyrillic be, typed by the comma key in a Cyrillic layout
    case 0x0411:  // Cyrillic BE
      k.code = vk::Comma; return k;
    case Qt::Key_Minus:
    case Qt::Key_Underscore: k.code = vk::Minus; return k;
    case Qt::Key_Period:
    case Qt::Key_Greater: k.code = vk::Period; return k;
    case Qt::Key_Slash:
    case Qt::Key_Question: k.code = vk::Slash; return k;
    default: break;
  }
  return k;
}

}  // namespace ui
