// The entry of the slide show into the program (start-up,
// RegisterProgramParts): registers "Slide Show Settings" with the main
// frame as a modal tool behind the card check.
#pragma once

void RegisterSlideShowParts();
