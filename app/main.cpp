// kestrelix: edge-coupled microstrip coupler design, a console dialogue.
#include <iostream>

#include "app/driver.h"

int main() { return kx::run_program(std::cin, std::cout, std::cerr, kx::local_clock); }
