#include "app/window_program.h"

int main(int argc, char* argv[]) {
    return RunWindowProgram(argc, argv);
}
