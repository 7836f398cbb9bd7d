#include "platform/qt/accelerator.h"

#include "platform/window_messages.h"

namespace platform::qt {

int VirtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers) {
  if (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z) return 'A' + (qtKey - Qt::Key_A);
  if (qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) {
    // The keypad digits have codes of their own.
    if (modifiers & Qt::KeypadModifier) return 0x60 + (qtKey - Qt::Key_0);
    return '0' + (qtKey - Qt::Key_0);
  }
  if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24) return VK_F1 + (qtKey - Qt::Key_F1);
  const bool keypad = modifiers & Qt::KeypadModifier;
  switch (qtKey) {
    case Qt::Key_Backspace: return VK_BACK;
    case Qt::Key_Tab:
    case Qt::Key_Backtab: return VK_TAB;
    case Qt::Key_Return:
    case Qt::Key_Enter: return VK_RETURN;
    case Qt::Key_Shift: return VK_SHIFT;
    case Qt::Key_Control: return VK_CONTROL;
    case Qt::Key_Alt: return VK_MENU;
    case Qt::Key_Escape: return VK_ESCAPE;
    case Qt::Key_Space: return VK_SPACE;
    case Qt::Key_PageUp: return VK_PRIOR;
    case Qt::Key_PageDown: return VK_NEXT;
    case Qt::Key_End: return VK_END;
    case Qt::Key_Home: return VK_HOME;
    case Qt::Key_Left: return VK_LEFT;
    case Qt::Key_Up: return VK_UP;
    case Qt::Key_Right: return VK_RIGHT;
    case Qt::Key_Down: return VK_DOWN;
    case Qt::Key_Insert: return VK_INSERT;
    case Qt::Key_Delete: return VK_DELETE;
    case Qt::Key_Asterisk: return keypad ? VK_MULTIPLY : '8';
    case Qt::Key_Plus: return keypad ? VK_ADD : VK_OEM_PLUS;
    case Qt::Key_Minus: return keypad ? VK_SUBTRACT : VK_OEM_MINUS;
    case Qt::Key_Slash: return keypad ? VK_DIVIDE : 0xBF;
    case Qt::Key_Comma: return VK_OEM_COMMA;
    case Qt::Key_Period: return keypad ? VK_DECIMAL : VK_OEM_PERIOD;
    case Qt::Key_Equal: return VK_OEM_PLUS;
    default: return 0;
  }
}

unsigned MouseKeyFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers) {
  unsigned flags = 0;
  if (buttons & Qt::LeftButton) flags |= MK_LBUTTON;
  if (buttons & Qt::RightButton) flags |= MK_RBUTTON;
  if (buttons & Qt::MiddleButton) flags |= MK_MBUTTON;
  if (modifiers & Qt::ShiftModifier) flags |= MK_SHIFT;
  if (modifiers & Qt::ControlModifier) flags |= MK_CONTROL;
  return flags;
}

const Accelerator* MatchAccelerator(const std::vector<Accelerator>& table, int virtualKey,
                                    Qt::KeyboardModifiers modifiers) {
  if (virtualKey == 0) return nullptr;
  const bool control = modifiers & Qt::ControlModifier;
  const bool alt = modifiers & Qt::AltModifier;
  const bool shift = modifiers & Qt::ShiftModifier;
  for (const auto& a : table) {
    if (a.key == virtualKey && a.control == control && a.alt == alt && a.shift == shift) return &a;
  }
  return nullptr;
}

QKeySequence KeySequenceOf(const Accelerator& a) {
  int key = 0;
  if (a.key >= 'A' && a.key <= 'Z') key = Qt::Key_A + (a.key - 'A');
  else if (a.key >= '0' && a.key <= '9') key = Qt::Key_0 + (a.key - '0');
  else if (a.key >= VK_F1 && a.key < VK_F1 + 24) key = Qt::Key_F1 + (a.key - VK_F1);
  Qt::KeyboardModifiers m;
  if (a.control) m |= Qt::ControlModifier;
  if (a.alt) m |= Qt::AltModifier;
  if (a.shift) m |= Qt::ShiftModifier;
  return QKeySequence(QKeyCombination(m, static_cast<Qt::Key>(key)));
}

}  // namespace platform::qt
