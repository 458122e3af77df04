// One step of the epsilon algorithm: extrapolates the limit of the sequence of
// area sums kept in ETAB, newest last.

#include <algorithm>
#include <cfloat>
#include <cmath>

#include "internal.h"
#include "quadrature.h"

static_assert(FLT_EVAL_METHOD == 0, "float expressions must be evaluated in float");

namespace {

// Working storage (not re-entrant).
float spacing = 0.0f;
float tiny = 0.0f;
float huge = 0.0f;

using quadrature_internal::at;  // ETAB is described with positions 1..52

}  // namespace

void quadrature_internal::reset_epsilon() {
  spacing = 0.0f;
  tiny = 0.0f;
  huge = 0.0f;
}

void QEPSEX(int& NTAB, float ETAB[], float& RESULT, float& ERRVAL, float LAST3[],
            int& NCALLS) {
  QMCONS(spacing, tiny, huge);
  NCALLS = NCALLS + 1;
  ERRVAL = huge;
  RESULT = at(ETAB, NTAB);

  if (NTAB >= 3) {
    at(ETAB, NTAB + 2) = at(ETAB, NTAB);
    const int m = (NTAB - 1) / 2;
    at(ETAB, NTAB) = huge;
    const int nt = NTAB;
    int k1 = NTAB;
    bool converged = false;

    for (int i = 1; i <= m; ++i) {
      const int k2 = k1 - 1;
      const int k3 = k1 - 2;
      float r = at(ETAB, k1 + 2);
      const float e0 = at(ETAB, k3);
      const float e1 = at(ETAB, k2);
      const float e2 = r;
      const float delta2 = e2 - e1;
      const float err2 = std::fabs(delta2);
      const float tol2 = std::max(std::fabs(e2), std::fabs(e1)) * spacing;
      const float delta3 = e1 - e0;
      const float err3 = std::fabs(delta3);
      const float tol3 = std::max(std::fabs(e1), std::fabs(e0)) * spacing;
      if (err2 <= tol2 && err3 <= tol3) {
        // e0, e1 and e2 agree to machine accuracy: that is the limit.
        RESULT = r;
        ERRVAL = err3 + err2;
        converged = true;
        break;
      }
      const float e3 = at(ETAB, k1);
      at(ETAB, k1) = e1;
      const float delta1 = e1 - e3;
      const float err1 = std::fabs(delta1);
      const float tol1 = std::max(std::fabs(e1), std::fabs(e3)) * spacing;
      if (err1 <= tol1 || err2 <= tol2 || err3 <= tol3) {
        // Two elements too close to divide by their difference: cut the table.
        NTAB = 2 * i - 1;
        break;
      }
      const float q = (1.0f / delta2 - 1.0f / delta3) + 1.0f / delta1;
      const float w = std::fabs(q * e1);
      if (w <= 0.0001f) {
        // Irregular behaviour of the table: cut it here.
        NTAB = 2 * i - 1;
        break;
      }
      r = e1 + 1.0f / q;
      at(ETAB, k1) = r;
      k1 = k1 - 2;
      const float error = (std::fabs(r - e2) + err3) + err2;
      if (error <= ERRVAL) {
        ERRVAL = error;
        RESULT = r;
      }
    }

    if (!converged) {
      if (NTAB == 50) NTAB = 49;  // the table keeps at most 50 elements
      // Move the new lower diagonal into place.
      int ib = (nt % 2 == 1) ? 1 : 2;
      for (int i = 1; i <= m + 1; ++i) {
        at(ETAB, ib) = at(ETAB, ib + 2);
        ib = ib + 2;
      }
      // Drop the oldest elements when the table was cut.
      if (nt != NTAB) {
        int p = nt - NTAB + 1;
        for (int i = 1; i <= NTAB; ++i) {
          at(ETAB, i) = at(ETAB, p);
          p = p + 1;
        }
      }
      // The error estimate is the spread of the new result against the last three.
      if (NCALLS < 4) {
        LAST3[NCALLS - 1] = RESULT;
        ERRVAL = huge;
      } else {
        ERRVAL = std::fabs(RESULT - LAST3[2]) + std::fabs(RESULT - LAST3[1]) +
                 std::fabs(RESULT - LAST3[0]);
        LAST3[0] = LAST3[1];
        LAST3[1] = LAST3[2];
        LAST3[2] = RESULT;
      }
    }
  }

  ERRVAL = std::max(ERRVAL, 5.0f * spacing * std::fabs(RESULT));
}
