#include "shell/cli.h"

int main(int argc, char** argv) { return pv::RunMain(argc, argv); }
