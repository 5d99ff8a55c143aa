#include "app/RenamerApp.h"

int main(int argc, char** argv)
{
    return RunProgram(argc, argv);
}
