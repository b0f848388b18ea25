// Entry of zor_nosql_server; everything else is in app/server.cc.
#include "app/server.h"

int main(int argc, char** argv) { return qn::app::run_program(argc, argv); }
