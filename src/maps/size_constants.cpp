// Published size constants of the relay maps. Nothing in the library reads
// them; applications size their state arrays and loops with them. Kept in a
// file of their own so that a program compiling the maps into itself does
// not get a second definition.
#include "KORVAX.h"

int32_t MATRIXARRAYSIZE = 32;           // state words of a base-family sub-unit
int32_t MATRIX8340SPICOUNT = 12;        // driver words of a base-family card
int32_t MATRIXPOINTCOUNT = 600;         // 12 rows x 10 columns x 5 cards
int32_t QD2_SUBMATRIXCOL = 7;           // first column of the second row-isolation relay
int32_t QD3_SUBMATRIXCOL = 7;
int32_t QD3_MATRIXPOINTCOUNT = 800;
int32_t QD3C_SUBMATRIXCOL = 7;
int32_t QD3C_MATRIXPOINTCOUNT = 800;
int32_t QD3Mix_SUBMATRIXCOL = 7;
int32_t QD3Mix_MATRIXPOINTCOUNT = 800;
