// Floating-point traps on Windows: the invalid-operation, division-by-zero and
// overflow exceptions unmasked in the floating-point control, and a vectored
// exception handler that reports the cause. An SSE exception arrives as
// STATUS_FLOAT_MULTIPLE_TRAPS; its cause is in the flags of MXCSR.

#include <windows.h>
#include <float.h>

#include "console.h"
#include "internal.h"

namespace {

using console_internal::Trap;

// The MXCSR flags, by priority: a division by zero, an overflow, an invalid operation.
Trap trap_of_flags(DWORD flags) {
  if (flags & 0x4) return Trap::DivideByZero;
  if (flags & 0x8) return Trap::Overflow;
  if (flags & 0x10) return Trap::Underflow;
  if (flags & 0x20) return Trap::Inexact;
  return Trap::Invalid;
}

LONG CALLBACK on_exception(EXCEPTION_POINTERS* exception) {
  switch (exception->ExceptionRecord->ExceptionCode) {
    case EXCEPTION_FLT_DIVIDE_BY_ZERO:
    case EXCEPTION_INT_DIVIDE_BY_ZERO:  // an integer division by zero is reported as the same fault
      console_internal::report_trap(Trap::DivideByZero);
    case EXCEPTION_FLT_OVERFLOW:
    case EXCEPTION_INT_OVERFLOW:
      console_internal::report_trap(Trap::Overflow);
    case EXCEPTION_FLT_UNDERFLOW: console_internal::report_trap(Trap::Underflow);
    case EXCEPTION_FLT_INEXACT_RESULT: console_internal::report_trap(Trap::Inexact);
    case EXCEPTION_FLT_INVALID_OPERATION:
    case EXCEPTION_FLT_DENORMAL_OPERAND:
    case EXCEPTION_FLT_STACK_CHECK:
      console_internal::report_trap(Trap::Invalid);
    case STATUS_FLOAT_MULTIPLE_TRAPS:
    case STATUS_FLOAT_MULTIPLE_FAULTS:
      console_internal::report_trap(trap_of_flags(exception->ContextRecord->MxCsr));
    default: return EXCEPTION_CONTINUE_SEARCH;
  }
}

}  // namespace

void install_floating_point_traps() {
  ::AddVectoredExceptionHandler(1, on_exception);
  // Stale flags are cleared first so that unmasking a trap cannot fire on an old one.
  ::_clearfp();
  unsigned int control = 0;
  ::_controlfp_s(&control, _EM_UNDERFLOW | _EM_INEXACT | _EM_DENORMAL, _MCW_EM);
}
