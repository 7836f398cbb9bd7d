#pragma once
// The shared error box, waiting, key polling, file test and number prompts.

// Error sound, then a modal box captioned "Error". With fatal set, the
// farewell sound plays and the program's end is requested; callers of a
// fatal box must not go on with the failed operation.
int ErrorBox(const char* text, bool fatal = false);
