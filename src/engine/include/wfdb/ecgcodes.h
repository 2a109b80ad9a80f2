/* Annotation codes of the WFDB format. */
#ifndef WFDB_ECGCODES_H
#define WFDB_ECGCODES_H

#define NOTQRS 0
#define NORMAL 1
#define LBBB 2
#define RBBB 3
#define ABERR 4
#define PVC 5
#define FUSION 6
#define NPC 7
#define APC 8
#define SVPB 9
#define VESC 10
#define NESC 11
#define PACE 12
#define UNKNOWN 13
#define NOISE 14
#define ARFCT 16
#define STCH 18
#define TCH 19
#define SYSTOLE 20
#define DIASTOLE 21
#define NOTE 22
#define MEASURE 23
#define PWAVE 24
#define BBB 25
#define PACESP 26
#define TWAVE 27
#define RHYTHM 28
#define UWAVE 29
#define LEARN 30
#define FLWAV 31
#define VFON 32
#define VFOFF 33
#define AESC 34
#define SVESC 35
#define LINK 36
#define NAPC 37
#define PFUS 38
#define WFON 39
#define PQ WFON
#define WFOFF 40
#define JPT WFOFF
#define RONT 41

#define ACMAX 49

#endif
