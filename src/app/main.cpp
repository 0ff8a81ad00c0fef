#include "desktop/desktop_modes.h"
#include "shell/cli.h"

int main(int argc, char** argv) { return pv::RunMain(argc, argv, pv::DesktopRunModes()); }
