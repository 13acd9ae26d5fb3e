// The entry points of a family's module, by which the program's loader
// finds the family (and, for the window, its main loop).  Built into each
// module with TARV_MODULE_FAMILY naming the family's getter.
#include "engine/core/family.h"

const Family* TARV_MODULE_FAMILY();

extern "C" const Family* TarvModuleFamily() { return TARV_MODULE_FAMILY(); }

#ifdef TARV_MODULE_MAIN
int TARV_MODULE_MAIN();
extern "C" int TarvModuleMain() { return TARV_MODULE_MAIN(); }
#endif
