/*
 * fitmodels: nonlinear curve- and surface-fitting models behind one calling contract.
 *
 * A host looks a model up by name (Get_Func, get_funx) or binds it by its exported name, then
 * calls it once per data point:
 *
 *   rc = model(request, context, nParams, 0, 0, params, 0, x, y, deriv);
 *
 * Every array is 1-based: element 1 lies one double after the address passed, element 0 is
 * allocated by the caller and unused (except that a REQ_QUERY answer is stored in the first four
 * bytes of deriv[0]). params[1..nParams] and x[1..] are read only; y[1] receives the value
 * (multi-peak models also write the peaks' own values into y[2..], two-output models y[2]),
 * deriv[i] the partial derivative of y[1] with respect to params[i].
 *
 * Return codes: 0 success, 1 failure (then y[1] == MISSING_VALUE); QUERY_REPLY_NONE and
 * QUERY_REPLY_MASK answer REQ_QUERY. Overflow and domain errors reach the models through the
 * calling thread's errno (ERANGE, EDOM); a model never clears errno on entry, so an error left
 * by earlier work of the thread makes its first errno test fail.
 *
 * Usable from C and C++. Thread-safe: models and lookups keep no state.
 */
#ifndef FITMODELS_H
#define FITMODELS_H

#include <stdint.h>

#if defined(_WIN32)
#define FITMODELS_API
#else
#define FITMODELS_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The one signature of every model. */
typedef int32_t (*ModelFunction)(int32_t request, void *context, int16_t nParams,
                                 int32_t reserved1, int32_t reserved2, const double *params,
                                 int32_t reserved3, const double *x, double *y, double *deriv);

/* Request bits. */
#define REQ_RESERVED 1 /* answered at once, nothing computed */
#define REQ_VALUE 2    /* compute y */
#define REQ_DERIV 4    /* compute deriv (and, in most models, y) */
#define REQ_QUERY 8    /* peak-moment query, answered by a few peak and periodic models */

/* Answers to REQ_QUERY. */
#define QUERY_REPLY_NONE (-777777)
#define QUERY_REPLY_MASK 88888888

/* The host's missing-value sentinel, bit pattern 0x81AA74FE1C132C0E. */
#define MISSING_VALUE (-1.23456789e-300)

/* One registry row. */
typedef struct FunctionEntry {
  int16_t nIndep;   /* independent variables x[1..nIndep] */
  int16_t nDep;     /* dependent variables y[1..nDep] */
  int16_t nParams;  /* parameters (for a multi-peak model: for one peak) */
  int16_t reserved; /* always 0 */
  const char *name; /* table name, ASCII, unique regardless of case */
  ModelFunction function;
} FunctionEntry;

/* Lookups. The name is compared with each row, in table order, as a whole string without regard
 * to ASCII letter case; the first match wins. Get_Func writes the row's nIndep, nDep, nParams and
 * reserved fields through the non-null out-pointers; on no match it returns null and writes
 * nothing. get_funx_list always returns null. */
FITMODELS_API ModelFunction Get_Func(const char *name, int16_t *nIndep, int16_t *nDep,
                                     int16_t *nParams, int16_t *reserved);
FITMODELS_API ModelFunction get_funx(const char *name);
FITMODELS_API void *get_funx_list(void);

/* Models exported under their own names (the table name follows where it differs). */
#define FITMODELS_MODEL(name)                                                                   \
  FITMODELS_API int32_t name(int32_t request, void *context, int16_t nParams, int32_t reserved1, \
                             int32_t reserved2, const double *params, int32_t reserved3,        \
                             const double *x, double *y, double *deriv)

/* Dose-response, saturation and growth curves */
FITMODELS_MODEL(Hill);
FITMODELS_MODEL(Reich);
FITMODELS_MODEL(MWChang);
FITMODELS_MODEL(BatesWatts);  /* two independent variables: reads x[1] and x[2] */
FITMODELS_MODEL(BoxLucas2);
FITMODELS_MODEL(Nelder);
FITMODELS_MODEL(Richards);
FITMODELS_MODEL(ExpLinear);
FITMODELS_MODEL(MnMolecular);
FITMODELS_MODEL(MnMolecular1);
FITMODELS_MODEL(SLogistic1);
FITMODELS_MODEL(SLogistic2);
FITMODELS_MODEL(SLogistic3);
FITMODELS_MODEL(SGompertz);
FITMODELS_MODEL(SRichards1);
FITMODELS_MODEL(SRichards2);
FITMODELS_MODEL(SWeibull1);
FITMODELS_MODEL(SWeibull2);
FITMODELS_MODEL(Hill1);
FITMODELS_MODEL(BiDoseResp);

/* Core set: peaks, sigmoids, exponentials, hyperbolas */
FITMODELS_MODEL(Poly);            /* PolyN */
FITMODELS_MODEL(Rational);
FITMODELS_MODEL(Gauss);
FITMODELS_MODEL(Kinetic);
FITMODELS_MODEL(ExpDecay1);
FITMODELS_MODEL(ExpDecay2);
FITMODELS_MODEL(ExpDecay3);
FITMODELS_MODEL(Lorentz);
FITMODELS_MODEL(Logistic);
FITMODELS_MODEL(Boltzman);
FITMODELS_MODEL(ExpGrow1);
FITMODELS_MODEL(ExpGrow2);
FITMODELS_MODEL(ExpAssoc);
FITMODELS_MODEL(Pulse);
FITMODELS_MODEL(Hyperbl);
FITMODELS_MODEL(Dhyperbl);
FITMODELS_MODEL(Power0);
FITMODELS_MODEL(Boltzman1);       /* exported only; no registry row */
FITMODELS_MODEL(Boltzman2);       /* Response1 */
FITMODELS_MODEL(Boltzman3);       /* Competition1 */
FITMODELS_MODEL(Boltzman4);       /* Competition2 */
FITMODELS_MODEL(DoubleBoltzmann);
FITMODELS_MODEL(AsymDblSig);      /* Asym2Sig */
FITMODELS_MODEL(ExpAssoc2);

/* Polynomials */
FITMODELS_MODEL(Polynomial0);         /* Constant */
FITMODELS_MODEL(Polynomial1);         /* Line */
FITMODELS_MODEL(Polynomial2);         /* Parabola */
FITMODELS_MODEL(Polynomial3);         /* Cubic */
FITMODELS_MODEL(Polynomial4);         /* Poly4 */
FITMODELS_MODEL(Polynomial5);         /* Poly5 */
FITMODELS_MODEL(PolynomialCentered5); /* PolyCtr5 */

/* Peak shapes: Gaussian-type, Voigt and Pearson peaks */
/* (end of section) */

/* Extended set: exponentials, waves and distribution-shaped peaks */
/* (end of section) */

/* Extended set: power and logistic curves, one-parameter curves and their expected-value forms */
/* (end of section) */

/* Regression set: power, Freundlich, exponential, logarithmic, hyperbolic and rational models */
/* (end of section) */

/* Regression set: asymptotic, two-output, Ratkowsky, yield-density and piecewise models; placeholders */
/* (end of section) */

/* Statistical distributions */
/* (end of section) */

/* Surfaces of two independent variables (read x[1] and x[2]) */
FITMODELS_MODEL(Gauss2D);
FITMODELS_MODEL(Lorentz2D);
FITMODELS_MODEL(Plane);
FITMODELS_MODEL(Parabola2D);
FITMODELS_MODEL(Poly2D);
FITMODELS_MODEL(Fourier2D);
/* (end of section) */

/* Specialised models: enzyme inhibition, rheology, implicit geometry and diodes */
/* (end of section) */

#ifdef __cplusplus
}
#endif

#endif /* FITMODELS_H */
