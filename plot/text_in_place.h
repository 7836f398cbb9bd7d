#pragma once
// Lines of text that the window writes again and again at one place while it
// computes or follows the pointer (progress of a fit, the pointer readout,
// the fit report's lines under them). Each is written over the text that
// stood at its place before: that text is erased first, so a shorter line
// leaves nothing of a longer one standing, whatever the font.
#include <string>

#include "platform/draw_context.h"

void DrawTextInPlace(platform::DrawContext& dc, int x, int y, const std::string& text);
// A repaint has drawn the window anew: nothing of the texts written before
// is left to erase.
void ForgetTextsInPlace();
