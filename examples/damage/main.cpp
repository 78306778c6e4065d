#include <iostream>
#include <string>

#include "examples/damage/DamagedContainer.h"

int main(int argc, char** argv)
{
    if (argc < 4 || argc > 5) {
        std::cerr << "usage: kesto-damage DAMAGE IN OUT [OTHER]\n  DAMAGE:";
        for (const std::string& name : kesto_damage::DamageNames())
            std::cerr << " " << name;
        std::cerr << "\n  OTHER: the container whose stored document document-of-another-export takes\n";
        return 2;
    }
    std::string error;
    if (!kesto_damage::DamageContainer(argv[1], argv[2], argv[3], argc == 5 ? argv[4] : "", error)) {
        std::cerr << "kesto-damage: " << argv[2] << ": " << error << "\n";
        return 1;
    }
    return 0;
}
