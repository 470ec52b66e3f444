/* tamo.h -- the whole Tamo image library: records, file format, operators. */
#ifndef TAMO_H
#define TAMO_H

#include "tamolib.h"
#include "tamoio.h"
#include "tamoops.h"

#endif /* TAMO_H */
