/* sigtrove engine: read access to WFDB (MIT-BIH) records.
 *
 * The calls, types and constants keep the names, signatures and structure
 * layouts of the WFDB library's C interface. They work on one default record
 * instance for the whole process; the engine's record objects (C++, in
 * record/record.h and annotations/annotation_file.h) are what the extension
 * module reads arrays and threads through, so the module needs this engine and
 * can not be built against another WFDB library.
 *
 * Strings that isigopen copies into a caller's WFDB_Siginfo (fname, desc,
 * units) are allocated with malloc(); the caller releases them with free().
 */
#ifndef WFDB_WFDB_H
#define WFDB_WFDB_H

#ifdef __cplusplus
extern "C" {
#endif

#define WFDB_MAJOR 10
#define WFDB_MINOR 7
#define WFDB_RELEASE 0

typedef int WFDB_Sample;
typedef long WFDB_Time;
typedef long WFDB_Date;
typedef double WFDB_Frequency;
typedef double WFDB_Gain;
typedef unsigned int WFDB_Group;
typedef unsigned int WFDB_Signal;
typedef unsigned int WFDB_Annotator;

#define WFDB_INVALID_SAMPLE (-32768)
#define WFDB_DEFFREQ 250.0
#define WFDB_DEFGAIN 200.0
#define WFDB_DEFRES 12

#define WFDB_READ 0
#define WFDB_WRITE 1
#define WFDB_AHA_READ 2
#define WFDB_AHA_WRITE 3
#define WFDB_APPEND 4

#define WFDB_LOWRES 0
#define WFDB_HIGHRES 1
#define WFDB_GVPAD 2

#define WFDB_MAXANN 2
#define WFDB_MAXSIG 32
#define WFDB_MAXSPF 4
#define WFDB_MAXRNL 50
#define WFDB_MAXUSL 50
#define WFDB_MAXDSL 100

typedef struct WFDB_siginfo {
    char *fname;    /* file name */
    char *desc;     /* signal description */
    char *units;    /* physical units; NULL means millivolts */
    WFDB_Gain gain; /* ADC units per physical unit; 0 means uncalibrated */
    WFDB_Sample initval;
    WFDB_Group group;
    int fmt;
    int spf;    /* samples per frame */
    int bsize;  /* block size in bytes */
    int adcres; /* ADC resolution in bits */
    int adczero;
    int baseline;
    long nsamp; /* frames in the record, 0 if unknown */
    int cksum;
} WFDB_Siginfo;

typedef struct WFDB_anninfo {
    char *name;
    int stat;
} WFDB_Anninfo;

typedef struct WFDB_ann {
    WFDB_Time time;
    char anntyp;
    signed char subtyp;
    unsigned char chan;
    signed char num;
    unsigned char *aux; /* length byte followed by that many bytes, or NULL */
} WFDB_Annotation;

/* Signals */
int isigopen(char *record, WFDB_Siginfo *siarray, int nsig);
WFDB_Frequency sampfreq(char *record);
WFDB_Frequency getcfreq(void);
int setgvmode(int mode);
int getvec(WFDB_Sample *vector);
int isigsettime(WFDB_Time t);

/* Time texts */
char *timstr(WFDB_Time t);
char *mstimstr(WFDB_Time t);
WFDB_Time strtim(char *string);

/* Annotations */
int annopen(char *record, WFDB_Anninfo *aiarray, unsigned int nann);
int getann(WFDB_Annotator an, WFDB_Annotation *annot);
int iannsettime(WFDB_Time t);
char *annstr(int code);
int strann(char *s);
char *anndesc(int code);

/* Errors and process state */
char *wfdberror(void);
void wfdbquiet(void);
void wfdbverbose(void);

#ifdef __cplusplus
}
#endif

#endif
