#include "service/command_line.h"

int main(int argc, char** argv) { return RunVentrel(argc, argv); }
