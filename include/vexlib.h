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

/* ------------------------------------------------------------------ */
/* Colour: models, bit reduction and dithering, colour twist           */
/* ------------------------------------------------------------------ */
/* (family: color) */

/* ------------------------------------------------------------------ */
/* Scaled multiplication, premultiplied alpha, compositing             */
/* ------------------------------------------------------------------ */
/* (family: alpha) */

/* ------------------------------------------------------------------ */
/* Histograms, lookup tables, norms                                    */
/* ------------------------------------------------------------------ */
/* (family: stats) */

/* ------------------------------------------------------------------ */
/* Convolution, blur, rank filters, morphology                         */
/* ------------------------------------------------------------------ */
/* (family: filter) */

/* (family: morph) */

/* ------------------------------------------------------------------ */
/* Zoom, decimation, rotation                                          */
/* ------------------------------------------------------------------ */
/* (family: geom) */

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
