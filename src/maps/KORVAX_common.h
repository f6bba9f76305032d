// Relay maps of every card family: where each crosspoint, isolation,
// cascade and input relay sits in the card's block of 16-bit relay-driver
// words. Built by InitPointInfo, read through GetPoint.
#pragma once

#include <stdbool.h>
#include <stdint.h>

#include "base/export.h"

#ifdef __cplusplus
extern "C" {
#endif

// One relay: driver word inside the card's block and bit in that word. The
// QD3C input tables keep (bank, word, bit) in the three fields instead.
typedef struct LocationEntry {
    int32_t word;
    int32_t bit;
    int32_t aux;
} LocationEntry;

// Result of one lookup.
typedef struct PointLocation {
    int32_t word;
    int32_t bit;
} PointLocation;

// Relay group codes: which relay of a crosspoint a lookup asks for.
enum RelayGroup {
    MATRIX = 0, MATRIX_A = 1, MATRIX_B = 2, MATRIX_C = 3, MATRIX_D = 4,
    ISO_X = 5, ISO_Y = 6, ISO_CV = 7,
    ISO_X_A = 8, ISO_Y_A = 9, ISO_X_B = 10, ISO_Y_B = 11,
    ISO_X_C = 12, ISO_Y_C = 13, ISO_X_D = 14, ISO_Y_D = 15,
    IN_A = 16, IN_B = 17, IN_C = 18, IN_D = 19,
    CASCADE_A = 20, CASCADE_B = 21, CASCADE_C = 22, CASCADE_D = 23,
    ISO_LT = 24
};

// Builds every table (same values each time; safe from any thread).
KORVAX_INTERNAL void InitPointInfo(void);
// Copies the relay of (boardType, group, row, col) into *out; an unknown
// board type or group, or a row or column outside the table, leaves *out
// untouched. Always returns 0.
KORVAX_INTERNAL int32_t GetPoint(uint32_t boardType, int32_t group, uint32_t row, uint32_t col,
                                 PointLocation *out);
// True for board types 4, 5, 6, and for type 10 below row 8.
KORVAX_INTERNAL bool IsOpenCascade(uint32_t boardType, int32_t row);

// ---- tables (the three base-family tables are private to the maps) ----
KORVAX_INTERNAL LocationEntry RQ521_matrixLocation[10][12];
KORVAX_INTERNAL LocationEntry RQ521_isoLocationX[10][12];
KORVAX_INTERNAL LocationEntry RQ521_isoLocationY[10][12];
KORVAX_INTERNAL LocationEntry RQ521_isoLocationCV[10][12];
KORVAX_INTERNAL LocationEntry RQ522_matrixLocation[16][96];
KORVAX_INTERNAL LocationEntry RQ522_isoLocationY[16][96];
KORVAX_INTERNAL LocationEntry RQ523_matrixLocation[8][12];
KORVAX_INTERNAL LocationEntry RQ523_isoLocationX[8][12];
KORVAX_INTERNAL LocationEntry RQ523_isoLocationY[8][12];
KORVAX_INTERNAL LocationEntry RQ523_isoLocationCV[8][12];
KORVAX_INTERNAL LocationEntry RQ523_isoLocationLT[8][12];

KORVAX_INTERNAL LocationEntry QD2_matrixLocationAB[8][13];
KORVAX_INTERNAL LocationEntry QD2_isoLocationX_AB[8][13];
KORVAX_INTERNAL LocationEntry QD2_isoLocationY_AB[8][13];
KORVAX_INTERNAL LocationEntry QD2_matrixLocationC[8][12];
KORVAX_INTERNAL LocationEntry QD2_isoLocationX_C[8][12];
KORVAX_INTERNAL LocationEntry QD2_isoLocationY_C[8][12];
KORVAX_INTERNAL LocationEntry QD2_matrixLocationD[8][12];
KORVAX_INTERNAL LocationEntry QD2_isoLocationX_D[8][12];
KORVAX_INTERNAL LocationEntry QD2_isoLocationY_D[8][12];
KORVAX_INTERNAL LocationEntry QD2_cascadeLocation_AB[8];
KORVAX_INTERNAL LocationEntry QD2_cascadeLocation_CD[8];

KORVAX_INTERNAL LocationEntry QD3_matrixLocationAB[16][13];
KORVAX_INTERNAL LocationEntry QD3_isoLocationX_AB[16][13];
KORVAX_INTERNAL LocationEntry QD3_isoLocationY_AB[16][13];
KORVAX_INTERNAL LocationEntry QD3_matrixLocationCD[16][12];
KORVAX_INTERNAL LocationEntry QD3_isoLocationX_CD[16][12];
KORVAX_INTERNAL LocationEntry QD3_isoLocationY_C[16][12];
KORVAX_INTERNAL LocationEntry QD3_isoLocationY_D[16][12];
KORVAX_INTERNAL LocationEntry QD3_cascadeLocation_AB[16];
KORVAX_INTERNAL LocationEntry QD3_cascadeLocation_CD[16];

KORVAX_INTERNAL LocationEntry QD3CNew_matrixLocationAB[16][13];
KORVAX_INTERNAL LocationEntry QD3CNew_isoLocationX_AB[16][13];
KORVAX_INTERNAL LocationEntry QD3CNew_isoLocationY_AB[16][13];
KORVAX_INTERNAL LocationEntry QD3CNew_IN_AB[16][13];
KORVAX_INTERNAL LocationEntry QD3CNew_matrixLocationCD[16][12];
KORVAX_INTERNAL LocationEntry QD3CNew_isoLocationX_CD[16][12];
KORVAX_INTERNAL LocationEntry QD3CNew_isoLocationY_CD[16][12];
KORVAX_INTERNAL LocationEntry QD3CNew_IN_CD[16][12];
KORVAX_INTERNAL LocationEntry QD3CNew_cascadeLocation_AB[16];
KORVAX_INTERNAL LocationEntry QD3CNew_cascadeLocation_CD[16];

KORVAX_INTERNAL LocationEntry QD3C_matrixLocationAB[16][13];
KORVAX_INTERNAL LocationEntry QD3C_isoLocationX_AB[16][13];
KORVAX_INTERNAL LocationEntry QD3C_isoLocationY_AB[16][13];
KORVAX_INTERNAL LocationEntry QD3C_matrixLocationCD[16][12];
KORVAX_INTERNAL LocationEntry QD3C_isoLocationX_CD[16][12];
KORVAX_INTERNAL LocationEntry QD3C_isoLocationY_CD[16][12];
KORVAX_INTERNAL LocationEntry QD3C_IN_A[16][13];
KORVAX_INTERNAL LocationEntry QD3C_IN_B[16][50];
KORVAX_INTERNAL LocationEntry QD3C_IN_C[16][12];
KORVAX_INTERNAL LocationEntry QD3C_IN_D[16][12];
KORVAX_INTERNAL LocationEntry QD3C_cascadeLocation_AB[16];
KORVAX_INTERNAL LocationEntry QD3C_cascadeLocation_CD[16];
KORVAX_INTERNAL LocationEntry QD3C_IN_AB[16][13];
KORVAX_INTERNAL LocationEntry QD3C_IN_CD[16][12];

KORVAX_INTERNAL LocationEntry matrixAPLocation[112];
KORVAX_INTERNAL LocationEntry matrixAP_520BLocation[112];

// ---- builders: each writes only its own table ----
KORVAX_INTERNAL void setMatrixLocation(void);
KORVAX_INTERNAL void setISOLocationRow(void);
KORVAX_INTERNAL void setISOLocationColumn(void);
KORVAX_INTERNAL void setQD2_matrixLocationAB(void);
KORVAX_INTERNAL void setISORFLocationRowAB(void);
KORVAX_INTERNAL void setISORFLocationColumnAB(void);
KORVAX_INTERNAL void setQD2_matrixLocationC(void);
KORVAX_INTERNAL void setISORFLocationRowC(void);
KORVAX_INTERNAL void setISORFLocationColumnC(void);
KORVAX_INTERNAL void setQD2_matrixLocationD(void);
KORVAX_INTERNAL void setISORFLocationRowD(void);
KORVAX_INTERNAL void setISORFLocationColumnD(void);
KORVAX_INTERNAL void setCascadeLocaionAB(void);
KORVAX_INTERNAL void setCascadeLocaionCD(void);
KORVAX_INTERNAL void setMatrixAPLocation(void);
KORVAX_INTERNAL void setMatrixAP_520BLocation(void);
KORVAX_INTERNAL void QD3_setCascadeLocaionAB(void);
KORVAX_INTERNAL void QD3_setCascadeLocaionCD(void);
KORVAX_INTERNAL void QD3_setmatrixLocationAB(void);
KORVAX_INTERNAL void QD3_setISOLocationColumnAB(void);
KORVAX_INTERNAL void QD3_setISOLocationRowAB(void);
KORVAX_INTERNAL void QD3_setmatrixLocationCD(void);
KORVAX_INTERNAL void QD3_setISOLocationColumnCD(void);
KORVAX_INTERNAL void QD3_setISOLocationRowC(void);
KORVAX_INTERNAL void QD3_setISOLocationRowD(void);
KORVAX_INTERNAL void QD3CNew_setInAB(void);
KORVAX_INTERNAL void QD3CNew_setInCD(void);
KORVAX_INTERNAL void QD3CNew_setmatrixLocationAB(void);
KORVAX_INTERNAL void QD3CNew_setISOLocationColumnAB(void);
KORVAX_INTERNAL void QD3CNew_setISOLocationRowAB(void);
KORVAX_INTERNAL void QD3CNew_setmatrixLocationCD(void);
KORVAX_INTERNAL void QD3CNew_setISOLocationColumnCD(void);
KORVAX_INTERNAL void QD3CNew_setISOLocationRowCD(void);
KORVAX_INTERNAL void QD3C_setInA(void);
KORVAX_INTERNAL void QD3C_setInB(void);
KORVAX_INTERNAL void QD3C_setInC(void);
KORVAX_INTERNAL void QD3C_setInD(void);
KORVAX_INTERNAL void QD3C_setmatrixLocationAB(void);
KORVAX_INTERNAL void QD3C_setISOLocationColumnAB(void);
KORVAX_INTERNAL void QD3C_setISOLocationRowAB(void);
KORVAX_INTERNAL void QD3C_setmatrixLocationCD(void);
KORVAX_INTERNAL void QD3C_setISOLocationColumnCD(void);
KORVAX_INTERNAL void QD3C_setISOLocationRowCD(void);
KORVAX_INTERNAL void RQ521_setMatrixLocation(void);
KORVAX_INTERNAL void RQ521_setisoLocationX(void);
KORVAX_INTERNAL void RQ521_setisoLocationY(void);
KORVAX_INTERNAL void RQ521_setCV(void);
KORVAX_INTERNAL void RQ522_setMatrixLocation(void);
KORVAX_INTERNAL void RQ522_setisoLocationY(void);
KORVAX_INTERNAL void RQ523_setMatrixLocation(void);
KORVAX_INTERNAL void RQ523_setisoLocationX(void);
KORVAX_INTERNAL void RQ523_setisoLocationY(void);
KORVAX_INTERNAL void RQ523_setisoLocationCV(void);
KORVAX_INTERNAL void RQ523_setisoLocationLT(void);

#ifdef __cplusplus
}
#endif
