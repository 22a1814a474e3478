// kestrelix-serve: the web server behind `kestrelix serve` (web/serve.h),
// a program of its own so that the console program stays self-contained.
#include <iostream>

#include "web/serve.h"

int main(int argc, char** argv) { return kx::web::serve_main(argc, argv, std::cout, std::cerr); }
