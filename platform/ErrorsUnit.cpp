// ErrorsUnit: the error classes are header-only; this file anchors the unit.
#include "platform/ErrorsUnit.h"
