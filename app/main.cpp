#include "app/module1.h"

int main(int argc, char *argv[])
{
    return tavlo::Main(argc, argv);
}
