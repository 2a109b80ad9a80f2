/* QRS classification of annotation codes. */
#ifndef WFDB_ECGMAP_H
#define WFDB_ECGMAP_H

#include "ecgcodes.h"

#ifdef __cplusplus
extern "C" {
#endif

/* 1 for beat (QRS) codes 1..ACMAX, 0 for every other entry. */
extern const char wfdb_qrs_table[ACMAX + 1];

#ifdef __cplusplus
}
#endif

#define isqrs(A) ((A) >= 1 && (A) <= ACMAX ? wfdb_qrs_table[(A)] : 0)

#endif
