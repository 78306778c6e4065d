#include <iostream>
#include <string>

#include "examples/pseudo-translate/PseudoTranslate.h"

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::cerr << "usage: kesto-pseudo-translate IN OUT\n";
        return 2;
    }
    std::string error;
    if (!PseudoTranslateFile(argv[1], argv[2], error)) {
        std::cerr << "kesto-pseudo-translate: " << argv[1] << ": " << error << "\n";
        return 1;
    }
    return 0;
}
