#include "scripting/tool/spool_tool.h"

int main(int argc, char** argv) { return pv::RunSpoolToolMain(argc, argv); }
