#include "cli/cli.h"

int main(int argc, char** argv) { return morvane::cli::Main(argc, argv); }
