// Slime Tower: grow a wobbling tower of slime.
#include "app/Game.h"

int main() { return slime::RunGame(kin::Backend::Window); }
