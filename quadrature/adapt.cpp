// The adaptive core: bisects the subinterval with the largest error estimate,
// extrapolates the sequence of area sums with the epsilon algorithm once the
// subinterval to bisect next is a small one, and reports the outcome as a
// completion code.

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "internal.h"
#include "quadrature.h"

static_assert(FLT_EVAL_METHOD == 0, "float expressions must be evaluated in float");

namespace {

using quadrature_internal::at;
using quadrature_internal::sorted_top;

// Everything one integration carries from one pass of the main loop to the next, and
// into the wrap-up. Static storage (not re-entrant); QADAPT resets all of it in one
// statement before anything else, so nothing carries over from an earlier integration.
struct Integration {
  float spacing, tiny, huge;  // machine constants
  float abs_total;            // integral of abs(f) by the first rule application
  float dev_total;            // deviation integral of the first rule application
  float error_bound;          // requested accuracy for the current area sum
  float area_sum;             // sum of SUBINT over all subintervals
  float error_sum;            // sum of SUBERR over all subintervals
  int IBIS;                   // subinterval to bisect next
  float EBIS;                 // its error estimate
  int KBIS;                   // its position in ERRORD
  float small_len;            // length at or below which a subinterval counts as small
  float large_error;          // error sum of the subintervals longer than small_len
  float extrap_tol;           // accuracy required of an extrapolated result
  float correction;           // large_error at the last improving extrapolation
  int sign_flag;              // +1: the integrand keeps one sign, to rounding
  int stall_count;            // extrapolations since the last improvement
  bool extrap_phase;
  bool no_extrap;
  int roundoff_1, roundoff_2, roundoff_3;
  int extrap_roundoff;
  float ETAB[52];              // the epsilon table of the area sums, NTAB long
  int NTAB;
  float LAST3[3];             // QEPSEX's last three results and its count of calls
  int NCALLS;
};
Integration state;

enum class Exit { Sum, WrapUp };
enum class After { Sum, Divergence, Finish };

}  // namespace

void quadrature_internal::reset_adapt() { state = Integration{}; }

void QADAPT(Integrand F, const float& A, const float& B, const float& ERRABS,
            const float& ERRREL, const int& MAXSUB, float& RESULT, float& ERRVAL,
            int& NFCALL, int& IER, float XLEFT[], float XRIGHT[], float SUBINT[],
            float SUBERR[], int ERRORD[], int& NSUB) {
  // --- Start -------------------------------------------------------------------
  state = Integration{};
  Integration& s = state;
  QMCONS(s.spacing, s.tiny, s.huge);
  IER = 0;
  NFCALL = 0;
  NSUB = 0;
  RESULT = 0.0f;
  ERRVAL = 0.0f;
  at(XLEFT, 1) = A;
  at(XRIGHT, 1) = B;
  at(SUBINT, 1) = 0.0f;
  at(SUBERR, 1) = 0.0f;
  if (ERRABS < 0.0f && ERRREL < 0.0f) {
    IER = 6;
    return;
  }

  QRULE21(F, A, B, RESULT, ERRVAL, s.abs_total, s.dev_total);
  s.error_bound = std::max(ERRABS, ERRREL * std::fabs(RESULT));
  NSUB = 1;
  at(SUBINT, 1) = RESULT;
  at(SUBERR, 1) = ERRVAL;
  at(ERRORD, 1) = 1;
  if (ERRVAL <= 100.0f * s.spacing * s.abs_total && ERRVAL > s.error_bound) IER = 2;
  if (MAXSUB == 1) IER = 1;
  if (IER != 0 || (ERRVAL <= s.error_bound && ERRVAL != s.dev_total) || ERRVAL == 0.0f) {
    NFCALL = 42 * NSUB - 21;
    return;
  }

  at(s.ETAB, 1) = RESULT;
  s.NTAB = 2;
  s.EBIS = ERRVAL;
  s.IBIS = 1;
  s.KBIS = 1;
  s.area_sum = RESULT;
  s.error_sum = ERRVAL;
  ERRVAL = s.huge;
  s.sign_flag = -1;
  if (std::fabs(RESULT) >= (1.0f - 50.0f * s.spacing) * s.abs_total) s.sign_flag = 1;

  // --- Main loop: NSUB counts the subintervals after this pass's bisection ---------
  Exit exit = Exit::Sum;
  for (NSUB = 2; NSUB <= MAXSUB; ++NSUB) {
    // 1-2. Bisect subinterval IBIS and apply the rule to both halves.
    const float a1 = at(XLEFT, s.IBIS);
    const float b1 = (at(XRIGHT, s.IBIS) + at(XLEFT, s.IBIS)) * 0.5f;
    const float a2 = b1;
    const float b2 = at(XRIGHT, s.IBIS);
    const float previous_error = s.EBIS;
    float area1 = 0.0f, error1 = 0.0f, dev1 = 0.0f;
    float area2 = 0.0f, error2 = 0.0f, dev2 = 0.0f;
    float absint_unused = 0.0f;
    QRULE21(F, a1, b1, area1, error1, absint_unused, dev1);
    QRULE21(F, a2, b2, area2, error2, absint_unused, dev2);

    // 3. Update the running sums.
    const float area12 = area1 + area2;
    const float error12 = error1 + error2;
    s.error_sum = (error12 - s.EBIS) + s.error_sum;
    s.area_sum = (area12 - at(SUBINT, s.IBIS)) + s.area_sum;

    // 4. Roundoff bookkeeping: bisection changed the area by almost nothing while
    //    the error did not drop, or the error grew.
    if (dev1 != error1 && dev2 != error2) {
      if (std::fabs(at(SUBINT, s.IBIS) - area12) <= 0.00001f * std::fabs(area12) &&
          error12 >= 0.99f * s.EBIS) {
        if (s.extrap_phase) {
          s.roundoff_2 = s.roundoff_2 + 1;
        } else {
          s.roundoff_1 = s.roundoff_1 + 1;
        }
      }
      if (NSUB > 10 && error12 > s.EBIS) s.roundoff_3 = s.roundoff_3 + 1;
    }

    // 5-6.
    at(SUBINT, s.IBIS) = area1;
    at(SUBINT, NSUB) = area2;
    s.error_bound = std::max(ERRABS, ERRREL * std::fabs(s.area_sum));

    // 7-9. Completion conditions; the last one that holds decides the code.
    if (s.roundoff_1 + s.roundoff_2 >= 10 || s.roundoff_3 >= 20) IER = 2;
    if (s.roundoff_2 >= 5) s.extrap_roundoff = 3;
    if (NSUB == MAXSUB) IER = 1;
    if (std::max(std::fabs(a1), std::fabs(b2)) <=
        (1.0f + 1000.0f * s.spacing) * (std::fabs(a2) + 1000.0f * s.tiny)) {
      IER = 4;  // the subinterval can no longer be split in single precision
    }

    // 10. The half with the larger error keeps number IBIS, ties to the left half.
    if (error2 > error1) {
      at(XLEFT, s.IBIS) = a2;
      at(XLEFT, NSUB) = a1;
      at(XRIGHT, NSUB) = b1;
      at(SUBINT, s.IBIS) = area2;
      at(SUBINT, NSUB) = area1;
      at(SUBERR, s.IBIS) = error2;
      at(SUBERR, NSUB) = error1;
    } else {
      at(XLEFT, NSUB) = a2;
      at(XRIGHT, s.IBIS) = b1;
      at(XRIGHT, NSUB) = b2;
      at(SUBERR, s.IBIS) = error1;
      at(SUBERR, NSUB) = error2;
    }

    // 11-13.
    QORDER(MAXSUB, NSUB, s.IBIS, s.EBIS, SUBERR, ERRORD, s.KBIS);
    if (s.error_sum <= s.error_bound) {
      exit = Exit::Sum;
      break;
    }
    if (IER != 0) {
      exit = Exit::WrapUp;
      break;
    }

    // 14. After the first bisection: set up the extrapolation.
    if (NSUB == 2) {
      s.small_len = std::fabs(B - A) * 0.375f;
      s.large_error = s.error_sum;
      s.extrap_tol = s.error_bound;
      at(s.ETAB, 2) = s.area_sum;
      continue;
    }
    if (s.no_extrap) continue;

    // 16. Keep large_error the error sum over the subintervals longer than small_len.
    s.large_error = s.large_error - previous_error;
    if (std::fabs(b1 - a1) > s.small_len) s.large_error = s.large_error + error12;

    // 17. Extrapolate only once the subinterval to bisect next is small.
    if (!s.extrap_phase) {
      if (std::fabs(at(XRIGHT, s.IBIS) - at(XLEFT, s.IBIS)) > s.small_len) continue;
      s.extrap_phase = true;
      s.KBIS = 2;
    }

    // 18. While the large subintervals still carry too much error, bisect the
    //     leading large one first.
    if (s.extrap_roundoff != 3 && s.large_error > s.extrap_tol) {
      const int count = sorted_top(MAXSUB, NSUB) - s.KBIS + 1;
      bool large_found = false;
      for (int n = 0; n < count; ++n) {
        s.IBIS = at(ERRORD, s.KBIS);
        s.EBIS = at(SUBERR, s.IBIS);
        if (std::fabs(at(XRIGHT, s.IBIS) - at(XLEFT, s.IBIS)) > s.small_len) {
          large_found = true;
          break;
        }
        s.KBIS = s.KBIS + 1;
      }
      if (large_found) continue;
    }

    // 19. Extrapolate the sequence of area sums.
    s.NTAB = s.NTAB + 1;
    at(s.ETAB, s.NTAB) = s.area_sum;
    float new_result = 0.0f, new_error = 0.0f;
    QEPSEX(s.NTAB, s.ETAB, new_result, new_error, s.LAST3, s.NCALLS);
    s.stall_count = s.stall_count + 1;
    if (s.stall_count > 5 && ERRVAL < 0.001f * s.error_sum) IER = 5;
    if (new_error < ERRVAL) {
      s.stall_count = 0;
      ERRVAL = new_error;
      RESULT = new_result;
      s.correction = s.large_error;
      s.extrap_tol = std::max(ERRABS, ERRREL * std::fabs(new_result));
      if (ERRVAL <= s.extrap_tol) {
        exit = Exit::WrapUp;
        break;
      }
    }

    // 20. Back to the subinterval with the largest error, with half the small length.
    if (s.NTAB == 1) s.no_extrap = true;
    if (IER == 5) {
      exit = Exit::WrapUp;
      break;
    }
    s.IBIS = at(ERRORD, 1);
    s.EBIS = at(SUBERR, s.IBIS);
    s.KBIS = 1;
    s.extrap_phase = false;
    s.small_len = s.small_len * 0.5f;
    s.large_error = s.error_sum;
  }
  // The pass with NSUB = MAXSUB always leaves the loop, so NSUB is in range here.

  // --- Wrap-up: decide between the extrapolated value and the plain sum -------------
  After after = After::Sum;
  if (exit == Exit::WrapUp) {
    if (ERRVAL == s.huge) {
      after = After::Sum;  // no extrapolation ever improved
    } else if (IER + s.extrap_roundoff == 0) {
      after = After::Divergence;
    } else {
      if (s.extrap_roundoff == 3) ERRVAL = ERRVAL + s.correction;
      if (IER == 0) IER = 3;
      if (RESULT != 0.0f && s.area_sum != 0.0f) {
        if (ERRVAL / std::fabs(RESULT) > s.error_sum / std::fabs(s.area_sum)) {
          after = After::Sum;
        } else {
          after = After::Divergence;
        }
      } else if (ERRVAL > s.error_sum) {
        after = After::Sum;
      } else if (s.area_sum == 0.0f) {
        after = After::Finish;
      } else {
        after = After::Divergence;
      }
    }
  }

  // --- Divergence test (RESULT holds the extrapolated value) -----------------------
  if (after == After::Divergence) {
    after = After::Finish;
    const bool small_cancelling =
        s.sign_flag == -1 &&
        std::max(std::fabs(RESULT), std::fabs(s.area_sum)) <= 0.01f * s.abs_total;
    // With a zero area sum the ratio below does not exist; the extrapolated value
    // stands, with the code it has.
    if (!small_cancelling && s.area_sum != 0.0f) {
      const float ratio = RESULT / s.area_sum;
      if (ratio < 0.01f || ratio > 100.0f || s.error_sum > std::fabs(s.area_sum)) IER = 6;
    }
  }

  // --- Sum: the plain sum of the subinterval integrals ------------------------------
  if (after == After::Sum) {
    float sum = 0.0f;
    for (int i = 1; i <= NSUB; ++i) sum = sum + at(SUBINT, i);
    RESULT = sum;
    ERRVAL = s.error_sum;
  }

  // --- Finish and count -------------------------------------------------------------
  if (IER > 2) IER = IER - 1;
  NFCALL = 42 * NSUB - 21;
}
