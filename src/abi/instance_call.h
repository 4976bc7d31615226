// How every function of the C interface enters an instance: the checks
// against misuse (NULL, a pointer that is no live instance, a foreign
// thread, a released, unsited or terminated instance), the call depth that
// defers a release made from inside a callback, and the guard that turns
// whatever is thrown into a result code.
#pragma once

#include <thread>

#include "abi/abi_error.h"
#include "abi/instance.h"

namespace kevra::abi {

enum class Need { live, unsited, sited };

inline void Check(const kevra_control* c, Need need) {
    if (!c) throw AbiError(KEVRA_E_POINTER, "the control pointer is NULL");
    if (!IsLive(c))
        throw AbiError(KEVRA_E_POINTER,
                       "the pointer does not name a live control instance (was it released?)");
    if (c->thread != std::this_thread::get_id())
        throw AbiError(KEVRA_E_WRONG_THREAD,
                       "the control instance belongs to the thread that created it: call it "
                       "from that thread");
    if (c->released)
        throw AbiError(KEVRA_E_UNEXPECTED, "the control instance has already been released");
    if (need == Need::unsited && c->Sited())
        throw AbiError(KEVRA_E_ALREADY_SITED, "the control instance is already sited");
    if (need == Need::sited && !c->Sited())
        throw AbiError(KEVRA_E_NOT_SITED,
                       "the control instance has no site yet: call kevra_control_site or "
                       "kevra_control_site_headless first");
    if (need == Need::sited && c->Terminated())
        throw AbiError(KEVRA_E_TERMINATED,
                       "the control has received the terminate notification: create a new "
                       "instance");
}

// One call into an instance. Leaving the outermost one frees an instance
// released meanwhile. (What the control is owed, the site delivers when the
// outermost call into the control has returned: see ControlCall.)
class Entered {
  public:
    explicit Entered(kevra_control* c) : c_(c) { ++c_->depth; }
    ~Entered() {
        if (--c_->depth > 0) return;
        if (c_->released) FreeInstance(c_);
    }
    Entered(const Entered&) = delete;
    Entered& operator=(const Entered&) = delete;

  private:
    kevra_control* c_;
};

template <typename Body>
KEVRA_HRESULT OnInstance(kevra_control* c, Need need, Body&& body) noexcept {
    return Guard([&]() -> KEVRA_HRESULT {
        Check(c, need);
        Entered entered(c);
        return body(*c);
    });
}

// A call into the control: a host call made from inside one of the
// control's callbacks waits with its notifications until the outermost call
// has returned, and the outermost one delivers them when it returns.
using ControlCall = ContainerCore::CallScope;

}  // namespace kevra::abi
