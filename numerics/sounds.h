#pragma once
// Short sounds that comment on events; one of several recordings per category.
void PlaySoundError();
void PlaySoundBye();
