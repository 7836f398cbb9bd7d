#include "platform/program_paths.h"

namespace platform {

ProgramPathsRecord ProgramPaths;

const std::array<const char*, kSoundCategoryCount> kSoundFileNames = {
    "sounds/error.wav", "sounds/info.wav", "sounds/question.wav", "sounds/fitdone.wav",
    "sounds/hi.wav",    "sounds/bye.wav",  "sounds/ok.wav",       "sounds/beer.wav"};

}  // namespace platform
