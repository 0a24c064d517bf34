#include "driver.h"

int main(int argc, char** argv) { return tarvelMain(argc, argv); }
