// Commands whose subsystems are not built yet: each says so in the one
// shared way and does nothing else. A subsystem that brings its command
// deletes the line here and defines the handler in its own file.
#include "app/window/txla_window.h"

