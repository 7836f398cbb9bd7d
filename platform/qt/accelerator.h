#pragma once
// Keys and mouse buttons of Qt events in the Windows terms the program's
// handlers compare: virtual-key codes, MK_ flags and accelerator entries.
#include <QKeySequence>
#include <Qt>
#include <vector>

#include "platform/frame_window.h"

namespace platform::qt {

// The virtual-key code of a Qt key; 0 for keys the program never sees.
int VirtualKeyFromQt(int qtKey, Qt::KeyboardModifiers modifiers);
// The MK_ flags of the buttons held and the Shift and Control keys.
unsigned MouseKeyFlags(Qt::MouseButtons buttons, Qt::KeyboardModifiers modifiers);
// The accelerator that a key with these modifiers sends, or null.
const Accelerator* MatchAccelerator(const std::vector<Accelerator>& table, int virtualKey,
                                    Qt::KeyboardModifiers modifiers);
// The key sequence of an accelerator, for display and tests.
QKeySequence KeySequenceOf(const Accelerator& accelerator);

}  // namespace platform::qt
