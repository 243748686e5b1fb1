#include "server/shell.h"

int main(int argc, char** argv) { return korvo::KorvoHubMain(argc, argv); }
