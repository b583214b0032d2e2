// Entry point of the lorvex executable.
#include "mainmod.h"
#include "platform.h"

int main(int argc, char** argv) {
    const auto words = lorvex::platform::CommandLineWords(argc, argv);
    return lorvex::mainmod::Main(words);
}
