#!/usr/bin/env python3
"""Derives the constant tables of the 21-point Gauss-Kronrod rule and writes them
as C++ source (quadrature/gk21_tables.cpp by default, or the path given as the
first argument).

The 10-point Gauss-Legendre nodes are the roots of the Legendre polynomial P10.
The 11 added Kronrod nodes are the roots of the polynomial E11 of degree 11 that is
orthogonal to every polynomial of degree below 11 under the sign-changing weight
P10(x) on [-1, 1]; together the 21 nodes carry an interpolatory rule that is exact
for all polynomials up to degree 31. All values are computed with 60 significant
digits and then rounded once, to nearest, to a 32-bit float.

    python3 tools/gen_gk21_tables.py [output.cpp]
"""

import struct
import sys

import mpmath as mp

mp.mp.dps = 60
N = 10  # points of the Gauss rule


def legendre_coeffs(n):
    """Coefficients of P_n, lowest degree first (three-term recurrence)."""
    p0 = [mp.mpf(1)]
    p1 = [mp.mpf(0), mp.mpf(1)]
    if n == 0:
        return p0
    for k in range(1, n):
        nxt = [mp.mpf(0)] * (k + 2)
        for i, c in enumerate(p1):
            nxt[i + 1] += mp.mpf(2 * k + 1) * c / (k + 1)
        for i, c in enumerate(p0):
            nxt[i] -= mp.mpf(k) * c / (k + 1)
        p0, p1 = p1, nxt
    return p1


def poly_mul(a, b):
    out = [mp.mpf(0)] * (len(a) + len(b) - 1)
    for i, x in enumerate(a):
        for j, y in enumerate(b):
            out[i + j] += x * y
    return out


def integral_pm1(coeffs):
    """Integral over [-1, 1] of the polynomial with the given coefficients."""
    return mp.fsum(c * mp.mpf(2) / (i + 1) for i, c in enumerate(coeffs) if i % 2 == 0)


def poly_eval(coeffs, x):
    return mp.polyval(list(reversed(coeffs)), x)


def real_roots(coeffs):
    roots = mp.polyroots(list(reversed(coeffs)), maxsteps=400, extraprec=400)
    return sorted((mp.re(r) for r in roots), reverse=True)


def main():
    p10 = legendre_coeffs(N)

    # E11 is odd: x^11 + c9 x^9 + ... + c1 x. Orthogonality to x^k is automatic for
    # even k (the product is odd), so the odd k = 1, 3, ..., 9 give five equations.
    unknown_degrees = [1, 3, 5, 7, 9]
    rows, rhs = [], []
    for k in unknown_degrees:
        xk = [mp.mpf(0)] * k + [mp.mpf(1)]
        weighted = poly_mul(p10, xk)
        row = []
        for d in unknown_degrees:
            xd = [mp.mpf(0)] * d + [mp.mpf(1)]
            row.append(integral_pm1(poly_mul(weighted, xd)))
        rows.append(row)
        x11 = [mp.mpf(0)] * 11 + [mp.mpf(1)]
        rhs.append(-integral_pm1(poly_mul(weighted, x11)))
    sol = mp.lu_solve(mp.matrix(rows), mp.matrix(rhs))
    e11 = [mp.mpf(0)] * 12
    e11[11] = mp.mpf(1)
    for d, c in zip(unknown_degrees, sol):
        e11[d] = c

    gauss_nodes = [r for r in real_roots(p10) if r > 0]
    kronrod_nodes = [r for r in real_roots(e11) if r > mp.mpf("1e-40")]
    assert len(gauss_nodes) == 5 and len(kronrod_nodes) == 5

    # Descending order, Gauss nodes at the even positions (1-based), centre last.
    kx = []
    for j in range(5):
        kx.append(kronrod_nodes[j])
        kx.append(gauss_nodes[j])
    kx.append(mp.mpf(0))
    assert all(kx[i] > kx[i + 1] for i in range(10))

    # Kronrod weights: the symmetric rule on the 21 nodes must integrate the even
    # monomials x^0, x^2, ..., x^20 exactly (odd ones vanish by symmetry).
    rows, rhs = [], []
    for m in range(11):
        deg = 2 * m
        row = [2 * x ** deg for x in kx[:10]] + [mp.mpf(1) if deg == 0 else mp.mpf(0)]
        rows.append(row)
        rhs.append(mp.mpf(2) / (deg + 1))
    kw = list(mp.lu_solve(mp.matrix(rows), mp.matrix(rhs)))

    # Gauss weights: 2 / ((1 - x^2) P10'(x)^2).
    dp10 = [c * i for i, c in enumerate(p10)][1:]
    gw = [2 / ((1 - x ** 2) * poly_eval(dp10, x) ** 2) for x in gauss_nodes]

    # Independent checks in high precision before rounding.
    for deg in range(0, 32):
        exact = mp.mpf(2) / (deg + 1) if deg % 2 == 0 else mp.mpf(0)
        k = mp.fsum(kw[j] * (kx[j] ** deg + (-kx[j]) ** deg) for j in range(10))
        k += kw[10] * (mp.mpf(1) if deg == 0 else mp.mpf(0))
        assert abs(k - exact) < mp.mpf("1e-40"), ("kronrod", deg)
    for deg in range(0, 20):
        exact = mp.mpf(2) / (deg + 1) if deg % 2 == 0 else mp.mpf(0)
        g = mp.fsum(gw[j] * (gauss_nodes[j] ** deg + (-gauss_nodes[j]) ** deg)
                    for j in range(5))
        assert abs(g - exact) < mp.mpf("1e-40"), ("gauss", deg)

    def to_float(x):
        # Round to nearest double first is not enough (double rounding); round the
        # high-precision value directly to 24 significant bits.
        if x == 0:
            return 0.0, 0
        with mp.workprec(24):
            f = mp.mpf(x)  # rounds to nearest, 24-bit mantissa
        value = float(f)
        bits = struct.unpack(">I", struct.pack(">f", value))[0]
        assert struct.unpack(">f", struct.pack(">I", bits))[0] == value
        return value, bits

    def hex_literal(value):
        if value == 0:
            return "0.0f"
        mantissa, exponent = float.hex(value).split("p")
        return mantissa.rstrip("0").rstrip(".") + "p" + exponent + "f"

    def rows_for(name, values, doc):
        lines = [f"// {doc}", f"const float {name}[{len(values)}] = {{"]
        for i, x in enumerate(values):
            value, bits = to_float(x)
            lit = hex_literal(value)
            lines.append(f"    {lit},  // {name}({i + 1}) = {mp.nstr(x, 25)}, bits {bits:08X}")
        lines.append("};")
        return "\n".join(lines)

    out = [
        "// Generated by tools/gen_gk21_tables.py; do not edit by hand.",
        "//",
        "// Nodes and weights of the 21-point Gauss-Kronrod rule and of the embedded",
        "// 10-point Gauss-Legendre rule on [-1, 1], each the float nearest to the value",
        "// derived in 60-digit arithmetic (shown in the comments).",
        "",
        '#include "quadrature.h"',
        "",
        rows_for("KX", kx, "Abscissae, descending; even positions are the Gauss nodes, KX(11) = 0."),
        "",
        rows_for("KW", kw, "Kronrod weights of the nodes +-KX(j); KW(11) belongs to the centre."),
        "",
        rows_for("GW", gw, "Gauss weights; GW(j) belongs to the nodes +-KX(2j)."),
        "",
    ]
    path = sys.argv[1] if len(sys.argv) > 1 else "quadrature/gk21_tables.cpp"
    with open(path, "w", encoding="ascii") as fh:
        fh.write("\n".join(out))


if __name__ == "__main__":
    main()
