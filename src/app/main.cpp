// lapidograph: the operator station of the laser inscription machine.
#include "app/stationprogram.h"

int main(int argc, char** argv)
{
    return lapido::runStation(argc, argv);
}
