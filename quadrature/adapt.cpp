// The adaptive core: bisects the subinterval with the largest error estimate,
// extrapolates the sequence of area sums with the epsilon algorithm once the
// subinterval to bisect next is a small one, and reports the outcome as a
// completion code.

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "quadrature.h"

static_assert(FLT_EVAL_METHOD == 0, "float expressions must be evaluated in float");

namespace {

// Working state of one integration (not re-entrant), reset at the start of a call.
float spacing = 0.0f;
float tiny = 0.0f;
float huge = 0.0f;
float abs_total = 0.0f;    // integral of abs(f) by the first rule application
float dev_total = 0.0f;    // deviation integral of the first rule application
float error_bound = 0.0f;  // requested accuracy for the current area sum
float area_sum = 0.0f;     // sum of SUBINT over all subintervals
float error_sum = 0.0f;    // sum of SUBERR over all subintervals
int IBIS = 0;              // subinterval to bisect next
float EBIS = 0.0f;         // its error estimate
int KBIS = 0;              // its position in ERRORD
float small_len = 0.0f;    // length at or below which a subinterval counts as small
float large_error = 0.0f;  // error sum of the subintervals longer than small_len
float extrap_tol = 0.0f;   // accuracy required of an extrapolated result
float correction = 0.0f;   // large_error at the last improving extrapolation
int sign_flag = 0;         // +1: the integrand keeps one sign, to rounding
int stall_count = 0;       // extrapolations since the last improvement
bool extrap_phase = false;
bool no_extrap = false;
int roundoff_1 = 0;
int roundoff_2 = 0;
int roundoff_3 = 0;
int extrap_roundoff = 0;
float ETAB[52];
int NTAB = 0;
float LAST3[3];
int NCALLS = 0;

// Per-pass values.
float a1 = 0.0f, b1 = 0.0f, a2 = 0.0f, b2 = 0.0f;
float area1 = 0.0f, error1 = 0.0f, dev1 = 0.0f;
float area2 = 0.0f, error2 = 0.0f, dev2 = 0.0f;
float absint_unused = 0.0f;
float area12 = 0.0f, error12 = 0.0f, previous_error = 0.0f;
float new_result = 0.0f, new_error = 0.0f;

// Lists are described with positions from 1.
inline float& at(float list[], int i) { return list[i - 1]; }
inline int& at(int list[], int i) { return list[i - 1]; }

// Length of the leading part of ERRORD that is kept in order.
int sorted_top(int maxsub, int nsub) {
  if (nsub > maxsub / 2 + 2) return maxsub + 3 - nsub;
  return nsub;
}

enum class Exit { Sum, WrapUp };
enum class After { Sum, Divergence, Finish };

}  // namespace

void QADAPT(Integrand F, const float& A, const float& B, const float& ERRABS,
            const float& ERRREL, const int& MAXSUB, float& RESULT, float& ERRVAL,
            int& NFCALL, int& IER, float XLEFT[], float XRIGHT[], float SUBINT[],
            float SUBERR[], int ERRORD[], int& NSUB) {
  // --- Start -------------------------------------------------------------------
  QMCONS(spacing, tiny, huge);
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

  extrap_roundoff = 0;
  QRULE21(F, A, B, RESULT, ERRVAL, abs_total, dev_total);
  error_bound = std::max(ERRABS, ERRREL * std::fabs(RESULT));
  NSUB = 1;
  at(SUBINT, 1) = RESULT;
  at(SUBERR, 1) = ERRVAL;
  at(ERRORD, 1) = 1;
  if (ERRVAL <= 100.0f * spacing * abs_total && ERRVAL > error_bound) IER = 2;
  if (MAXSUB == 1) IER = 1;
  if (IER != 0 || (ERRVAL <= error_bound && ERRVAL != dev_total) || ERRVAL == 0.0f) {
    NFCALL = 42 * NSUB - 21;
    return;
  }

  at(ETAB, 1) = RESULT;
  EBIS = ERRVAL;
  IBIS = 1;
  area_sum = RESULT;
  error_sum = ERRVAL;
  ERRVAL = huge;
  KBIS = 1;
  NCALLS = 0;
  NTAB = 2;
  stall_count = 0;
  extrap_phase = false;
  no_extrap = false;
  roundoff_1 = 0;
  roundoff_2 = 0;
  roundoff_3 = 0;
  sign_flag = -1;
  if (std::fabs(RESULT) >= (1.0f - 50.0f * spacing) * abs_total) sign_flag = 1;

  // --- Main loop: NSUB counts the subintervals after this pass's bisection ---------
  Exit exit = Exit::Sum;
  for (NSUB = 2; NSUB <= MAXSUB; ++NSUB) {
    // 1-2. Bisect subinterval IBIS and apply the rule to both halves.
    a1 = at(XLEFT, IBIS);
    b1 = (at(XRIGHT, IBIS) + at(XLEFT, IBIS)) * 0.5f;
    a2 = b1;
    b2 = at(XRIGHT, IBIS);
    previous_error = EBIS;
    QRULE21(F, a1, b1, area1, error1, absint_unused, dev1);
    QRULE21(F, a2, b2, area2, error2, absint_unused, dev2);

    // 3. Update the running sums.
    area12 = area1 + area2;
    error12 = error1 + error2;
    error_sum = (error12 - EBIS) + error_sum;
    area_sum = (area12 - at(SUBINT, IBIS)) + area_sum;

    // 4. Roundoff bookkeeping: bisection changed the area by almost nothing while
    //    the error did not drop, or the error grew.
    if (dev1 != error1 && dev2 != error2) {
      if (std::fabs(at(SUBINT, IBIS) - area12) <= 0.00001f * std::fabs(area12) &&
          error12 >= 0.99f * EBIS) {
        if (extrap_phase) {
          roundoff_2 = roundoff_2 + 1;
        } else {
          roundoff_1 = roundoff_1 + 1;
        }
      }
      if (NSUB > 10 && error12 > EBIS) roundoff_3 = roundoff_3 + 1;
    }

    // 5-6.
    at(SUBINT, IBIS) = area1;
    at(SUBINT, NSUB) = area2;
    error_bound = std::max(ERRABS, ERRREL * std::fabs(area_sum));

    // 7-9. Completion conditions; the last one that holds decides the code.
    if (roundoff_1 + roundoff_2 >= 10 || roundoff_3 >= 20) IER = 2;
    if (roundoff_2 >= 5) extrap_roundoff = 3;
    if (NSUB == MAXSUB) IER = 1;
    if (std::max(std::fabs(a1), std::fabs(b2)) <=
        (1.0f + 1000.0f * spacing) * (std::fabs(a2) + 1000.0f * tiny)) {
      IER = 4;  // the subinterval can no longer be split in single precision
    }

    // 10. The half with the larger error keeps number IBIS, ties to the left half.
    if (error2 > error1) {
      at(XLEFT, IBIS) = a2;
      at(XLEFT, NSUB) = a1;
      at(XRIGHT, NSUB) = b1;
      at(SUBINT, IBIS) = area2;
      at(SUBINT, NSUB) = area1;
      at(SUBERR, IBIS) = error2;
      at(SUBERR, NSUB) = error1;
    } else {
      at(XLEFT, NSUB) = a2;
      at(XRIGHT, IBIS) = b1;
      at(XRIGHT, NSUB) = b2;
      at(SUBERR, IBIS) = error1;
      at(SUBERR, NSUB) = error2;
    }

    // 11-13.
    QORDER(MAXSUB, NSUB, IBIS, EBIS, SUBERR, ERRORD, KBIS);
    if (error_sum <= error_bound) {
      exit = Exit::Sum;
      break;
    }
    if (IER != 0) {
      exit = Exit::WrapUp;
      break;
    }

    // 14. After the first bisection: set up the extrapolation.
    if (NSUB == 2) {
      small_len = std::fabs(B - A) * 0.375f;
      large_error = error_sum;
      extrap_tol = error_bound;
      at(ETAB, 2) = area_sum;
      continue;
    }
    if (no_extrap) continue;

    // 16. Keep large_error the error sum over the subintervals longer than small_len.
    large_error = large_error - previous_error;
    if (std::fabs(b1 - a1) > small_len) large_error = large_error + error12;

    // 17. Extrapolate only once the subinterval to bisect next is small.
    if (!extrap_phase) {
      if (std::fabs(at(XRIGHT, IBIS) - at(XLEFT, IBIS)) > small_len) continue;
      extrap_phase = true;
      KBIS = 2;
    }

    // 18. While the large subintervals still carry too much error, bisect the
    //     leading large one first.
    if (extrap_roundoff != 3 && large_error > extrap_tol) {
      const int count = sorted_top(MAXSUB, NSUB) - KBIS + 1;
      bool large_found = false;
      for (int n = 0; n < count; ++n) {
        IBIS = at(ERRORD, KBIS);
        EBIS = at(SUBERR, IBIS);
        if (std::fabs(at(XRIGHT, IBIS) - at(XLEFT, IBIS)) > small_len) {
          large_found = true;
          break;
        }
        KBIS = KBIS + 1;
      }
      if (large_found) continue;
    }

    // 19. Extrapolate the sequence of area sums.
    NTAB = NTAB + 1;
    at(ETAB, NTAB) = area_sum;
    QEPSEX(NTAB, ETAB, new_result, new_error, LAST3, NCALLS);
    stall_count = stall_count + 1;
    if (stall_count > 5 && ERRVAL < 0.001f * error_sum) IER = 5;
    if (new_error < ERRVAL) {
      stall_count = 0;
      ERRVAL = new_error;
      RESULT = new_result;
      correction = large_error;
      extrap_tol = std::max(ERRABS, ERRREL * std::fabs(new_result));
      if (ERRVAL <= extrap_tol) {
        exit = Exit::WrapUp;
        break;
      }
    }

    // 20. Back to the subinterval with the largest error, with half the small length.
    if (NTAB == 1) no_extrap = true;
    if (IER == 5) {
      exit = Exit::WrapUp;
      break;
    }
    IBIS = at(ERRORD, 1);
    EBIS = at(SUBERR, IBIS);
    KBIS = 1;
    extrap_phase = false;
    small_len = small_len * 0.5f;
    large_error = error_sum;
  }
  // The pass with NSUB = MAXSUB always leaves the loop, so NSUB is in range here.

  // --- Wrap-up: decide between the extrapolated value and the plain sum -------------
  After after = After::Sum;
  if (exit == Exit::WrapUp) {
    if (ERRVAL == huge) {
      after = After::Sum;  // no extrapolation ever improved
    } else if (IER + extrap_roundoff == 0) {
      after = After::Divergence;
    } else {
      if (extrap_roundoff == 3) ERRVAL = ERRVAL + correction;
      if (IER == 0) IER = 3;
      if (RESULT != 0.0f && area_sum != 0.0f) {
        if (ERRVAL / std::fabs(RESULT) > error_sum / std::fabs(area_sum)) {
          after = After::Sum;
        } else {
          after = After::Divergence;
        }
      } else if (ERRVAL > error_sum) {
        after = After::Sum;
      } else if (area_sum == 0.0f) {
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
        sign_flag == -1 &&
        std::max(std::fabs(RESULT), std::fabs(area_sum)) <= 0.01f * abs_total;
    // With a zero area sum the ratio below does not exist; the extrapolated value
    // stands, with the code it has.
    if (!small_cancelling && area_sum != 0.0f) {
      const float ratio = RESULT / area_sum;
      if (ratio < 0.01f || ratio > 100.0f || error_sum > std::fabs(area_sum)) IER = 6;
    }
  }

  // --- Sum: the plain sum of the subinterval integrals ------------------------------
  if (after == After::Sum) {
    float sum = 0.0f;
    for (int i = 1; i <= NSUB; ++i) sum = sum + at(SUBINT, i);
    RESULT = sum;
    ERRVAL = error_sum;
  }

  // --- Finish and count -------------------------------------------------------------
  if (IER > 2) IER = IER - 1;
  NFCALL = 42 * NSUB - 21;
}
