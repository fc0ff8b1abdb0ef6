#include "app/window_program.h"

// vx418.exe takes no command line.
int main() {
    return RunWindowProgram();
}
