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
/* Multi-peak: p1 baseline, then one block per peak; y[2 + j] receives peak j alone.
 * Gaussian (blocks xc, A, w) and BiGaussian (blocks y0, xc, H, wl, wr, no shared baseline) are
 * reachable only through the lookups. */
FITMODELS_MODEL(GaussianMod);     /* table name GaussMod; blocks A, xc, sigma, t0 */
FITMODELS_MODEL(GramCharlier);    /* table name GCAS; blocks xc, A, sigma, a3, a4 */
FITMODELS_MODEL(EdgeworthCramer); /* table name ECS; blocks xc, A, sigma, a3, a4 */
FITMODELS_MODEL(CheslerCram);     /* table name CCE; blocks xc1, A, s2, k2, xc2, B, k3, xc3 */
FITMODELS_MODEL(LogNormal);       /* blocks xc, w, A */
FITMODELS_MODEL(Weibull3);        /* blocks xc, A, w, c */
FITMODELS_MODEL(Voigt5);          /* blocks xc, A, wG, wL */
FITMODELS_MODEL(PseudoVoigt1);    /* table name PsdVoigt1; blocks xc, A, w, mu */
FITMODELS_MODEL(PseudoVoigt2);    /* table name PsdVoigt2; blocks xc, A, wG, wL, mu */
FITMODELS_MODEL(PearsonVII);      /* single peak: baseline, centre, area, FWHM, shape m */
/* PearsonIV (lookups only) reads p1 baseline, p2 location, p3 area, p4 scale > 0,
 * p5 shape m > 1/2, p6 skewness nu: y = p1 + p3*k*(1 + u^2)^(-m)*exp(-nu*atan(u)),
 * u = (x - p2)/p4, k normalising the area to p3; invalid parameters give MISSING_VALUE. */

/* Extended set: exponentials, waves and distribution-shaped peaks */
FITMODELS_MODEL(ExpDec1);
FITMODELS_MODEL(ExpDec2);
FITMODELS_MODEL(ExpDec3);
FITMODELS_MODEL(ExpGro1);
FITMODELS_MODEL(ExpGro2);
FITMODELS_MODEL(ExpGro3);
FITMODELS_MODEL(Exponential);
FITMODELS_MODEL(Pulse1);
FITMODELS_MODEL(Sine);
FITMODELS_MODEL(SineSqr);
FITMODELS_MODEL(SineDamp);
FITMODELS_MODEL(Giddings);
FITMODELS_MODEL(Extreme);
FITMODELS_MODEL(Beta);
FITMODELS_MODEL(LogisticPK);      /* LogistPK */
FITMODELS_MODEL(GaussAmp);
FITMODELS_MODEL(InversePoly);     /* InvsPoly */

/* Extended set: power and logistic curves, one-parameter curves and their expected-value forms */
FITMODELS_MODEL(Slogistic4);
FITMODELS_MODEL(Power1);
FITMODELS_MODEL(Power2);
FITMODELS_MODEL(Logarithm);
FITMODELS_MODEL(LogarithmEVP);   /* reads 2 parameters (p1, p2) and writes deriv[1..2] */
FITMODELS_MODEL(Reciprocal0);
FITMODELS_MODEL(Reciprocal0EVP); /* reads 2 parameters (p1, p2) and writes deriv[1..2] */
FITMODELS_MODEL(Exponent);       /* Exp1P1 */
FITMODELS_MODEL(ExponentEVP);    /* reads 2 parameters (p1, p2) and writes deriv[1..2] */
FITMODELS_MODEL(Power);
FITMODELS_MODEL(PowerEVP);       /* reads 2 parameters (p1, p2) and writes deriv[1..2] */
FITMODELS_MODEL(Reciprocal1);
FITMODELS_MODEL(Reciprocal1EVP); /* reads 2 parameters (p1, p2) and writes deriv[1..2] */
FITMODELS_MODEL(Pareto);
FITMODELS_MODEL(ParetoEVP);      /* reads 2 parameters (p1, p2) and writes deriv[1..2] */
FITMODELS_MODEL(Exponent1);      /* Exp1P3 */
FITMODELS_MODEL(Exponent1Mod);   /* Exp1P3Md */
FITMODELS_MODEL(Exponent2);      /* Exp1P2 */
FITMODELS_MODEL(Exponent2Mod1);  /* Exp1P2Md */
FITMODELS_MODEL(Exponent2EVP);   /* reads 2 parameters (p1, p2) and writes deriv[1..2] */
FITMODELS_MODEL(Exponent3);      /* Exp1P4 */
FITMODELS_MODEL(Exponent3Mod1);  /* Exp1P4Md */
FITMODELS_MODEL(Exponent3EVP);   /* reads 2 parameters (p1, p2) and writes deriv[1..2] */

/* Regression set: power, Freundlich, exponential, logarithmic, hyperbolic and rational models */
FITMODELS_MODEL(Allometric1);
FITMODELS_MODEL(Allometric2);
FITMODELS_MODEL(Holliday);
FITMODELS_MODEL(MicMent);
FITMODELS_MODEL(BoxLucas1);
FITMODELS_MODEL(Freundlich3PMod);
FITMODELS_MODEL(Log2P1);
FITMODELS_MODEL(Log2P1EVP);        /* reads params[1..3], writes deriv[1..3] */
FITMODELS_MODEL(Log2P2);
FITMODELS_MODEL(Log2P2EVP);        /* reads params[1..4], writes deriv[1..4] */
FITMODELS_MODEL(BoxLucas1Mod);
FITMODELS_MODEL(BoxLucas1EVP);     /* reads params[1..3], writes deriv[1..3] */
FITMODELS_MODEL(Exp2P);
FITMODELS_MODEL(Exp2PMod1);
FITMODELS_MODEL(Exp2PMod2);
FITMODELS_MODEL(Exp2PEVP);         /* reads params[1..4], writes deriv[1..4] */
FITMODELS_MODEL(Freundlich);       /* also behind the row TimePow */
FITMODELS_MODEL(FreundlichMod1);
FITMODELS_MODEL(FreundlichEVP);    /* reads params[1..4], writes deriv[1..4] */
FITMODELS_MODEL(RectHyperbola);
FITMODELS_MODEL(HyperbolaMod);
FITMODELS_MODEL(HyperbolaEVP);     /* reads params[1..4], writes deriv[1..4] */
FITMODELS_MODEL(Reciprocal);
FITMODELS_MODEL(ReciprocalMod);
FITMODELS_MODEL(ReciprocalEVP);    /* reads params[1..4], writes deriv[1..4] */
FITMODELS_MODEL(LineMod);
FITMODELS_MODEL(BET);
FITMODELS_MODEL(BETMod);
FITMODELS_MODEL(Freundlich3P);
FITMODELS_MODEL(Freundlich3PEVP1); /* reads params[1..4], writes deriv[1..4] */
FITMODELS_MODEL(Freundlich3PEVP2); /* reads params[1..5]; value only (deriv[1..5] all missing) */
FITMODELS_MODEL(FreundlichEXT);
FITMODELS_MODEL(FreundlichEXTEVP); /* reads params[1..4], writes deriv[1..4] */
FITMODELS_MODEL(Holliday1);
FITMODELS_MODEL(Rational0);
FITMODELS_MODEL(Rational1);
FITMODELS_MODEL(Rational2);
FITMODELS_MODEL(Rational3);
FITMODELS_MODEL(Rational4);
FITMODELS_MODEL(Belehradek);
FITMODELS_MODEL(HyperbolaGen);
FITMODELS_MODEL(ExpGrowth);

/* Regression set: asymptotic, two-output, Ratkowsky, yield-density and piecewise models; placeholders */
FITMODELS_MODEL(Shah);
FITMODELS_MODEL(YldFert);
FITMODELS_MODEL(Cole);            /* two independent variables: reads x[1] and x[2] */
FITMODELS_MODEL(YldFert1);
FITMODELS_MODEL(Stirling);
FITMODELS_MODEL(Ratkowsky2P1);    /* Pow2P3 */
FITMODELS_MODEL(Ratkowsky2P1EVP); /* reads 3 parameters */
FITMODELS_MODEL(Bradley);
FITMODELS_MODEL(Ratkowsky2P2);    /* Pow2P1 */
FITMODELS_MODEL(Ratkowsky2P2EVP); /* reads 3 parameters */
FITMODELS_MODEL(Ratkowsky2P3);    /* Pow2P2 */
FITMODELS_MODEL(Ratkowsky2P3EVP); /* reads 3 parameters */
FITMODELS_MODEL(Asymptotic1);
FITMODELS_MODEL(Asymptotic2);
FITMODELS_MODEL(Asymptotic3);
FITMODELS_MODEL(Asymptotic4);
FITMODELS_MODEL(Asymptotic5);
FITMODELS_MODEL(Asymptotic6);
FITMODELS_MODEL(Asymptotic7);
FITMODELS_MODEL(LangmuirEXT1);
FITMODELS_MODEL(LangmuirEXT2);
FITMODELS_MODEL(Gunary);
FITMODELS_MODEL(BlNeldSmp);
FITMODELS_MODEL(BlNeld);
FITMODELS_MODEL(BlNeldEVP);       /* reads 5 parameters */
FITMODELS_MODEL(errtest);         /* error-path test model */
FITMODELS_MODEL(Harris);
FITMODELS_MODEL(HarrisEVP);       /* reads 5 parameters */
FITMODELS_MODEL(RationalEVP);     /* placeholder */
FITMODELS_MODEL(BelehradekEVP);   /* placeholder */
FITMODELS_MODEL(Ratkowsky4332);   /* Log3P1 */
FITMODELS_MODEL(Ratkowsky4333);   /* Exp3P1 */
FITMODELS_MODEL(Ratkowsky4334);   /* Exp3P1Md */
FITMODELS_MODEL(Chapman);
FITMODELS_MODEL(ChapmanEVP1);     /* placeholder */
FITMODELS_MODEL(ChapmanEVP2);     /* placeholder */
FITMODELS_MODEL(ChapmanEVP3);     /* placeholder */
FITMODELS_MODEL(Ratkowsky4339);   /* Exp3P2 */
FITMODELS_MODEL(LangmuirTS1);     /* placeholder */
FITMODELS_MODEL(LangmuirTS2);     /* placeholder */
FITMODELS_MODEL(Rational4P);      /* placeholder */
FITMODELS_MODEL(ExpCSum1);        /* placeholder */
FITMODELS_MODEL(ExpCSum2);        /* placeholder */
FITMODELS_MODEL(ExpCSumEVP);      /* placeholder */
FITMODELS_MODEL(Prunty);          /* placeholder */
FITMODELS_MODEL(BentHyperblSmp);  /* placeholder */

/* Surfaces of two independent variables (read x[1] and x[2]) */
FITMODELS_MODEL(Gauss2D);
FITMODELS_MODEL(Lorentz2D);
FITMODELS_MODEL(Plane);
FITMODELS_MODEL(Parabola2D);
FITMODELS_MODEL(Poly2D);
FITMODELS_MODEL(Fourier2D);

/* Specialised models: enzyme inhibition, rheology, implicit geometry and diodes */
/* The enzyme-inhibition (CompInhib, NoncompInhib, UncompInhib, MixedModelInhib, SubstrateInhib),
 * rheology (Bingham, Carreau, Cross, Herschel, MYEGA, VFT), geometry (Ellipse, Circle, PlaneMod)
 * and diode (SolarCellIV, ModDiode) models are reached through the lookups only. */

/* ---- Development test hook ----
 * FuncTest runs a registry model over host data: it lists the table into a window, binds host
 * columns for x, y and the results, and evaluates a model row by row, writing its value, its
 * analytic derivatives and forward-difference derivatives (step 1e-8) back for comparison.
 * All data access goes through the host callback. The hook keeps its bindings in library-wide
 * state between calls and serves one caller at a time.
 *
 * The window receiving the listing: on Windows a window handle (HWND), messages are sent with
 * SendMessageW; elsewhere a HostWindow supplied by the host, messages go to its send_message. */
typedef struct HostWindow {
  intptr_t (*send_message)(struct HostWindow *self, uint32_t message, uintptr_t wParam,
                           intptr_t lParam);
} HostWindow;
#if defined(_WIN32)
typedef void *FuncTestWindow;
#else
typedef HostWindow *FuncTestWindow;
#endif

/* The host callback, called as callback(0, code, argument, out). */
typedef int64_t (*HostCallback)(int64_t zero, int32_t code, intptr_t argument, void *out);

/* Callback codes. */
#define FUNCTEST_CB_EVALUATE 4124      /* argument a token; evaluates it into *(double *)out;
                                          0 on success */
#define FUNCTEST_CB_COLUMN 12288       /* argument a column name; returns its handle (0: none);
                                          a non-null out (FuncTestRange) gets its row range */
#define FUNCTEST_CB_READ_CELL 13312    /* argument a column handle, out a FuncTestCell: reads
                                          the cell at row into value; 0 on success */
#define FUNCTEST_CB_WRITE_CELL 13313   /* argument a column handle, out a FuncTestCell: writes
                                          value into the cell at row */
#define FUNCTEST_CB_MARK_UPDATED 13319 /* argument a column handle, out a FuncTestRange: marks
                                          rows begin .. end - 1 updated */

/* Window message of the listing: wParam 0, lParam the address of the single-byte text
 * "type <name>", one message per registry row in table order. */
#define FUNCTEST_MSG_TYPE 1024

/* Commands. The name worked on is text for 17, 18, 19 and 20, name2 for 3073.
 *   18 with text "list" (any letter case): list the table, return 1.
 *   19 with "x": bind the x column named by source and take its row range; with "y": bind the
 *      y column named by source. Any other name returns 0.
 *   name "deriv": bind the twenty result columns data1_c .. data1_v (result columns 0 to 19).
 *   a table name: run that model with the parameters listed in text (tokens of letters,
 *      digits, '_', '-' and '.', separated by blanks or commas, each evaluated by the host;
 *      parameters not given are 0). Per row: y column = value with analytic derivatives
 *      requested, result columns 0..n-1 = analytic derivatives, column n = value, columns
 *      n+1..2n = numeric derivatives (n the row's parameter count); rows whose x cell cannot
 *      be read are skipped. */
#define FUNCTEST_CMD_LIST 18 /* with other text it acts as 17 and 20: the name is text */
#define FUNCTEST_CMD_BIND 19
#define FUNCTEST_CMD_RUN 3073 /* the name is name2 */

/* Cell record (16 bytes) and range record (16 bytes) passed through the callback. */
typedef struct FuncTestCell {
  int32_t row;
  int32_t unused;
  double value;
} FuncTestCell;
typedef struct FuncTestRange {
  uint64_t begin; /* first row */
  uint64_t end;   /* one past the last row */
} FuncTestRange;

/* Storage limits. FuncTest refuses (returns 0) rather than truncate: a token longer than
 * FUNCTEST_MAX_TOKEN characters or with any other character, more than FUNCTEST_MAX_PARAMS
 * parameter tokens, and a model with more than FUNCTEST_MAX_MODEL_PARAMS parameters (a run
 * uses 2n + 2 of the FUNCTEST_RESULT_COLUMNS result columns). The model sees x[1] = the x
 * cell and x[2], x[3] = 0, and has room for FUNCTEST_OUTPUT_SLOTS outputs and derivatives. */
#define FUNCTEST_MAX_TOKEN 31
#define FUNCTEST_MAX_PARAMS 31
#define FUNCTEST_RESULT_COLUMNS 20
#define FUNCTEST_MAX_MODEL_PARAMS 9
#define FUNCTEST_OUTPUT_SLOTS 31

/* Returns 1 on success, 0 on failure (an unknown command name, a column the host does not
 * provide, a model not in the table, a token the host cannot evaluate, a refusal above). */
FITMODELS_API int64_t FuncTest(FuncTestWindow window, const char *name2, const char *text,
                               intptr_t source, HostCallback callback, uint16_t command);

#ifdef __cplusplus
}
#endif

#endif /* FITMODELS_H */
