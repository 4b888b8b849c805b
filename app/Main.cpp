// Slime Tower: grow a wobbling tower of slime.
#include "app/Game.h"

int main(int argc, char** argv) { return slime::GameMain(argc, argv); }
