// The program mub: started without arguments in the folder that holds data/, image/, sound/ and
// replay/.
#include "game/game_entry.h"

int main() { return RunGame(); }
