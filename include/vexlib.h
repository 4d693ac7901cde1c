/*
 * vexlib - general-purpose image processing library.
 *
 * The one public header: every record, constant and exported function.
 * Usable from C (C99 and later) and C++.
 *
 * Conventions used throughout:
 *   - every function reports failures through vexError(); query the
 *     thread's status with vexGetErrStatus() after a call;
 *   - heights are stored and passed before widths;
 *   - the channel of interest (coi) is 1-based, 0 meaning all channels.
 */
#ifndef VEXLIB_H
#define VEXLIB_H

#ifdef __cplusplus
extern "C" {
#endif

#if defined(VEXLIB_BUILDING)
#define VEXAPI __attribute__((visibility("default")))
#else
#define VEXAPI
#endif

/* ------------------------------------------------------------------ */
/* Status codes, error modes, report functions                         */
/* ------------------------------------------------------------------ */

#define VEX_StsOk          0
#define VEX_StsBackTrace  -1
#define VEX_StsError      -2
#define VEX_StsInternal   -3
#define VEX_StsNoMem      -4
#define VEX_StsBadArg     -5
#define VEX_StsBadFunc    -6
#define VEX_StsNoConv     -7
#define VEX_StsAutoTrace  -8

#define VEX_ErrModeLeaf    0
#define VEX_ErrModeParent  1
#define VEX_ErrModeSilent  2

/* A report function: the same five arguments vexError received. */
typedef int VexErrorReport(int status, const char* funcName, const char* context,
                           const char* file, int line);

/* The per-thread context; opaque to callers. */
typedef struct VexContext VexContext;

VEXAPI int  vexGetErrStatus(void);
VEXAPI void vexSetErrStatus(int status);
VEXAPI int  vexGetErrMode(void);
VEXAPI void vexSetErrMode(int mode);
VEXAPI VexErrorReport* vexRedirectError(VexErrorReport* fn);
VEXAPI int  vexError(int status, const char* funcName, const char* context,
                     const char* file, int line);
VEXAPI const char* vexErrorStr(int status);
VEXAPI VexContext* vexUndContext(void);
VEXAPI int vexGuiBoxReport(int status, const char* funcName, const char* context,
                           const char* file, int line);
VEXAPI int vexStdErrReport(int status, const char* funcName, const char* context,
                           const char* file, int line);
VEXAPI int vexNulDevReport(int status, const char* funcName, const char* context,
                           const char* file, int line);

/* ------------------------------------------------------------------ */
/* Memory and version                                                  */
/* ------------------------------------------------------------------ */

typedef struct VexLibVersion {
    int         majorVersion;
    int         minorVersion;
    int         buildNumber;
    const char* fileName;
    const char* versionText;
    const char* releaseStamp;
    const char* compileDate;
    const char* linkage;
} VexLibVersion;

VEXAPI void*   vexMalloc(int length);
VEXAPI short*  vexwMalloc(int length);
VEXAPI int*    vexiMalloc(int length);
VEXAPI float*  vexsMalloc(int length);
VEXAPI double* vexdMalloc(int length);
VEXAPI void    vexFree(void* ptr);
VEXAPI const VexLibVersion* vexGetLibVersion(void);

/* ------------------------------------------------------------------ */
/* Image header                                                        */
/* ------------------------------------------------------------------ */

#define VEX_DEPTH_SIGN 0x80000000u
#define VEX_DEPTH_1U   1u
#define VEX_DEPTH_8U   8u
#define VEX_DEPTH_8S   (VEX_DEPTH_SIGN | 8u)
#define VEX_DEPTH_16U  16u
#define VEX_DEPTH_16S  (VEX_DEPTH_SIGN | 16u)
#define VEX_DEPTH_32S  (VEX_DEPTH_SIGN | 32u)

#define VEX_DATA_ORDER_PIXEL 0
#define VEX_DATA_ORDER_PLANE 1

#define VEX_ORIGIN_TL 0
#define VEX_ORIGIN_BL 1

#define VEX_IMAGE_HEADER 1
#define VEX_IMAGE_DATA   2
#define VEX_IMAGE_ROI    4
#define VEX_IMAGE_TILE   8
#define VEX_IMAGE_MASK   16
#define VEX_IMAGE_ALL    (VEX_IMAGE_HEADER | VEX_IMAGE_DATA | VEX_IMAGE_ROI | VEX_IMAGE_TILE | VEX_IMAGE_MASK)

#define VEX_BORDER_CONSTANT  0
#define VEX_BORDER_REPLICATE 1
#define VEX_BORDER_REFLECT   2
#define VEX_BORDER_WRAP      3

#define VEX_SIDE_TOP    1
#define VEX_SIDE_BOTTOM 2
#define VEX_SIDE_LEFT   4
#define VEX_SIDE_RIGHT  8
#define VEX_SIDE_ALL    (VEX_SIDE_TOP | VEX_SIDE_BOTTOM | VEX_SIDE_LEFT | VEX_SIDE_RIGHT)

/* Tile callback modes. */
#define VEX_TILE_GET_READ  1
#define VEX_TILE_GET_WRITE 2
#define VEX_TILE_RELEASE   4

struct VexImage;

/* Region and channel of interest. Row count before row length. */
typedef struct VexROI {
    int coi;
    int xOffset;
    int yOffset;
    int height;
    int width;
} VexROI;

typedef void VexTileCallBack(const struct VexImage* image, int xIndex, int yIndex, int mode);

/* Tiling record: the library asks callBack for tiles of width x height pixels. */
typedef struct VexTileInfo {
    VexTileCallBack* callBack;
    int              id;
    char*            tileData;
    int              width;
    int              height;
} VexTileInfo;

/* The image header. Field order is part of the interface. */
typedef struct VexImage {
    int                 headerSize;   /* sizeof(VexImage) */
    int                 headerId;     /* always 0 */
    int                 nChannels;
    int                 alphaChannel; /* 1-based, 0 = none */
    unsigned int        depth;        /* VEX_DEPTH_* */
    char                colorSpace[4];
    char                channelSeq[4];
    int                 dataOrder;    /* VEX_DATA_ORDER_* */
    int                 origin;       /* VEX_ORIGIN_* */
    int                 align;        /* 4 or 8 */
    int                 height;
    int                 width;
    VexROI*             roi;
    struct VexImage*    maskImage;
    void*               userData;
    VexTileInfo*        tileInfo;
    int                 dataSize;
    char*               imageData;
    int                 widthStep;
    int                 borderMode[4];  /* top, bottom, left, right */
    int                 borderValue[4];
    char*               dataBlock;
} VexImage;

/* Trailing argument of the operations that compute one destination pixel's tile. */
typedef struct VexMapping {
    int xDst;
    int yDst;
} VexMapping;

VEXAPI VexImage* vexCreateImageHeader(int nChannels, int alphaChannel, int depth,
                                      const char* colorSpace, const char* channelSeq,
                                      int dataOrder, int origin, int align,
                                      int height, int width, VexROI* roi,
                                      void* userData, VexTileInfo* tileInfo);
VEXAPI void vexAllocateImage(VexImage* image, int fillValue);
VEXAPI void vexDeallocateImage(VexImage* image);
VEXAPI void vexDeallocateHeader(VexImage* image);
VEXAPI void vexDeallocate(VexImage* image, int flags);

/* Header validation: a bit set, 0 when the header is acceptable. */
#define VEX_BAD_HEADER_NULL        1
#define VEX_BAD_HEADER_DATA        2
#define VEX_BAD_HEADER_SIZE        4
#define VEX_BAD_HEADER_ROI_OFFSET  8
#define VEX_BAD_HEADER_STEP        16
#define VEX_BAD_HEADER_CHANNELS    32
#define VEX_BAD_HEADER_1U_CHANNELS 64
#define VEX_BAD_HEADER_DEPTH       128
#define VEX_BAD_HEADER_ALPHA       256
#define VEX_BAD_HEADER_ORDER       512
#define VEX_BAD_HEADER_ORIGIN      1024
#define VEX_BAD_HEADER_ALIGN       2048
#define VEX_BAD_HEADER_CALLBACK    4096
#define VEX_BAD_HEADER_TILE_SIZE   8192
#define VEX_BAD_HEADER_COI         16384
#define VEX_BAD_HEADER_ROI_SIZE    32768

VEXAPI int vexBadImageHeader(const VexImage* image);

VEXAPI VexROI* vexCreateROI(int coi, int xOffset, int yOffset, int height, int width);
VEXAPI void    vexSetROI(VexROI* roi, int coi, int xOffset, int yOffset, int height, int width);
VEXAPI void    vexDeleteROI(VexROI* roi);
VEXAPI VexTileInfo* vexCreateTileInfo(VexTileCallBack* callBack, int id, int width, int height);
VEXAPI void vexSetTileInfo(VexTileInfo* tileInfo, VexTileCallBack* callBack, int id,
                           int width, int height);
VEXAPI void vexDeleteTileInfo(VexTileInfo* tileInfo);
VEXAPI void vexSetBorderMode(VexImage* image, int mode, int sides, int value);

/* ------------------------------------------------------------------ */
/* Data movement                                                       */
/* ------------------------------------------------------------------ */

VEXAPI void vexCopy(VexImage* srcImage, VexImage* dstImage, const int* tile);
VEXAPI void vexSet(VexImage* image, int fillValue, const int* tile);
VEXAPI void vexExchange(VexImage* imageA, VexImage* imageB, const int* tile);
VEXAPI void vexMirror(VexImage* srcImage, VexImage* dstImage, int flipAxis, const int* tile);

/* ------------------------------------------------------------------ */
/* Pixel-wise arithmetic, logic, shifts                                */
/* ------------------------------------------------------------------ */

VEXAPI void vexAdd(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage, const int* tile);
VEXAPI void vexAddS(VexImage* srcImage, VexImage* dstImage, int value, const int* tile);
VEXAPI void vexSubtract(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                        int swapOperands, const int* tile);
VEXAPI void vexSubtractS(VexImage* srcImage, VexImage* dstImage, int value, int swapOperands,
                         const int* tile);
VEXAPI void vexMultiply(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage, const int* tile);
VEXAPI void vexMultiplyS(VexImage* srcImage, VexImage* dstImage, unsigned int value, const int* tile);
VEXAPI void vexSquare(VexImage* srcImage, VexImage* dstImage, const int* tile);
VEXAPI void vexAbs(VexImage* srcImage, VexImage* dstImage, const int* tile);

VEXAPI void vexAnd(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage, const int* tile);
VEXAPI void vexOr(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage, const int* tile);
VEXAPI void vexXor(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage, const int* tile);
VEXAPI void vexAndS(VexImage* srcImage, VexImage* dstImage, unsigned int value, const int* tile);
VEXAPI void vexOrS(VexImage* srcImage, VexImage* dstImage, unsigned int value, const int* tile);
VEXAPI void vexXorS(VexImage* srcImage, VexImage* dstImage, unsigned int value, const int* tile);
VEXAPI void vexNot(VexImage* srcImage, VexImage* dstImage, const int* tile);
VEXAPI void vexLShiftS(VexImage* srcImage, VexImage* dstImage, unsigned int shift, const int* tile);
VEXAPI void vexRShiftS(VexImage* srcImage, VexImage* dstImage, unsigned int shift, const int* tile);

/* ------------------------------------------------------------------ */
/* Statistics and point operations                                     */
/* ------------------------------------------------------------------ */

VEXAPI void vexThreshold(VexImage* srcImage, VexImage* dstImage, int threshold, const int* tile);

/* ------------------------------------------------------------------ */
/* Depth conversion, bitonal expansion, bitmaps                        */
/* ------------------------------------------------------------------ */
/* (family: convert) */

/* vexConvert: copies srcImage into dstImage (same height, width and channel
 * count) changing depth, data order and row origin in one pass. Between
 * integer depths nothing saturates: signed and unsigned ranges are
 * re-centred, narrowing keeps bits. ConvertMode (narrowing only): 1 scales
 * (the high bits, rounded toward zero), 0 truncates (the low bits; signed
 * values keep their sign). A 1U destination takes one channel (the source
 * ROI's coi when the source has several channels): 1 where the sample is
 * greater than zero. 1U to 1U copies whole row bytes. Regions of interest do
 * not restrict the conversion. With a tiled destination a non-null mapping
 * limits the work to the destination tile holding pixel (xDst, yDst). */
VEXAPI void vexConvert(VexImage* srcImage, VexImage* dstImage, int ConvertMode,
                       const VexMapping* mapping);
/* vexBitonalToGray: expands a 1U image into an integer image of the same
 * size: ZeroScale for 0 bits, OneScale for 1 bits, in every destination
 * channel (values checked against the destination depth's range; any value
 * for 32S). Frame, origins, tiles and mapping as for vexConvert. */
VEXAPI void vexBitonalToGray(VexImage* srcImage, VexImage* dstImage, int ZeroScale, int OneScale,
                             const VexMapping* mapping);

/* Device-independent bitmaps (DIBs): a 40-byte info header, then a colour
 * table of 4-byte entries (or, for 16 and 32 bits with VEX_BI_BITFIELDS,
 * three 32-bit colour masks: red, green, blue), then the pixel rows, each
 * padded to 4 bytes. A positive biHeight stores the rows bottom-up, a
 * negative one top-down. The records are laid out byte for byte as the
 * platform's own bitmap records (all fields little-endian, no padding), so a
 * pointer to one may be passed where the other is expected; they carry this
 * library's names, so a program may include the platform's header as well. */
#ifndef VEX_DIB_RECORDS_DECLARED
#define VEX_DIB_RECORDS_DECLARED 1
typedef struct VexBitmapInfoHeader {
    unsigned int   biSize;          /* 40 */
    int            biWidth;
    int            biHeight;        /* > 0 bottom-up rows, < 0 top-down */
    unsigned short biPlanes;        /* 1 */
    unsigned short biBitCount;      /* 1, 4, 8, 16, 24 or 32 */
    unsigned int   biCompression;   /* VEX_BI_RGB or VEX_BI_BITFIELDS */
    unsigned int   biSizeImage;
    int            biXPelsPerMeter;
    int            biYPelsPerMeter;
    unsigned int   biClrUsed;       /* colour-table entries; 0: 2^biBitCount (1, 4, 8 bits) */
    unsigned int   biClrImportant;
} VexBitmapInfoHeader;

/* One colour-table entry. */
typedef struct VexRGBQuad {
    unsigned char rgbBlue;
    unsigned char rgbGreen;
    unsigned char rgbRed;
    unsigned char rgbReserved;
} VexRGBQuad;
#endif /* VEX_DIB_RECORDS_DECLARED */

#define VEX_BI_RGB       0u /* uncompressed; 16 bits 5-5-5, 32 bits 8-8-8-8 */
#define VEX_BI_BITFIELDS 3u /* 16 or 32 bits with three colour masks after the header */

/* A new image for a DIB: it shares the DIB's pixel rows (*cloneData = 1:
 * 1- and 8-bit DIBs whose table is a gray ramp, 24-bit, 32-bit VEX_BI_RGB;
 * the caller keeps the DIB alive while the image is used) or owns a copy
 * (*cloneData = 0, a 3-channel plane-order image, or 1-channel for a 4-bit
 * gray ramp). Null on failure. Release with vexDeallocate(image,
 * VEX_IMAGE_ALL): a shared buffer is not freed. */
VEXAPI VexImage* vexTranslateDIB(VexBitmapInfoHeader* dib, int* cloneData);
/* Copies a DIB into the top-left corner of an existing untiled image of
 * 1 (1U, 8U, 16U), 3 or 4 (8U, 16U) channels whose channelSeq is "G",
 * "GRAY", "BGR", "BGRA", "RGB" or "RGBA"; the picture keeps its orientation
 * whatever the two row directions. 16U samples get the 8-bit value x 256. */
VEXAPI void vexConvertFromDIB(const VexBitmapInfoHeader* dib, VexImage* image);
/* Writes an untiled 1U, 8U or 16U image of 1, 3 or 4 channels into a
 * bottom-up DIB of exactly its size. dither: 1 takes the high byte of 16U
 * samples, 8 dithers them to 8 bits first (vexReduceBits, Stucki).
 * paletteConversion (1-, 4- and 8-bit DIBs): 0 keeps the caller's table,
 * 1 writes a fixed table (gray or standard colours), 2 a median-cut table
 * of the image (biClrUsed set to its length; the DIB needs room for
 * 2^biBitCount entries). Indexed pixels take the nearest table entry. */
VEXAPI void vexConvertToDIB(VexImage* image, VexBitmapInfoHeader* dib, int dither,
                            int paletteConversion);

/* ------------------------------------------------------------------ */
/* Colour: models, bit reduction and dithering, colour twist           */
/* ------------------------------------------------------------------ */
/* (family: color) */

/* Bit reduction (32S to 16U or 8U, 16U to 8U, 8U to 1U) with optional jitter
 * (jitterType 0..8, in destination steps) and dithering (ditherType 1 none,
 * 2 Floyd-Steinberg, 4 Jarvis-Judice-Ninke, 8 Stucki, 16 ordered 4x4) onto a
 * grid of step (destination maximum >> quantShift). The jitter draws on
 * process-wide tables refilled from rand() by every call with a non-zero
 * jitterType: its results depend on the process's rand() state (the library
 * never seeds it), and two such calls must not run at the same time.
 * mapping (or null) names one destination tile by column and row. */
VEXAPI void vexReduceBits(VexImage* srcImage, VexImage* dstImage, int jitterType, int ditherType,
                          int quantShift, const VexMapping* mapping);

/* RGB (or BGR) to one gray channel: 8U, 16U or 32S to 1U, 8U or 16U.
 * Whole images; mapping (or null) names one destination tile. */
VEXAPI void vexColorToGray(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping);
/* One gray channel to RGB with per-channel weights (all 0: the defaults). */
VEXAPI void vexGrayToColor(VexImage* srcImage, VexImage* dstImage, float redWeight,
                           float greenWeight, float blueWeight, const VexMapping* mapping);
/* RGB to HSV and back; 8U hue in half degrees, 16U/32S in degrees. */
VEXAPI void vexRGB2HSV(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping);
VEXAPI void vexHSV2RGB(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping);
/* RGB to HLS and back. */
VEXAPI void vexRGB2HLS(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping);
VEXAPI void vexHLS2RGB(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping);

/* Colour twist: a fixed-point 3x4 matrix (rows of four: coefficients of
 * channels 0, 1, 2 and an additive term; the fourth row is kept, unused);
 * every value stands for value / 2^scalingValue (0..31). */
typedef struct VexColorTwist {
    int data[16];
    int scalingValue;
} VexColorTwist;

/* A new twist record (vexMalloc'ed), or null on a bad argument or no memory. */
VEXAPI VexColorTwist* vexCreateColorTwist(const int* data, int scalingValue);
VEXAPI void vexSetColorTwist(VexColorTwist* cTwist, const int* data, int scalingValue);
/* Releases a twist record; null is ignored. */
VEXAPI void vexDeleteColorTwist(VexColorTwist* cTwist);
/* Applies the twist to the first three channels of each pixel of the
 * regions (8U or 16U, three or more channels), adds offset and saturates.
 * mapping (or null) names the destination pixel whose tile is computed. */
VEXAPI void vexApplyColorTwist(VexImage* srcImage, VexImage* dstImage, const VexColorTwist* cTwist,
                               int offset, const VexMapping* mapping);

/* ------------------------------------------------------------------ */
/* Scaled multiplication, premultiplied alpha, compositing             */
/* ------------------------------------------------------------------ */
/* (family: alpha) */
/* Samples of 8U and 16U images stand for fractions of the depth's maximum M
   (255 or 65535). Scale(t) is t / M rounded to the nearest integer. The
   trailing mapping (may be NULL) names a destination pixel: with a tiled
   destination only the block of its tile is computed. */

/* Compositing operators (compositeType). */
#define VEX_COMPOSITE_OVER 0
#define VEX_COMPOSITE_IN   1
#define VEX_COMPOSITE_OUT  2
#define VEX_COMPOSITE_ATOP 3
#define VEX_COMPOSITE_XOR  4
#define VEX_COMPOSITE_PLUS 5

/* dst = Scale(A x B). */
VEXAPI void vexMultiplyScale(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                             const VexMapping* mapping);
/* dst = Scale(src x value); value above M (a negative int passed among them) acts as M. */
VEXAPI void vexMultiplySScale(VexImage* srcImage, VexImage* dstImage, unsigned int value,
                              const VexMapping* mapping);
/* In place: the colour channels times the pixel's alpha (alphaValue < 0) or,
   for alphaValue >= 0, times min(alphaValue, M), the alpha samples then set to it. */
VEXAPI void vexPreMultiplyAlpha(VexImage* image, int alphaValue, const VexMapping* mapping);
/* dst = A op B (compositeType 0..5: over, in, out, atop, xor, plus). Opacities
   from alphaImageA / alphaImageB when given (their alphaChannel, or channel 1),
   else from the sources' alpha channels; with only alphaImageA, b = M - a. The
   result opacity goes to alphaImageDst's alpha channel, else to the
   destination's own. premulAlpha 1: the colours are already premultiplied.
   divideMode 1: the colour is divided by the result opacity (floating point). */
VEXAPI void vexAlphaComposite(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                              int compositeType, VexImage* alphaImageA, VexImage* alphaImageB,
                              VexImage* alphaImageDst, int premulAlpha, int divideMode,
                              const VexMapping* mapping);
/* The same with constant opacities alphaA, alphaB (above M: M; negative: the
   image's own alpha channel). No result opacity is stored. */
VEXAPI void vexAlphaCompositeC(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                               int compositeType, int alphaA, int alphaB, int premulAlpha,
                               int divideMode, const VexMapping* mapping);

/* ------------------------------------------------------------------ */
/* Histograms, lookup tables, norms                                    */
/* ------------------------------------------------------------------ */
/* (family: stats) */
/* One record per channel: a binned histogram (bin i covers key[i] <= v <
   key[i+1], its count in value[i]) or a piecewise mapping (segment i starts
   at key[i] with value[i], slope factor[i] when interpolate is non-zero). */
typedef struct VexLUT {
    int  num;          /* number of keys, at least 2 */
    int* key;          /* num non-decreasing bin boundaries */
    int* value;        /* num counts or segment start values */
    int* factor;       /* num slopes, read only when interpolate is non-zero */
    int  interpolate;  /* non-zero: linear segments; zero: constant segments */
} VexLUT;

/* Counts the source region's samples into the bins of lut[channel]. */
VEXAPI void vexComputeHisto(VexImage* srcImage, VexLUT** lut, const int* tile);
/* dst = the piecewise mapping of lut[channel] applied to src (8U, 16U). */
VEXAPI void vexContrastStretch(VexImage* srcImage, VexImage* dstImage, VexLUT** lut,
                               const int* tile);
/* Equalises src into dst from the histogram held in lut, then stores the
   equalised histogram into the records' values (8U, 16U). */
VEXAPI void vexHistoEqualize(VexImage* srcImage, VexImage* dstImage, VexLUT** lut,
                             const int* tile);

/* Norm types (normType of vexNorm); the relative forms are the absolute
   ones plus VEX_NORM_RELATIVE and divide by the norm of srcImageB. */
#define VEX_NORM_INF      1  /* maximum of |a| or |a - b| */
#define VEX_NORM_L1       2  /* sum of |a| or |a - b| */
#define VEX_NORM_L2       4  /* square root of the sum of squares */
#define VEX_NORM_RELATIVE 8
/* The norm of srcImageA, or of srcImageA - srcImageB when srcImageB is given. */
VEXAPI double vexNorm(VexImage* srcImageA, VexImage* srcImageB, int normType);

/* ------------------------------------------------------------------ */
/* Convolution, blur, rank filters, morphology                         */
/* ------------------------------------------------------------------ */
/* (family: filter) */
/* Integer convolution kernel: nRows x nCols signed 8-bit entries, row by
   row; the entry at (anchorX, anchorY) lies over the output pixel; the
   rounded sum is shifted right by nShiftR. The record owns its entries. */
typedef struct VexConvKernel {
    int          nRows;
    int          nCols;
    int          anchorX;
    int          anchorY;
    int          nShiftR;
    signed char* values;
} VexConvKernel;

/* A new kernel holding a copy of nRows*nCols entries; null on failure. */
VEXAPI VexConvKernel* vexCreateConvKernel(int nRows, int nCols, int anchorX, int anchorY,
                                          const signed char* values, int nShiftR);
/* Reads a kernel's fields; the entries are copied into *values. */
VEXAPI void vexGetConvKernel(const VexConvKernel* kernel, int* nRows, int* nCols, int* anchorX,
                             int* anchorY, signed char** values, int* nShiftR);
/* Releases a kernel and its entries. */
VEXAPI void vexDeleteConvKernel(VexConvKernel* kernel);
/* Convolves with 1 to 100 kernels merged by combineMethod (0 sum, 1 sum of
   squares, 2 root of the sum of squares, 3 maximum, 4 minimum); out-of-image
   samples come from the source's border modes. mapping (or null) selects
   the destination tile holding pixel (xDst, yDst) of a tiled destination. */
VEXAPI void vexConvolve2D(VexImage* srcImage, VexImage* dstImage, VexConvKernel** kernel,
                          int nKernels, int combineMethod, const VexMapping* mapping);
/* Separable convolution in 32-bit integers: Xkernel's first row across,
   Ykernel's first nRows entries down, one arithmetic shift by the sum of
   both nShiftR at the end, then clamped to the destination depth. */
VEXAPI void vexConvolveSep2D(VexImage* srcImage, VexImage* dstImage, const VexConvKernel* Xkernel,
                             const VexConvKernel* Ykernel);
/* Mean of an nRows x nCols window (running sums), fraction cut off. */
VEXAPI void vexBlur(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols, int anchorX,
                    int anchorY);
/* Largest, smallest and median (rank floor(n/2)+1) sample of an
   nRows x nCols window; mapping as for vexConvolve2D. */
VEXAPI void vexMaxFilter(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols, int anchorX,
                         int anchorY, const VexMapping* mapping);
VEXAPI void vexMinFilter(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols, int anchorX,
                         int anchorY, const VexMapping* mapping);
VEXAPI void vexMedianFilter(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols,
                            int anchorX, int anchorY, const VexMapping* mapping);

/* (family: morph) */
/* Morphology with the 3x3 square structuring element, repeated nIterations
   (>= 1) times; mapping must be NULL. 1U (one channel), 8U and 16U images;
   other depths are left untouched. A successful call leaves the status 0. */
VEXAPI void vexErode(VexImage* srcImage, VexImage* dstImage, int nIterations,
                     const VexMapping* mapping);  /* minimum of the 3x3 neighbourhood */
VEXAPI void vexDilate(VexImage* srcImage, VexImage* dstImage, int nIterations,
                      const VexMapping* mapping); /* maximum of the 3x3 neighbourhood */
VEXAPI void vexOpen(VexImage* srcImage, VexImage* dstImage, int nIterations,
                    const VexMapping* mapping);   /* erosion then dilation, per iteration */
VEXAPI void vexClose(VexImage* srcImage, VexImage* dstImage, int nIterations,
                     const VexMapping* mapping);  /* dilation then erosion, per iteration */

/* ------------------------------------------------------------------ */
/* Zoom, decimation, rotation                                          */
/* ------------------------------------------------------------------ */
/* (family: geom) */
/* Interpolation codes of zoom, decimation and rotation. */
#define VEX_INTER_NN     0
#define VEX_INTER_LINEAR 1
#define VEX_INTER_CUBIC  2

/* Enlarges the source region by xU/xL horizontally and yU/yL vertically (each
   factor at least 1) into the destination region, in floating point. 8S, 16S
   and 32S images are passed over. With a tiled destination and a mapping, only
   the tile holding pixel (xDst, yDst) is computed. */
VEXAPI void vexZoom(VexImage* srcImage, VexImage* dstImage, int xU, int xL, int yU, int yL,
                    int interpolate, const VexMapping* mapping);
/* Shrinks the source region by xU/xL and yU/yL (each factor at most 1) into the
   destination region, in 8-bit fixed point; 1U, 8U and 16U. */
VEXAPI void vexDecimate(VexImage* srcImage, VexImage* dstImage, int xU, int xL, int yU, int yL,
                        int interpolate, const VexMapping* mapping);
/* Rotates the source image about (xShift, yShift) by angle hundredths of a degree
   into the destination region; positions outside the source give 0. Right angles
   are exact; 0 is a copy (the mapping then selects a destination tile by its
   column and row). */
VEXAPI void vexRotate(VexImage* srcImage, VexImage* dstImage, int angle, int xShift, int yShift,
                      int interpolate, const VexMapping* mapping);

/* ------------------------------------------------------------------ */
/* Two-dimensional FFT and DCT                                         */
/* ------------------------------------------------------------------ */
/* (family: transform) */
/* Flags of the two-dimensional FFT (bits combine). */
#define VEX_FFT_FORWARD   0x1   /* exponent e^(-2 pi i jk/n), no scaling */
#define VEX_FFT_INVERSE   0x2   /* exponent e^(+2 pi i jk/n), result times 1/(W*H) */
#define VEX_FFT_NOSCALE   0x4   /* with VEX_FFT_INVERSE: no 1/(W*H) factor */
#define VEX_FFT_ALPHA     0x8   /* transform the alpha channel too */
#define VEX_FFT_INTEGER   0x10  /* integer engine (32-bit integer working rows) */
#define VEX_FFT_FLOAT     0x20  /* floating-point engine (single-precision working rows) */
#define VEX_FFT_REUSE     0x40  /* reuse the calling thread's previous setup */
#define VEX_FFT_FREE      0x80  /* free the calling thread's tables and return */
#define VEX_FFT_KEEP      0x100 /* keep the tables after the call */

/* Real image -> packed complex-conjugate-symmetric (CCS) spectrum, per
   channel over the intersection of the two regions. map must be null. */
VEXAPI void vexRealFft2D(VexImage* srcImage, VexImage* dstImage, int flags, const void* map);
/* CCS spectrum -> real image (same flags and rules as vexRealFft2D). */
VEXAPI void vexCcsFft2D(VexImage* srcImage, VexImage* dstImage, int flags, const void* map);

/* Flags of the two-dimensional DCT. */
#define VEX_DCT_FORWARD       1
#define VEX_DCT_INVERSE       2
#define VEX_DCT_PROCESS_ALPHA 4
#define VEX_DCT_FREE          8

/* Orthonormal two-dimensional DCT-II (forward) or DCT-III (inverse) of each
   channel, rounded to nearest (ties to even) and saturated to the
   destination depth. VEX_DCT_FREE releases the cached tables. */
VEXAPI void vexDCT2D(VexImage* srcImage, VexImage* dstImage, int flags);

#ifdef __cplusplus
}
#endif

#endif /* VEXLIB_H */
