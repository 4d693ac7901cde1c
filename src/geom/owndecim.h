// Decimation kernels: integer fixed point with 8 fractional bits.
#pragma once

#include "geom/owngeom.h"

namespace vex {

// Coordinate tables of one call, in source-region coordinates.
struct OwnDecimPlan {
    int sW, sH;
    int W, H;
    int interp;
    bool xFrac, yFrac;  // false: the ratio is an integer, every fraction is 0
    // Per destination column / row: nearest neighbour the sample; linear the
    // left (upper) tap, the right (lower) tap kept inside the region and the
    // fraction; cubic the four taps kept inside the region and the fraction.
    int* colTap[4];
    int* rowTap[4];
    int* colF;
    int* rowF;
    // Linear: per element of a destination row (pixel j, channel c at
    // j * nc + c) the two taps' element indices and the fraction; room for
    // one vertically blended source row and one destination row.
    int nc, ps;
    int* elemAt0;
    int* elemAt1;
    int* elemF;
    uint32_t* irow;
    uint32_t* out;
};

// Fills the tables: coordinates start at the region's edge (plus half a
// pixel for nearest neighbour when the ratio is not an integer) and advance
// by floor(256 * L / U).
void ownDecimTables(OwnDecimPlan& p, int xU, int xL, int yU, int yL);

// Writes the piece `pc` of the processed rectangle.
void ownDecimPiece(const OwnDecimPlan& p, unsigned depth, const OwnPix& s, const OwnPix& d,
                   const OwnRect& pc, OwnLanesGeo lanes);

}  // namespace vex
