// BasePoliceUnit: the process-wide police device reference.
#include "police/BasePoliceUnit.h"

std::atomic<TBasePolice*> PoliceDevice{nullptr};
