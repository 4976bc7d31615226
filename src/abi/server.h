// The library's server bookkeeping: live objects (instances and class
// factories) and server locks, which DllCanUnloadNow reports on. Counted
// atomically, since a host may ask from any thread.
#pragma once

namespace kevra::abi {

void ObjectCreated() noexcept;
void ObjectDestroyed() noexcept;
// False, changing nothing, for an unlock without a matching lock.
bool ServerLock(bool lock) noexcept;
bool CanUnload() noexcept;

}  // namespace kevra::abi
