// Floating-point traps on a POSIX system: SIGFPE, with the cause from its code, after
// the invalid-operation, division-by-zero and overflow exceptions are enabled.

#include <fenv.h>
#include <signal.h>

#include <cstring>

#include "console.h"
#include "internal.h"

namespace {

console_internal::Trap trap_for(int code) {
  using console_internal::Trap;
  switch (code) {
    case FPE_FLTDIV:
    case FPE_INTDIV:  // an integer division by zero is reported as the same fault
      return Trap::DivideByZero;
    case FPE_FLTOVF:
    case FPE_INTOVF:
      return Trap::Overflow;
    case FPE_FLTUND: return Trap::Underflow;
    case FPE_FLTRES: return Trap::Inexact;
    default: return Trap::Invalid;  // FPE_FLTINV, FPE_FLTSUB and unknown codes
  }
}

void on_floating_point_trap(int, siginfo_t* info, void*) {
  console_internal::report_trap(trap_for(info != nullptr ? info->si_code : 0));
}

}  // namespace

void install_floating_point_traps() {
  struct sigaction action;
  std::memset(&action, 0, sizeof action);
  action.sa_sigaction = on_floating_point_trap;
  action.sa_flags = SA_SIGINFO;
  sigemptyset(&action.sa_mask);
  sigaction(SIGFPE, &action, nullptr);
  // Stale flags are cleared first so that enabling a trap cannot fire on an old one.
  feclearexcept(FE_ALL_EXCEPT);
  feenableexcept(FE_INVALID | FE_DIVBYZERO | FE_OVERFLOW);
}
