// The public integrator: checks its arguments, runs the adaptive core and turns the
// core's completion code into a posted message.

#include <string_view>

#include "errors.h"
#include "internal.h"
#include "quadrature.h"

namespace {

constexpr std::string_view NAME = "Q2AGS ";

// Message texts, passed with their exact lengths.
constexpr std::string_view MAXSUB_TOO_SMALL =
    "The maximum number of subintervals MAXSUB = %(I1).  It must be at least 1.";
constexpr std::string_view ERRABS_NEGATIVE =
    "The absolute error desired ERRABS = %(R1).  It must be at least zero.";
constexpr std::string_view ERRREL_NEGATIVE =
    "The relative error desired ERRREL = %(R1).  It must be at least zero.";
constexpr std::string_view BOTH_TOLERANCES_ZERO =
    "The error tolerance arguments ERRABS and ERRREL are both equal to zero.  At least "
    "one of them must be greater than zero.";
constexpr std::string_view ERRREL_TOO_LARGE =
    "The relative error desired ERRREL = %(R1).  When ERRREL is greater than or equal "
    "to one, zero can always be returned as an answer.";
constexpr std::string_view LIMIT_REACHED =
    "The maximum number of subintervals allowed MAXSUB = %(I1) has been reached.  Use "
    "Q2AGS and increase MAXSUB.  Dimension adjustments may be necessary.";
constexpr std::string_view ROUNDOFF =
    "Roundoff error has been detected.  The requested tolerances, ERRABS = %(R1) and "
    "ERRREL = %(R2), cannot be reached.";
constexpr std::string_view TOO_FINE =
    "Precision is degraded due to too fine a subdivision relative to the requested "
    "tolerance.  This may be due to bad integrand behavior in the interval "
    "(%(R1),%(R2)).  Higher precision may alleviate this problem.";
constexpr std::string_view EXTRAPOLATION_ROUNDOFF =
    "Roundoff error has been detected in the extrapolation table.  The requested "
    "tolerances, ERRABS = %(R1) and ERRREL = %(R2) cannot be reached.";
constexpr std::string_view DIVERGENT = "Integral is probably divergent or slowly convergent.";

static_assert(MAXSUB_TOO_SMALL.size() == 74 && ERRABS_NEGATIVE.size() == 69 &&
              ERRREL_NEGATIVE.size() == 69 && BOTH_TOLERANCES_ZERO.size() == 120 &&
              ERRREL_TOO_LARGE.size() == 130 && LIMIT_REACHED.size() == 148 &&
              ROUNDOFF.size() == 114 && TOO_FINE.size() == 208 &&
              EXTRAPOLATION_ROUNDOFF.size() == 140 && DIVERGENT.size() == 52);

// Completion code of the last integration (not returned to the caller).
int IER = 0;

}  // namespace

void quadrature_internal::reset_q2ags() { IER = 0; }

void quadrature_reset() {
  quadrature_internal::reset_adapt();
  quadrature_internal::reset_epsilon();
  quadrature_internal::reset_order();
  quadrature_internal::reset_q2ags();
  quadrature_internal::reset_rule21();
}

void Q2AGS(Integrand F, const float& A, const float& B, const float& ERRABS,
           const float& ERRREL, float& RESULT, float& ERRVAL, const int& MAXSUB,
           int& NFCALL, int& NSUB, float XLEFT[], float XRIGHT[], float SUBINT[],
           float SUBERR[], int ERRORD[]) {
  E1PSH(NAME);

  // Argument checks, each independent of the others.
  if (MAXSUB < 1) {
    SET_INT_PARAM(1, MAXSUB);
    E1MES(TYPE_TERMINAL, 1, MAXSUB_TOO_SMALL);
  }
  if (ERRABS < 0.0f) {
    SET_REAL_PARAM(1, ERRABS);
    E1MES(TYPE_TERMINAL, 2, ERRABS_NEGATIVE);
  }
  if (ERRREL < 0.0f) {
    SET_REAL_PARAM(1, ERRREL);
    E1MES(TYPE_TERMINAL, 3, ERRREL_NEGATIVE);
  }
  if (ERRABS == 0.0f && ERRREL == 0.0f) {
    E1MES(TYPE_TERMINAL, 4, BOTH_TOLERANCES_ZERO);
  }
  if (ERRREL >= 1.0f) {
    SET_REAL_PARAM(1, ERRREL);
    E1MES(TYPE_TERMINAL, 5, ERRREL_TOO_LARGE);
  }

  if (N1RTY(0) == 0) {
    QADAPT(F, A, B, ERRABS, ERRREL, MAXSUB, RESULT, ERRVAL, NFCALL, IER, XLEFT, XRIGHT,
           SUBINT, SUBERR, ERRORD, NSUB);
    switch (IER) {
      case 1:
        SET_INT_PARAM(1, MAXSUB);
        E1MES(TYPE_FATAL, 1, LIMIT_REACHED);
        break;
      case 2:
        SET_REAL_PARAM(1, ERRABS);
        SET_REAL_PARAM(2, ERRREL);
        E1MES(TYPE_WARNING, 2, ROUNDOFF);
        break;
      case 3: {
        // The subinterval with the largest error heads the ordering.
        const int worst = ERRORD[0];
        SET_REAL_PARAM(1, XLEFT[worst - 1]);
        SET_REAL_PARAM(2, XRIGHT[worst - 1]);
        E1MES(TYPE_WARNING, 3, TOO_FINE);
        break;
      }
      case 4:
        SET_REAL_PARAM(1, ERRABS);
        SET_REAL_PARAM(2, ERRREL);
        E1MES(TYPE_WARNING, 4, EXTRAPOLATION_ROUNDOFF);
        break;
      case 5:
        E1MES(TYPE_FATAL, 5, DIVERGENT);
        break;
      default:
        break;  // 0: success; 6 cannot occur with checked tolerances
    }
  }

  E1POP(NAME);
}
