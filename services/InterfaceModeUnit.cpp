// InterfaceModeUnit: storage of the interface mode (0 until an entry sets it).
#include "services/InterfaceModeUnit.h"

std::atomic<int32_t> InterfaceMode{0};
