// The daemon's static start-up object. The framework's entry point finds it
// through thePseudoMain before anything else runs.
#include <new>

#include "cmd/kav/KAVPseudoMain.h"

PseudoMain* thePseudoMain = new (std::nothrow) KAVPseudoMain();
