#include "numerics/sounds.h"

void PlaySoundError() {}
void PlaySoundBye() {}
