// UiHooksUnit: the installed hooks, defaulting to ones that do nothing.
#include "services/UiHooksUnit.h"

#include <atomic>

namespace {
TUiHooks gDefaultHooks;
std::atomic<TUiHooks*> gHooks{&gDefaultHooks};
}  // namespace

TUiHooks& UiHooks() {
  return *gHooks.load(std::memory_order_acquire);
}

void SetUiHooks(TUiHooks* hooks) {
  gHooks.store(hooks ? hooks : &gDefaultHooks, std::memory_order_release);
}
