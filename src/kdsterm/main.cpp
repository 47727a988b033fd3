// kdsterm: see kdsterm/KDSTerm.h.
#include <iostream>
#include <string>
#include <vector>

#include "kdsterm/KDSTerm.h"
#include "server/wire/DSSocket.h"

int main(int argc, char** argv) {
    kds::IgnoreSigPipe();
    const std::vector<std::string> Args(argv + 1, argv + argc);
    return kds::RunKDSTerm(Args, std::cout, std::cerr);
}
