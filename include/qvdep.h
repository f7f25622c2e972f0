/*
 * qvdep.h — binary interface of the qvdep cross-sectional dependence module.
 *
 * A host loads the module, records its service table with qvextent() or
 * qvextver(), asks qvdep() for an ExtensionDescriptor, makes TestInstances
 * through descriptor->create_instance, and calls instance->run with a
 * DependenceRequest. Every record below is exchanged by byte offset: the
 * offsets are part of the interface and are pinned by the static asserts at
 * the end of this file. All pointers and operation slots are 64 bits wide.
 *
 * Fields named reserved* are never read or written by the module.
 */
#ifndef QVDEP_H
#define QVDEP_H

#ifdef __cplusplus
#include <cstddef>
#include <cstdint>
#include <cstring>
#else
#include <stddef.h>
#include <stdint.h>
#include <string.h>
#endif
#include <xmmintrin.h> /* the trap setting lives in the SSE control register */

#ifdef __cplusplus
extern "C" {
#endif

#if defined(_WIN32)
#define QVDEP_EXPORT __declspec(dllexport)
#else
#define QVDEP_EXPORT __attribute__((visibility("default")))
#endif

typedef struct HostServices HostServices;
typedef struct LocaleServices LocaleServices;
typedef struct HostPool HostPool;
typedef struct HostJournal HostJournal;
typedef struct ExtensionDescriptor ExtensionDescriptor;
typedef struct TestInstance TestInstance;
typedef struct DependenceRequest DependenceRequest;

/* ---- Host side: the services the module calls ------------------------- */

/* Parameters of create_pool: three zero words. */
typedef struct PoolParams {
  uint64_t word[3];
} PoolParams;

/* Parameters of create_journal. */
typedef struct JournalParams {
  uint64_t first;        /* 0 */
  uint64_t capacity;     /* 1024000 */
  uint32_t one;          /* 1 */
  uint32_t zero;         /* 0 */
  void *locale;          /* the instance's locale handle */
  uint64_t reserved[7];  /* zero */
} JournalParams;

/* Flag word the module passes with every alloc. */
#define QVDEP_ALLOC_FLAGS 0x80000000u

struct HostPool {
  void *reserved0[2];
  void (*destroy)(HostPool *pool);                              /* 16 */
  void *(*alloc)(HostPool *pool, uint64_t size, uint32_t flags); /* 24 */
  void (*free)(HostPool *pool, void *block);                    /* 32 */
};

struct HostJournal {
  void *reserved0[2];
  void (*close)(HostJournal *journal); /* 16 */
};

struct LocaleServices {
  void *reserved0[33];
  /* name is UTF-16 without terminator requirement; length in characters. */
  void *(*lookup_locale)(LocaleServices *locale_services, const uint16_t *name,
                         int64_t length); /* 264 */
};

struct HostServices {
  void *reserved0[5];
  HostJournal *(*create_journal)(HostServices *services,
                                 const JournalParams *params, void *context,
                                 const char *name); /* 40 */
  HostPool *(*create_pool)(HostServices *services, const PoolParams *params,
                           void *context, const char *name); /* 48 */
  void *reserved1[20];
  LocaleServices *locale_services; /* 216 */
};

/* ---- Module side: the descriptor and the instance --------------------- */

#define QVDEP_DESCRIPTION_LENGTH 28 /* "QRM/PLX Panel Unit Root Test", no NUL */

struct ExtensionDescriptor {
  unsigned char reserved0[24];
  int32_t (*interface_version)(ExtensionDescriptor *self, uint64_t *a,
                               uint64_t *b, uint64_t *c); /* 24: 5, 1, 1 */
  int32_t (*module_version)(ExtensionDescriptor *self, uint64_t *a,
                            uint64_t *b, uint64_t *c); /* 32: 1, 0, 0 */
  unsigned char reserved1[8];
  int32_t (*release)(ExtensionDescriptor *self); /* 48 */
  unsigned char reserved2[16];
  HostPool *pool;                               /* 72 */
  char description[QVDEP_DESCRIPTION_LENGTH];   /* 80 */
  unsigned char reserved3[20];
  TestInstance *(*create_instance)(void *context); /* 128 */
};

struct TestInstance {
  HostPool *pool;        /* 0: holds the instance and every work buffer */
  void *locale;          /* 8: lookup_locale("en_US") */
  HostJournal *journal;  /* 16: "qvdepJnl" */
  unsigned char reserved0[16];
  void (*destroy)(TestInstance *self);                             /* 40 */
  int32_t (*run)(TestInstance *self, DependenceRequest *request);  /* 48 */
};

/* Build identification copied out by qvrelct1: 26 slots of 8 bytes. Slot 3
 * is a number (seconds since 1970-01-01 UTC); every other slot is a pointer
 * to a constant NUL-terminated string or null. */
typedef union VersionSlot {
  const char *text;
  int64_t number;
} VersionSlot;

#define QVDEP_VERSION_SLOTS 26
typedef struct VersionRecord {
  VersionSlot slot[QVDEP_VERSION_SLOTS];
} VersionRecord;

/* ---- The request ------------------------------------------------------ */

/* A panel value is missing when its top 16 bits are all ones, whatever the
 * other 48 hold. Missing results written by the module carry this quiet-NaN
 * pattern. */
#define QVDEP_MISSING_RESULT_BITS 0xFFFFD10000000000ull

/* The missing-value test, on the bits alone: it never touches the
 * floating-point unit, so it cannot trap on a NaN. */
static inline int qvdep_is_missing(double value) {
  uint64_t bits;
  memcpy(&bits, &value, sizeof bits);
  return (bits >> 48) == 0xFFFFu;
}

/*
 * Panel: for cross-section i (1..N) and period t (1..T), K regressor values
 * then the dependent value, at element ((i-1)*T + (t-1))*(K+1) + v.
 * Restriction r: sum_s restriction_coef[r*(K+c) + s] * beta_s
 *                  = restriction_rhs[r]; column 0 is the intercept when c = 1.
 * Correlations: packed lower triangle of an N-by-N matrix, element (i, j) at
 * min(i,j) + max(i,j)*(max(i,j)+1)/2; left in the instance's pool.
 */
struct DependenceRequest {
  const double *panel;              /*   0 host */
  int32_t n_sections;               /*   8 host: N */
  int32_t n_periods;                /*  12 host: T */
  int32_t n_regressors;             /*  16 host: K */
  int32_t n_intercept;              /*  20 host: c, 0 or 1 */
  int32_t n_restrictions;           /*  24 host: h */
  int32_t reserved0;                /*  28 */
  const double *restriction_rhs;    /*  32 host: h values */
  const double *restriction_coef;   /*  40 host: h rows of K + c */
  int32_t cdp_order;                /*  48 host: p */
  int32_t reserved1;                /*  52 */
  double *sscp;                     /*  56 work */
  double *sscp_saved;               /*  64 work */
  int32_t intercept_copy;           /*  72 module: c */
  int32_t reserved2;                /*  76 */
  char *pivot_flags;                /*  80 work */
  double *sweep_work;               /*  88 work */
  double *row;                      /*  96 work */
  int32_t status;                   /* 104 module: cleared per cross-section */
  int32_t near_perfect_fit;         /* 108 host clears, module sets to 1 */
  unsigned char reserved3[8];       /* 112 */
  double cd_pvalue;                 /* 120 */
  double cd;                        /* 128 */
  double lm;                        /* 136 */
  double lm_pvalue;                 /* 144 may be missing */
  double scaled_lm;                 /* 152 */
  double scaled_lm_pvalue;          /* 160 */
  double *correlations;             /* 168 */
  double cdp;                       /* 176 */
  double cdp_pvalue;                /* 184 */
};

/*
 * The work buffers run() takes from the instance's pool, one block each, in
 * this order after the instance's own block; a pool that refuses one ends
 * the run with QVDEP_RUN_POOL_REFUSED. Every one but the correlations is
 * given back with free before run() returns. A host that wants the
 * residuals copies the QVDEP_BUFFER_RESIDUALS-th block when it is freed: it
 * holds N*T doubles period-major, the residual of cross-section i (0-based)
 * at period t at element t*N + i, missing where the cross-section has no
 * complete observation at that period.
 */
enum {
  QVDEP_BUFFER_ROW = 0,          /* K + c + 1 doubles */
  QVDEP_BUFFER_SWEEP_WORK = 1,   /* K + c + h + 1 doubles */
  QVDEP_BUFFER_PIVOT_FLAGS = 2,  /* K + c + h + 1 bytes */
  QVDEP_BUFFER_SSCP = 3,         /* packed (m + 1)m/2 doubles, m = K + c + h + 1 */
  QVDEP_BUFFER_SSCP_SAVED = 4,   /* the same */
  QVDEP_BUFFER_RESIDUALS = 5,    /* N*T doubles, period-major */
  QVDEP_BUFFER_COEFFICIENTS = 6, /* K + c doubles */
  QVDEP_BUFFER_CORRELATIONS = 7, /* N(N + 1)/2 doubles, left with the host */
  QVDEP_RUN_BUFFERS = 8
};

/*
 * Which pairs of cross-sections are correlated. Over the periods T_ij where
 * both residuals of cross-sections i and j are present, the pair is usable
 * when T_ij > 0 and both residual sums of squares over those periods,
 * S_ii and S_jj, exceed this threshold (ordinary comparisons: a NaN sum
 * makes no pair usable). A usable pair's cell of the correlations holds
 * rho_ij; an unusable pair's cell holds a raw cross-product sum and enters
 * no statistic.
 */
#define QVDEP_MIN_SUM_OF_SQUARES 1e-12

/*
 * Whether run() can take a request of these dimensions: counts not
 * negative, c 0 or 1, and every product the module forms in 32 bits below
 * 2^31: N*T, N*(N + 1) and m*(m + 1) with m = K + c + h + 1. run() refuses
 * anything else with QVDEP_RUN_INVALID_REQUEST, so a host can check first.
 */
static inline int qvdep_product_fits_int32(int64_t a, int64_t b) {
  return b == 0 || a <= INT32_MAX / b; /* a*b <= 2^31 - 1, for a, b >= 0 */
}

static inline int qvdep_dimensions_fit(int64_t n, int64_t t, int64_t k, int64_t c,
                                       int64_t h) {
  if (n < 0 || t < 0 || k < 0 || h < 0 || (c != 0 && c != 1)) return 0;
  if (k > INT32_MAX || h > INT32_MAX) return 0;
  const int64_t m = k + c + h + 1; /* at most 2^32 + 1, no overflow */
  return qvdep_product_fits_int32(m, m + 1) && qvdep_product_fits_int32(n, t) &&
         qvdep_product_fits_int32(n, n + 1);
}

/* run() results. */
#define QVDEP_RUN_OK 0
#define QVDEP_RUN_POOL_REFUSED 1
#define QVDEP_RUN_INVALID_REQUEST 2 /* bad dimensions: nothing taken or written */

/* ---- Floating-point faults raised into the host ------------------------ */

#define QVDEP_EXCEPTION_FLT_DIVIDE_BY_ZERO 0xC000008Eu
#define QVDEP_EXCEPTION_FLT_INVALID_OPERATION 0xC0000090u
#define QVDEP_EXCEPTION_FLT_OVERFLOW 0xC0000091u
#define QVDEP_EXCEPTION_FLT_UNDERFLOW 0xC0000093u /* log of a negative number */
#define QVDEP_EXCEPTION_DOMAIN_ERROR 0xE0000001u

/* The host's trap setting, the whole SSE control register (MXCSR) the
 * module expects: invalid operation, division by zero and overflow trap;
 * denormal, underflow and inexact are masked; no flag set, round to
 * nearest, no flushing. Bits 7..12 are the mask field. */
#define QVDEP_MXCSR_TRAP_SETTING 0x1900u
#define QVDEP_MXCSR_MASK_FIELD 0x1F80u

/* Puts the calling thread in the trap setting and returns its previous
 * control register, for qvdep_leave_trap_setting. */
static inline unsigned qvdep_enter_trap_setting(void) {
  const unsigned saved = _mm_getcsr();
  _mm_setcsr(QVDEP_MXCSR_TRAP_SETTING);
  return saved;
}

static inline void qvdep_leave_trap_setting(unsigned saved) { _mm_setcsr(saved); }

/* ---- Exported entry points --------------------------------------------- */

QVDEP_EXPORT int32_t qvextent(HostServices *services);
QVDEP_EXPORT int32_t qvextver(HostServices *services, uint64_t *major,
                              uint64_t *minor);
QVDEP_EXPORT ExtensionDescriptor *qvdep(void *unused, void *context);
QVDEP_EXPORT int32_t qvrelct1(void *buffer /* 208 bytes */);

/* On systems without structured exceptions, each fault code is delivered to
 * this handler; when it returns, the module resumes after the fault as a
 * continued exception would. With no handler the module raises SIGFPE.
 * Windows has structured exceptions, so the DLL does not export it. */
typedef void (*QvdepExceptionHandler)(uint32_t code, void *context);
#if !defined(_WIN32)
QVDEP_EXPORT void qvdep_set_exception_handler(QvdepExceptionHandler handler,
                                              void *context);
#endif

/* ---- Layout ------------------------------------------------------------ */

#ifdef __cplusplus
#define QVDEP_STATIC_ASSERT static_assert
#else
#define QVDEP_STATIC_ASSERT _Static_assert
#endif

QVDEP_STATIC_ASSERT(sizeof(void *) == 8, "64-bit pointers");
QVDEP_STATIC_ASSERT(sizeof(PoolParams) == 24, "PoolParams");
QVDEP_STATIC_ASSERT(sizeof(JournalParams) == 88, "JournalParams");
QVDEP_STATIC_ASSERT(offsetof(JournalParams, capacity) == 8, "JournalParams");
QVDEP_STATIC_ASSERT(offsetof(JournalParams, one) == 16, "JournalParams");
QVDEP_STATIC_ASSERT(offsetof(JournalParams, zero) == 20, "JournalParams");
QVDEP_STATIC_ASSERT(offsetof(JournalParams, locale) == 24, "JournalParams");
QVDEP_STATIC_ASSERT(offsetof(JournalParams, reserved) == 32, "JournalParams");
QVDEP_STATIC_ASSERT(offsetof(HostPool, destroy) == 16, "HostPool");
QVDEP_STATIC_ASSERT(offsetof(HostPool, alloc) == 24, "HostPool");
QVDEP_STATIC_ASSERT(offsetof(HostPool, free) == 32, "HostPool");
QVDEP_STATIC_ASSERT(offsetof(HostJournal, close) == 16, "HostJournal");
QVDEP_STATIC_ASSERT(offsetof(LocaleServices, lookup_locale) == 264, "Locale");
QVDEP_STATIC_ASSERT(offsetof(HostServices, create_journal) == 40, "Services");
QVDEP_STATIC_ASSERT(offsetof(HostServices, create_pool) == 48, "Services");
QVDEP_STATIC_ASSERT(offsetof(HostServices, locale_services) == 216, "Services");
QVDEP_STATIC_ASSERT(sizeof(ExtensionDescriptor) == 136, "Descriptor");
QVDEP_STATIC_ASSERT(offsetof(ExtensionDescriptor, interface_version) == 24, "Descriptor");
QVDEP_STATIC_ASSERT(offsetof(ExtensionDescriptor, module_version) == 32, "Descriptor");
QVDEP_STATIC_ASSERT(offsetof(ExtensionDescriptor, release) == 48, "Descriptor");
QVDEP_STATIC_ASSERT(offsetof(ExtensionDescriptor, pool) == 72, "Descriptor");
QVDEP_STATIC_ASSERT(offsetof(ExtensionDescriptor, description) == 80, "Descriptor");
QVDEP_STATIC_ASSERT(offsetof(ExtensionDescriptor, reserved3) == 108, "Descriptor");
QVDEP_STATIC_ASSERT(offsetof(ExtensionDescriptor, create_instance) == 128, "Descriptor");
QVDEP_STATIC_ASSERT(sizeof(TestInstance) == 56, "TestInstance");
QVDEP_STATIC_ASSERT(offsetof(TestInstance, locale) == 8, "TestInstance");
QVDEP_STATIC_ASSERT(offsetof(TestInstance, journal) == 16, "TestInstance");
QVDEP_STATIC_ASSERT(offsetof(TestInstance, destroy) == 40, "TestInstance");
QVDEP_STATIC_ASSERT(offsetof(TestInstance, run) == 48, "TestInstance");
QVDEP_STATIC_ASSERT(sizeof(VersionRecord) == 208, "VersionRecord");
QVDEP_STATIC_ASSERT(sizeof(DependenceRequest) == 192, "DependenceRequest");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, n_sections) == 8, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, n_periods) == 12, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, n_regressors) == 16, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, n_intercept) == 20, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, n_restrictions) == 24, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, restriction_rhs) == 32, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, restriction_coef) == 40, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, cdp_order) == 48, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, sscp) == 56, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, sscp_saved) == 64, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, intercept_copy) == 72, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, pivot_flags) == 80, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, sweep_work) == 88, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, row) == 96, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, status) == 104, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, near_perfect_fit) == 108, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, cd_pvalue) == 120, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, cd) == 128, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, lm) == 136, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, lm_pvalue) == 144, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, scaled_lm) == 152, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, scaled_lm_pvalue) == 160, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, correlations) == 168, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, cdp) == 176, "Request");
QVDEP_STATIC_ASSERT(offsetof(DependenceRequest, cdp_pvalue) == 184, "Request");

#ifdef __cplusplus
} /* extern "C" */
#endif

#endif /* QVDEP_H */
