// InterfaceModeUnit: the process-wide interface mode.
//
// Set once before the server starts and never changed while it runs; read by
// connection threads without a lock (it is atomic).
#ifndef VELIO_SERVICES_INTERFACEMODEUNIT_H_
#define VELIO_SERVICES_INTERFACEMODEUNIT_H_

#include <atomic>
#include <cstdint>

inline constexpr int32_t kModeDoorlock = 1;
inline constexpr int32_t kModePolice = 2;
inline constexpr int32_t kModeMember = 3;

extern std::atomic<int32_t> InterfaceMode;

#endif  // VELIO_SERVICES_INTERFACEMODEUNIT_H_
