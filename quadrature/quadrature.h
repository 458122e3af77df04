// Adaptive quadrature: Q2AGS integrates a function of one real over a finite
// interval with the 21-point Gauss-Kronrod rule applied to subintervals bisected
// where the error is largest, extrapolating the sequence of sums with the epsilon
// algorithm.
//
// Arithmetic contract: every stored quantity and every arithmetic operation of
// QRULE21, QEPSEX, QORDER and QADAPT is a 32-bit float operation, one at a time, in
// the left-to-right order of the formula, parentheses as written; the build uses no
// fused multiply-add contraction and no fast-math. The one exception is the power
// 1.5 of the error scaling, computed as x * sqrt(x) in double from the widened float
// and rounded once to float. The same input therefore gives the same RESULT bits on
// every IEEE 754 build.
//
// Work lists are indexed from 1 in the descriptions below: entry i of a list is
// element [i - 1] of the array, and ERRORD holds subinterval numbers 1..NSUB.
// None of these routines is re-entrant: an integrand must not call Q2AGS.
#pragma once

using Integrand = float (*)(float);

// Public integrator. Posts its argument-check and outcome messages through the
// error-reporting subsystem; returns no status.
void Q2AGS(Integrand F, const float& A, const float& B, const float& ERRABS,
           const float& ERRREL, float& RESULT, float& ERRVAL, const int& MAXSUB,
           int& NFCALL, int& NSUB, float XLEFT[], float XRIGHT[], float SUBINT[],
           float SUBERR[], int ERRORD[]);

// Adaptive core; IER is the completion code 0 to 6.
void QADAPT(Integrand F, const float& A, const float& B, const float& ERRABS,
            const float& ERRREL, const int& MAXSUB, float& RESULT, float& ERRVAL,
            int& NFCALL, int& IER, float XLEFT[], float XRIGHT[], float SUBINT[],
            float SUBERR[], int ERRORD[], int& NSUB);

// One application of the 21-point Gauss-Kronrod rule (and its embedded 10-point
// Gauss rule) over [A, B].
void QRULE21(Integrand F, const float& A, const float& B, float& RESULT, float& ERRVAL,
             float& ABSINT, float& DEVINT);

// One step of the epsilon algorithm on ETAB(1..NTAB); ETAB has 52 places.
void QEPSEX(int& NTAB, float ETAB[], float& RESULT, float& ERRVAL, float LAST3[],
            int& NCALLS);

// Keeps ERRORD in descending order of SUBERR after a bisection and selects the
// next subinterval to bisect.
void QORDER(const int& MAXSUB, const int& NSUB, int& IBIS, float& EBIS,
            const float SUBERR[], int ERRORD[], int& KBIS);

// Machine constants.
void QMCONS(float& spacing, float& tiny, float& huge);
float AMACH(const int& N);
int IMACH(const int& N);

// The rule's constant tables (nodes in descending order, KX(11) = 0).
extern const float KX[11];
extern const float KW[11];
extern const float GW[5];
