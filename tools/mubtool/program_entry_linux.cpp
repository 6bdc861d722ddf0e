#include "tools/mubtool/command.h"

int main(int argc, char** argv) { return mub::tool::runMubtool(argc, argv); }
