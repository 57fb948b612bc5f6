#include "tool/run.h"

int main(int argc, char **argv) { return main_entry(argc, argv); }
