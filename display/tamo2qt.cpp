#include "tamo2qt.h"
