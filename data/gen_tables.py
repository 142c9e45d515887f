#!/usr/bin/env python3
"""Writes the eight reference table files of the non-standard range calculation.

Each file lists one pair a line, "<t> <signal>", for every whole degree of the
sensor's span: thermocouple EMF in mV with 6 decimals (reference junction at
0 degC), resistance of a 100 ohm thermometer in ohm with 5 decimals.  The last
line is the end marker "-300 0".

Thermocouples follow IEC 60584-1 (NIST ITS-90 reference functions) for E, J
and K, and GOST R 8.585-2001 for L.  Resistance thermometers follow IEC 60751
(Pt100) and GOST 6651-2009 (100P, 100M, 100N).

Usage: gen_tables.py [output folder]   (default: the folder of this script)
"""

import math
import os
import sys

# ---------------------------------------------------------------- thermocouples

# Type L, GOST R 8.585-2001 Annex A: (upper bound of the sub-range, coefficients).
L_BELOW_0 = [-5.8952244e-05, 6.3391502e-02, 6.7592964e-05, 2.0672566e-07,
             5.5720884e-09, 5.7133860e-11, 3.2995593e-13, 9.9232420e-16,
             1.2079584e-18]
L_ABOVE_0 = [-1.8656953e-05, 6.3310975e-02, 6.0153091e-05, -8.0073134e-08,
             9.6946071e-11, -3.6047289e-14, -2.4694775e-16, 4.2880341e-19,
             -2.0725297e-22]

E_BELOW_0 = [0.0, 0.586655087080e-01, 0.454109771240e-04, -0.779980486860e-06,
             -0.258001608430e-07, -0.594525830570e-09, -0.932140586670e-11,
             -0.102876055340e-12, -0.803701236210e-15, -0.439794973910e-17,
             -0.164147763550e-19, -0.396736195160e-22, -0.558273287210e-25,
             -0.346578420130e-28]
E_ABOVE_0 = [0.0, 0.586655087100e-01, 0.450322755820e-04, 0.289084072120e-07,
             -0.330568966520e-09, 0.650244032700e-12, -0.191974955040e-15,
             -0.125366004970e-17, 0.214892175690e-20, -0.143880417820e-23,
             0.359608994810e-27]

J_BELOW_760 = [0.0, 0.503811878150e-01, 0.304758369300e-04, -0.856810657200e-07,
               0.132281952950e-09, -0.170529583370e-12, 0.209480906970e-15,
               -0.125383953360e-18, 0.156317256970e-22]
J_ABOVE_760 = [0.296456256810e+03, -0.149761277860e+01, 0.317871039240e-02,
               -0.318476867010e-05, 0.157208190040e-08, -0.306913690560e-12]

K_BELOW_0 = [0.0, 0.394501280250e-01, 0.236223735980e-04, -0.328589067840e-06,
             -0.499048287770e-08, -0.675090591730e-10, -0.574103274280e-12,
             -0.310888728940e-14, -0.104516093650e-16, -0.198892668780e-19,
             -0.163226974860e-22]
K_ABOVE_0 = [-0.176004136860e-01, 0.389212049750e-01, 0.185587700320e-04,
             -0.994575928740e-07, 0.318409457190e-09, -0.560728448890e-12,
             0.560750590590e-15, -0.320207200030e-18, 0.971511471520e-22,
             -0.121047212750e-25]
K_A0, K_A1, K_A2 = 0.1185976, -1.183432e-04, 126.9686


def poly(c, t):
    s = 0.0
    for a in reversed(c):
        s = s * t + a
    return s


def emf_l(t):
    return poly(L_BELOW_0 if t < 0 else L_ABOVE_0, t)


def emf_e(t):
    return poly(E_BELOW_0 if t < 0 else E_ABOVE_0, t)


def emf_j(t):
    return poly(J_BELOW_760 if t < 760 else J_ABOVE_760, t)


def emf_k(t):
    if t < 0:
        return poly(K_BELOW_0, t)
    return poly(K_ABOVE_0, t) + K_A0 * math.exp(K_A1 * (t - K_A2) ** 2)


# ------------------------------------------------------ resistance thermometers

R0 = 100.0


def platinum(a, b, c):
    def r(t):
        w = 1.0 + a * t + b * t * t
        if t < 0:
            w += c * (t - 100.0) * t ** 3
        return R0 * w
    return r


def copper(t):
    a, b, c = 4.28e-03, -6.2032e-07, 8.5154e-10
    if t < 0:
        w = 1.0 + a * t + b * t * (t + 6.7) + c * t ** 3
    else:
        w = 1.0 + a * t
    return R0 * w


def nickel(t):
    a, b, c = 5.4963e-03, 6.7556e-06, 9.2004e-09
    w = 1.0 + a * t + b * t * t
    if t >= 100:
        w += c * (t - 100.0) * t * t
    return R0 * w


# (file, function, first degC, last degC, decimals)
TABLES = [
    ("XKL.txt", emf_l, -120, 800, 6),
    ("XKE.txt", emf_e, -120, 800, 6),
    ("XAK.txt", emf_k, -50, 1100, 6),
    ("TJK.txt", emf_j, -120, 800, 6),
    ("PT100.txt", platinum(3.9083e-03, -5.775e-07, -4.183e-12), -200, 650, 5),
    ("100P.txt", platinum(3.9690e-03, -5.841e-07, -4.330e-12), -200, 650, 5),
    ("100M.txt", copper, -200, 200, 5),
    ("N100.txt", nickel, -50, 180, 5),
]

MARKER = "-300 0"


def fmt(value, decimals):
    text = "%.*f" % (decimals, value)
    if text.lstrip("-").strip("0.") == "":  # a rounded zero carries no sign
        text = "%.*f" % (decimals, 0.0)
    return text


def table_lines(func, first, last, decimals):
    lines = []
    previous = None
    for t in range(first, last + 1):
        text = fmt(func(float(t)), decimals)
        if previous is not None and float(text) <= previous:
            raise ValueError("signal does not increase at %d degC" % t)
        previous = float(text)
        lines.append("%d %s" % (t, text))
    lines.append(MARKER)
    return lines


def main(argv):
    out = argv[1] if len(argv) > 1 else os.path.dirname(os.path.abspath(__file__))
    os.makedirs(out, exist_ok=True)
    for name, func, first, last, decimals in TABLES:
        lines = table_lines(func, first, last, decimals)
        with open(os.path.join(out, name), "w", encoding="ascii", newline="\n") as f:
            f.write("\n".join(lines) + "\n")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
