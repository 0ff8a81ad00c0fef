#pragma once
// The program's entry: --help, --version, the start-up and the launch of the run mode.
namespace pv {

int RunMain(int argc, char** argv);

}  // namespace pv
