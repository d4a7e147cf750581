// The null door server's static start-up object; the framework's main
// finds it before anything else runs.
#include <new>

#include "bench/NullDoorPseudoMain.h"

PseudoMain* thePseudoMain = new (std::nothrow) NullDoorPseudoMain();
