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

/** A report function: the same five arguments vexError received. */
typedef int VexErrorReport(int status, const char* funcName, const char* context,
                           const char* file, int line);

/** The per-thread context; opaque to callers. */
typedef struct VexContext VexContext;

/** The calling thread's status (0 or a negative VEX_Sts* code). */
VEXAPI int  vexGetErrStatus(void);
/** Stores the thread's status. @param status the new status */
VEXAPI void vexSetErrStatus(int status);
/** The calling thread's error mode (VEX_ErrMode*). */
VEXAPI int  vexGetErrMode(void);
/** Stores the thread's error mode, unchecked. @param mode VEX_ErrModeLeaf, Parent or Silent */
VEXAPI void vexSetErrMode(int mode);
/** Installs the thread's report function and returns the previous one.
 * @param fn the new report function; null installs vexGuiBoxReport */
VEXAPI VexErrorReport* vexRedirectError(VexErrorReport* fn);
/** Records status (trail entries VEX_StsBackTrace and VEX_StsAutoTrace
 * excepted) and, unless it is VEX_StsOk, calls the thread's report function
 * with the same arguments, returning its result.
 * @param status VEX_Sts* code  @param funcName reporting function
 * @param context the failed condition's text  @param file source name  @param line source line */
VEXAPI int  vexError(int status, const char* funcName, const char* context,
                     const char* file, int line);
/** The text of a status: "No Error", "Bad argument", ...; other codes give
 * "Unknown error code %d" / "Unknown status code %d" in a per-thread buffer.
 * @param status the code */
VEXAPI const char* vexErrorStr(int status);
/** The calling thread's context (opaque). */
VEXAPI VexContext* vexUndContext(void);
/** The default report function: shows the message-box text on stderr and asks
 * its question (Leaf: end the process? Parent: continue?) on the controlling
 * terminal; without a terminal the first answer is taken. Silent mode: nothing.
 * @param status code  @param funcName function  @param context condition
 * @param file source  @param line line */
VEXAPI int vexGuiBoxReport(int status, const char* funcName, const char* context,
                           const char* file, int line);
/** Report function writing to stderr; ends the process in Leaf mode.
 * @param status code  @param funcName function  @param context condition
 * @param file source  @param line line */
VEXAPI int vexStdErrReport(int status, const char* funcName, const char* context,
                           const char* file, int line);
/** Report function writing nothing; ends the process in Leaf mode.
 * @param status code  @param funcName function  @param context condition
 * @param file source  @param line line */
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

/** An 8-byte aligned block of length bytes, or null. @param length bytes */
VEXAPI void*   vexMalloc(int length);
/** An aligned block of length shorts, or null. @param length count */
VEXAPI short*  vexwMalloc(int length);
/** An aligned block of length ints, or null. @param length count */
VEXAPI int*    vexiMalloc(int length);
/** An aligned block of length floats, or null. @param length count */
VEXAPI float*  vexsMalloc(int length);
/** An aligned block of length doubles, or null. @param length count */
VEXAPI double* vexdMalloc(int length);
/** Releases a block of the vex*Malloc functions; null is ignored. @param ptr the block */
VEXAPI void    vexFree(void* ptr);
/** The library's constant version record. */
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

/** Tile callback modes. */
#define VEX_TILE_GET_READ  1
#define VEX_TILE_GET_WRITE 2
#define VEX_TILE_RELEASE   4

struct VexImage;

/** Region and channel of interest. Row count before row length. */
typedef struct VexROI {
    int coi;
    int xOffset;
    int yOffset;
    int height;
    int width;
} VexROI;

typedef void VexTileCallBack(const struct VexImage* image, int xIndex, int yIndex, int mode);

/** Tiling record: the library asks callBack for tiles of width x height pixels. */
typedef struct VexTileInfo {
    VexTileCallBack* callBack;
    int              id;
    char*            tileData;
    int              width;
    int              height;
} VexTileInfo;

/** The image header. Field order is part of the interface. */
typedef struct VexImage {
    int                 headerSize;   /**< sizeof(VexImage) */
    int                 headerId;     /**< always 0 */
    int                 nChannels;
    int                 alphaChannel; /**< 1-based, 0 = none */
    unsigned int        depth;        /**< VEX_DEPTH_* */
    char                colorSpace[4];
    char                channelSeq[4];
    int                 dataOrder;    /**< VEX_DATA_ORDER_* */
    int                 origin;       /**< VEX_ORIGIN_* */
    int                 align;        /**< 4 or 8 */
    int                 height;
    int                 width;
    VexROI*             roi;
    struct VexImage*    maskImage;
    void*               userData;
    VexTileInfo*        tileInfo;
    int                 dataSize;
    char*               imageData;
    int                 widthStep;
    int                 borderMode[4];  /**< top, bottom, left, right */
    int                 borderValue[4];
    char*               dataBlock;
} VexImage;

/** Trailing argument of the operations that compute one destination pixel's tile. */
typedef struct VexMapping {
    int xDst;
    int yDst;
} VexMapping;

/** A new header (widthStep and dataSize by the row rule, borders constant 0)
 * or null when an argument is invalid; nothing is reported.
 * @param nChannels at least 1  @param alphaChannel 0 or 1..nChannels
 * @param depth a VEX_DEPTH_* code  @param colorSpace 4 characters (not null)
 * @param channelSeq 4 characters (not null)  @param dataOrder VEX_DATA_ORDER_*
 * @param origin VEX_ORIGIN_*  @param align 4 or 8  @param height rows
 * @param width pixels per row  @param roi region record or null
 * @param userData caller's pointer  @param tileInfo tiling record or null */
VEXAPI VexImage* vexCreateImageHeader(int nChannels, int alphaChannel, int depth,
                                      const char* colorSpace, const char* channelSeq,
                                      int dataOrder, int origin, int align,
                                      int height, int width, VexROI* roi,
                                      void* userData, VexTileInfo* tileInfo);
/** Allocates the pixel buffer (aligned to align) and fills it.
 * @param image the header (null: nothing)  @param fillValue -1: unfilled; else the depth's pattern */
VEXAPI void vexAllocateImage(VexImage* image, int fillValue);
/** Releases the pixel buffer. @param image the header */
VEXAPI void vexDeallocateImage(VexImage* image);
/** Releases the header record only. @param image the header */
VEXAPI void vexDeallocateHeader(VexImage* image);
/** Releases the parts named by flags (VEX_IMAGE_*).
 * @param image the header (null: nothing)  @param flags bit set */
VEXAPI void vexDeallocate(VexImage* image, int flags);

/** Header validation: a bit set, 0 when the header is acceptable. */
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

/** The VEX_BAD_HEADER_* bits of what is wrong with a header; 0 when acceptable.
 * @param image the header */
VEXAPI int vexBadImageHeader(const VexImage* image);

/** A new region record (values unchecked), or null.
 * @param coi channel, 0 = all  @param xOffset first column  @param yOffset first row
 * @param height rows  @param width columns */
VEXAPI VexROI* vexCreateROI(int coi, int xOffset, int yOffset, int height, int width);
/** Stores the five values; null roi does nothing.
 * @param roi the record  @param coi channel  @param xOffset column  @param yOffset row
 * @param height rows  @param width columns */
VEXAPI void    vexSetROI(VexROI* roi, int coi, int xOffset, int yOffset, int height, int width);
/** Releases a region record; null does nothing. @param roi the record */
VEXAPI void    vexDeleteROI(VexROI* roi);
/** A new tiling record, or null.
 * @param callBack tile callback  @param id caller's identifier
 * @param width tile width (multiple of 8)  @param height tile height (multiple of 8) */
VEXAPI VexTileInfo* vexCreateTileInfo(VexTileCallBack* callBack, int id, int width, int height);
/** Stores the values and clears tileData; null tileInfo does nothing.
 * @param tileInfo the record  @param callBack tile callback  @param id identifier
 * @param width tile width  @param height tile height */
VEXAPI void vexSetTileInfo(VexTileInfo* tileInfo, VexTileCallBack* callBack, int id,
                           int width, int height);
/** Releases a tiling record; null does nothing. @param tileInfo the record */
VEXAPI void vexDeleteTileInfo(VexTileInfo* tileInfo);
/** Sets the border mode and constant of the sides named by sides.
 * @param image the header  @param mode VEX_BORDER_*  @param sides VEX_SIDE_* bits
 * @param value border constant */
VEXAPI void vexSetBorderMode(VexImage* image, int mode, int sides, int value);

/* ------------------------------------------------------------------ */
/* Data movement                                                       */
/* ------------------------------------------------------------------ */

/** Copies the source region into the destination region (all depths).
 * Checks: both headers valid, "srcImage->depth != dstImage->depth",
 * "srcImage->dataOrder != dstImage->dataOrder", "srcImage->origin != dstImage->origin";
 * VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexCopy(VexImage* srcImage, VexImage* dstImage, const int* tile);
/** Fills the region (channel of interest) with fillValue limited to the depth.
 * @param image the image  @param fillValue value  @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexSet(VexImage* image, int fillValue, const int* tile);
/** Swaps the regions of two images (all depths).
 * Checks: both headers valid, then "srcImage->depth != dstImage->depth",
 * "srcImage->dataOrder != dstImage->dataOrder", "srcImage->origin != dstImage->origin"
 * (imageA named srcImage, imageB dstImage); VEX_StsBadArg.
 * @param imageA first image  @param imageB second image
 * @param tile the tile of imageB as {column, row}, or null for the whole region */
VEXAPI void vexExchange(VexImage* imageA, VexImage* imageB, const int* tile);
/** Mirrors the region (all depths).
 * Checks: both headers valid, "(srcImage->depth!=dstImage->depth)",
 * "(srcImage->nChannels!=dstImage->nChannels)", "((flipAxis>1)||(flipAxis<-1))",
 * "(coiSrc!=coiDst)"; VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination (may be the source)
 * @param flipAxis 0 rows reversed, 1 columns reversed, -1 both
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexMirror(VexImage* srcImage, VexImage* dstImage, int flipAxis, const int* tile);

/* ------------------------------------------------------------------ */
/* Pixel-wise arithmetic, logic, shifts                                */
/* ------------------------------------------------------------------ */

/** dst = A + B, saturated.
 * Checks: both headers valid, then (srcImageA->depth != dstImage->depth),
 * (srcImageB->depth != dstImage->depth), the data orders and channel counts
 * likewise; all VEX_StsBadArg. Depths 8U, 8S, 16U, 16S, 32S.
 * @param srcImageA first source  @param srcImageB second source
 * @param dstImage destination (may be a source)  @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexAdd(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage, const int* tile);
/** dst = src + value, saturated.
 * Checks: both headers valid, (srcImage->depth != dstImage->depth),
 * (srcImage->dataOrder != dstImage->dataOrder), (nChSrc != nChDst); VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination (may be the source)  @param value signed addend
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexAddS(VexImage* srcImage, VexImage* dstImage, int value, const int* tile);
/** dst = A - B (B - A when swapOperands), saturated.
 * Checks: both headers valid, then (srcImageA->depth != dstImage->depth),
 * (srcImageB->depth != dstImage->depth), the data orders and channel counts
 * likewise; all VEX_StsBadArg. Depths 8U, 8S, 16U, 16S, 32S.
 * @param srcImageA first source  @param srcImageB second source
 * @param dstImage destination (may be a source)  @param swapOperands non-zero: B - A
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexSubtract(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                        int swapOperands, const int* tile);
/** dst = src - value (value - src when swapOperands), saturated.
 * Checks: both headers valid, (srcImage->depth != dstImage->depth),
 * (srcImage->dataOrder != dstImage->dataOrder), (nChSrc != nChDst); VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination (may be the source)
 * @param value subtrahend  @param swapOperands non-zero: value - src
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexSubtractS(VexImage* srcImage, VexImage* dstImage, int value, int swapOperands,
                         const int* tile);
/** dst = A x B, saturated.
 * Checks: both headers valid, then (srcImageA->depth != dstImage->depth),
 * (srcImageB->depth != dstImage->depth), the data orders and channel counts
 * likewise; all VEX_StsBadArg. Depths 8U, 8S, 16U, 16S, 32S.
 * @param srcImageA first source  @param srcImageB second source
 * @param dstImage destination (may be a source)  @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexMultiply(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage, const int* tile);
/** dst = src x value, saturated.
 * Checks: both headers valid, (srcImage->depth != dstImage->depth),
 * (srcImage->dataOrder != dstImage->dataOrder), (nChSrc != nChDst); VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination (may be the source)  @param value factor
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexMultiplyS(VexImage* srcImage, VexImage* dstImage, unsigned int value, const int* tile);
/** dst = src x src, saturated.
 * Checks: both headers valid, (srcImage->depth != dstImage->depth),
 * (srcImage->dataOrder != dstImage->dataOrder), (nChSrc != nChDst); VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination (may be the source)
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexSquare(VexImage* srcImage, VexImage* dstImage, const int* tile);
/** dst = |src| (the most negative value stays).
 * Checks: both headers valid, (srcImage->depth != dstImage->depth),
 * (srcImage->dataOrder != dstImage->dataOrder), (nChSrc != nChDst); VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination (may be the source)
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexAbs(VexImage* srcImage, VexImage* dstImage, const int* tile);

/** dst = A & B.
 * Checks: both headers valid, then (srcImageA->depth != dstImage->depth),
 * (srcImageB->depth != dstImage->depth), the data orders and channel counts
 * likewise; all VEX_StsBadArg. Depths 8U, 8S, 16U, 16S, 32S.
 * @param srcImageA first source  @param srcImageB second source
 * @param dstImage destination (may be a source)  @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexAnd(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage, const int* tile);
/** dst = A | B.
 * Checks: both headers valid, then (srcImageA->depth != dstImage->depth),
 * (srcImageB->depth != dstImage->depth), the data orders and channel counts
 * likewise; all VEX_StsBadArg. Depths 8U, 8S, 16U, 16S, 32S.
 * @param srcImageA first source  @param srcImageB second source
 * @param dstImage destination (may be a source)  @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexOr(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage, const int* tile);
/** dst = A ^ B.
 * Checks: both headers valid, then (srcImageA->depth != dstImage->depth),
 * (srcImageB->depth != dstImage->depth), the data orders and channel counts
 * likewise; all VEX_StsBadArg. Depths 8U, 8S, 16U, 16S, 32S.
 * @param srcImageA first source  @param srcImageB second source
 * @param dstImage destination (may be a source)  @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexXor(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage, const int* tile);
/** dst = src & value.
 * Checks: both headers valid, (srcImage->depth != dstImage->depth),
 * (srcImage->dataOrder != dstImage->dataOrder), (nChSrc != nChDst); VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination (may be the source)  @param value mask
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexAndS(VexImage* srcImage, VexImage* dstImage, unsigned int value, const int* tile);
/** dst = src | value.
 * Checks: both headers valid, (srcImage->depth != dstImage->depth),
 * (srcImage->dataOrder != dstImage->dataOrder), (nChSrc != nChDst); VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination (may be the source)  @param value mask
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexOrS(VexImage* srcImage, VexImage* dstImage, unsigned int value, const int* tile);
/** dst = src ^ value.
 * Checks: both headers valid, (srcImage->depth != dstImage->depth),
 * (srcImage->dataOrder != dstImage->dataOrder), (nChSrc != nChDst); VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination (may be the source)  @param value mask
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexXorS(VexImage* srcImage, VexImage* dstImage, unsigned int value, const int* tile);
/** dst = ~src.
 * Checks: both headers valid, (srcImage->depth != dstImage->depth),
 * (srcImage->dataOrder != dstImage->dataOrder), (nChSrc != nChDst); VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination (may be the source)
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexNot(VexImage* srcImage, VexImage* dstImage, const int* tile);
/** dst = src << shift (bits dropped).
 * Checks: both headers valid, (srcImage->depth != dstImage->depth),
 * (srcImage->dataOrder != dstImage->dataOrder), (nChSrc != nChDst); VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination (may be the source)  @param shift bit count
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexLShiftS(VexImage* srcImage, VexImage* dstImage, unsigned int shift, const int* tile);
/** dst = src >> shift.
 * Checks: both headers valid, (srcImage->depth != dstImage->depth),
 * (srcImage->dataOrder != dstImage->dataOrder), (nChSrc != nChDst); VEX_StsBadArg.
 * @param srcImage source  @param dstImage destination (may be the source)  @param shift bit count
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexRShiftS(VexImage* srcImage, VexImage* dstImage, unsigned int shift, const int* tile);

/* ------------------------------------------------------------------ */
/* Statistics and point operations                                     */
/* ------------------------------------------------------------------ */

/** Samples below threshold become the depth's minimum, the others its maximum.
 * Checks: (srcImage->depth!=dstImage->depth), data orders, (srcImage->depth==1).
 * @param srcImage source  @param dstImage destination  @param threshold level
 * @param tile the destination tile as {column, row}, or null */
VEXAPI void vexThreshold(VexImage* srcImage, VexImage* dstImage, int threshold, const int* tile);

/* ------------------------------------------------------------------ */
/* Depth conversion, bitonal expansion, bitmaps                        */
/* ------------------------------------------------------------------ */
/* (family: convert) */

/** Copies srcImage into dstImage (same height, width and channel count)
 * changing depth, data order and row origin in one pass. Between integer
 * depths nothing saturates: signed and unsigned ranges are re-centred,
 * narrowing keeps bits. A 1U destination takes one channel (the source ROI's
 * coi when the source has several channels): 1 where the sample is greater
 * than zero. 1U to 1U copies whole row bytes. Regions of interest do not
 * restrict the conversion. All six depths.
 * Checks (both headers valid (vexBadImageHeader text)), VEX_StsBadArg: "(srcImage->height != dstImage->height)",
 * "(srcImage->width != dstImage->width)", the source coi with several channels
 * to 1U, equal channel counts, a 1U source only into 1U, ConvertMode 0 or 1.
 * @param srcImage source  @param dstImage destination
 * @param ConvertMode narrowing only: 1 scales (the high bits, rounded toward zero), 0 truncates (the low bits)
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexConvert(VexImage* srcImage, VexImage* dstImage, int ConvertMode,
                       const VexMapping* mapping);
/** Expands a 1U image into an integer image of the same size: ZeroScale
 * for 0 bits, OneScale for 1 bits, in every destination channel.
 * Checks (both headers valid (vexBadImageHeader text)): "(srcImage->height != dstImage->height)",
 * "(srcImage->width != dstImage->width)", "(srcImage->nChannels != 1)",
 * "(srcImage->depth != 1)", "(dstImage->depth == 1)", then both values against
 * the destination depth's range, e.g. "((dstImage->depth == 8) && (OneScale > 255))"
 * (any value for 32S).
 * @param srcImage 1U, one channel  @param dstImage 8U, 8S, 16U, 16S or 32S
 * @param ZeroScale value of 0 bits  @param OneScale value of 1 bits
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
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

/** Bit reduction (32S to 16U or 8U, 16U to 8U, 8U to 1U) with optional
 * jitter and dithering onto a grid of step (destination maximum >> quantShift).
 * The jitter draws on process-wide tables refilled from rand() by every call
 * with a non-zero jitterType: results depend on the process's rand() state,
 * and two such calls must not run at the same time.
 * Checks: headers, "(0>jitterType)||(jitterType>8)", incompatible depths,
 * sizes or channels "incomatibleimages"; VEX_StsBadArg.
 * @param srcImage 32S, 16U or 8U  @param dstImage 16U, 8U or 1U
 * @param jitterType 0 (none) to 8, in destination steps
 * @param ditherType 1 none, 2 Floyd-Steinberg, 4 Jarvis-Judice-Ninke, 8 Stucki, 16 ordered 4x4
 * @param quantShift grid step exponent
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexReduceBits(VexImage* srcImage, VexImage* dstImage, int jitterType, int ditherType,
                          int quantShift, const VexMapping* mapping);

/** RGB (or BGR) to one gray channel: 8U, 16U or 32S to 1U, 8U or 16U.
 * Whole images. Checks: headers, then "incomatibleimages" for sizes, depths or
 * channel counts that do not pair.
 * @param srcImage three or more channels  @param dstImage one channel
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexColorToGray(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping);
/** One gray channel to RGB with per-channel weights (all 0: the defaults).
 * Checks: headers, "incomatibleimages".
 * @param srcImage one channel  @param dstImage three channels
 * @param redWeight weight of red  @param greenWeight weight of green  @param blueWeight weight of blue
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexGrayToColor(VexImage* srcImage, VexImage* dstImage, float redWeight,
                           float greenWeight, float blueWeight, const VexMapping* mapping);
/** RGB to HSV; 8U hue in half degrees, 16U/32S in degrees. Whole images, same size and depth.
 * Checks: headers, "incomatibleimages".
 * @param srcImage three or more channels  @param dstImage three or more channels
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexRGB2HSV(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping);
/** HSV to RGB (the inverse of vexRGB2HSV). Whole images, same size and depth.
 * Checks: headers, "incomatibleimages".
 * @param srcImage three or more channels  @param dstImage three or more channels
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexHSV2RGB(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping);
/** RGB to HLS. Whole images, same size and depth.
 * Checks: headers, "incomatibleimages".
 * @param srcImage three or more channels  @param dstImage three or more channels
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexRGB2HLS(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping);
/** HLS to RGB (the inverse of vexRGB2HLS). Whole images, same size and depth.
 * Checks: headers, "incomatibleimages".
 * @param srcImage three or more channels  @param dstImage three or more channels
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexHLS2RGB(VexImage* srcImage, VexImage* dstImage, const VexMapping* mapping);

/** Colour twist: a fixed-point 3x4 matrix (rows of four: coefficients of
 * channels 0, 1, 2 and an additive term; the fourth row is kept, unused);
 * every value stands for value / 2^scalingValue (0..31). */
typedef struct VexColorTwist {
    int data[16];
    int scalingValue;
} VexColorTwist;

/** A new twist record (vexMalloc'ed), or null on a bad argument or no memory.
 * Checks: "(data == 0)", "(scalingValue < 0)", "(scalingValue > 31)".
 * @param data twelve (or sixteen) values, rows of four: three coefficients and an additive term
 * @param scalingValue every value stands for value / 2^scalingValue (0..31) */
VEXAPI VexColorTwist* vexCreateColorTwist(const int* data, int scalingValue);
/** Stores new values into a twist record.
 * Checks: "cTwist==0", "(data == 0)", "(scalingValue < 0)", "(scalingValue > 31)".
 * @param cTwist the record  @param data the values  @param scalingValue 0..31 */
VEXAPI void vexSetColorTwist(VexColorTwist* cTwist, const int* data, int scalingValue);
/** Releases a twist record; null is ignored.
 * @param cTwist the record */
VEXAPI void vexDeleteColorTwist(VexColorTwist* cTwist);
/** Applies the twist to the first three channels of each pixel of the
 * regions, adds offset and saturates.
 * Checks: headers, "cTwist==0", "(srcImage->nChannels < 3)", the alpha channel
 * last, "(dstImage->nChannels < 3)", "(srcImage->depth != dstImage->depth)",
 * depth 8U or 16U, data orders and "(srcImage->origin != dstImage->origin)".
 * @param srcImage 8U or 16U, three or more channels  @param dstImage same depth
 * @param cTwist the matrix  @param offset added to every result
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
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

/** Compositing operators (compositeType). */
#define VEX_COMPOSITE_OVER 0
#define VEX_COMPOSITE_IN   1
#define VEX_COMPOSITE_OUT  2
#define VEX_COMPOSITE_ATOP 3
#define VEX_COMPOSITE_XOR  4
#define VEX_COMPOSITE_PLUS 5

/** dst = Scale(A x B): the product divided by the depth's maximum, rounded.
 * Checks: headers, "srcImageA->depth != dstImage->depth",
 * "srcImageB->depth != dstImage->depth", "dstImage->depth != 8 && dstImage->depth != 16",
 * the channel counts likewise.
 * @param srcImageA first source  @param srcImageB second source  @param dstImage 8U or 16U
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexMultiplyScale(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                             const VexMapping* mapping);
/** dst = Scale(src x value); value above M (a negative int passed among
 * them) acts as M. Checks as vexMultiplyScale.
 * @param srcImage source  @param dstImage 8U or 16U  @param value factor (fraction of M)
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexMultiplySScale(VexImage* srcImage, VexImage* dstImage, unsigned int value,
                              const VexMapping* mapping);
/** In place: the colour channels times the pixel's alpha (alphaValue < 0)
 * or, for alphaValue >= 0, times min(alphaValue, M), the alpha samples then set to it.
 * Checks: header, "image->depth != 8 && image->depth != 16",
 * "image->alphaChannel < 1" (when alphaValue < 0), "image->alphaChannel > image->nChannels",
 * "image->alphaChannel > 0 && image->alphaChannel != image->nChannels".
 * @param image 8U or 16U, the alpha channel last  @param alphaValue constant opacity, or negative
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexPreMultiplyAlpha(VexImage* image, int alphaValue, const VexMapping* mapping);
/** dst = A op B. Opacities from alphaImageA / alphaImageB when given
 * (their alphaChannel, or channel 1), else from the sources' alpha channels;
 * with only alphaImageA, b = M - a. The result opacity goes to alphaImageDst's
 * alpha channel, else to the destination's own.
 * Checks: headers, depths equal and 8U or 16U, alpha channels present and last,
 * equal colour channel counts, "compositeType != 0 && ... compositeType != 5",
 * "premulAlpha != 0 && premulAlpha != 1", "divideMode != 0 && divideMode != 1".
 * @param srcImageA A  @param srcImageB B  @param dstImage result (8U or 16U)
 * @param compositeType VEX_COMPOSITE_OVER, IN, OUT, ATOP, XOR or PLUS
 * @param alphaImageA opacity of A, or null  @param alphaImageB opacity of B, or null
 * @param alphaImageDst receives the result opacity, or null
 * @param premulAlpha 1: the colours are already premultiplied
 * @param divideMode 1: the colour is divided by the result opacity (floating point)
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexAlphaComposite(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                              int compositeType, VexImage* alphaImageA, VexImage* alphaImageB,
                              VexImage* alphaImageDst, int premulAlpha, int divideMode,
                              const VexMapping* mapping);
/** The same with constant opacities alphaA, alphaB (above M: M; negative:
 * the image's own alpha channel). No result opacity is stored.
 * @param srcImageA A  @param srcImageB B  @param dstImage result (8U or 16U)
 * @param compositeType 0..5  @param alphaA opacity of A  @param alphaB opacity of B
 * @param premulAlpha 0 or 1  @param divideMode 0 or 1
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexAlphaCompositeC(VexImage* srcImageA, VexImage* srcImageB, VexImage* dstImage,
                               int compositeType, int alphaA, int alphaB, int premulAlpha,
                               int divideMode, const VexMapping* mapping);

/* ------------------------------------------------------------------ */
/* Histograms, lookup tables, norms                                    */
/* ------------------------------------------------------------------ */
/* (family: stats) */
/** One record per channel: a binned histogram (bin i covers key[i] <= v <
   key[i+1], its count in value[i]) or a piecewise mapping (segment i starts
   at key[i] with value[i], slope factor[i] when interpolate is non-zero). */
typedef struct VexLUT {
    int  num;          /**< number of keys, at least 2 */
    int* key;          /**< num non-decreasing bin boundaries */
    int* value;        /**< num counts or segment start values */
    int* factor;       /**< num slopes, read only when interpolate is non-zero */
    int  interpolate;  /**< non-zero: linear segments; zero: constant segments */
} VexLUT;

/** Counts the source region's samples into the bins of lut[channel].
 * 8U and 16U. Checks: header, the depth, then "lut==0", "lut[k]==0", "lut[k]->num < 2", "lut[k]->key==0", "lut[k]->value==0", "lut[k]->key[0] < 0", "lut[k]->key[i] > lut[k]->key[i+1]", "lut[k]->key[lut[k]->num-1] > histSize".
 * @param srcImage 8U or 16U  @param lut one record per channel
 * @param tile the source tile as {column, row}, or null */
VEXAPI void vexComputeHisto(VexImage* srcImage, VexLUT** lut, const int* tile);
/** dst = the piecewise mapping of lut[channel] applied to src (8U, 16U).
 * Checks: headers, depths, the records as vexComputeHisto (and "lut[k]->factor==0"
 * when interpolating).
 * @param srcImage 8U or 16U  @param dstImage same depth  @param lut one record per channel
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexContrastStretch(VexImage* srcImage, VexImage* dstImage, VexLUT** lut,
                               const int* tile);
/** Equalises src into dst from the histogram held in lut, then stores the
 * equalised histogram into the records' values (8U, 16U). A histogram of zeroes
 * only is reported as "All values in histogram are zeroes" (VEX_StsInternal).
 * @param srcImage 8U or 16U  @param dstImage same depth  @param lut the histogram per channel
 * @param tile the destination tile as {column, row}, or null for the whole region */
VEXAPI void vexHistoEqualize(VexImage* srcImage, VexImage* dstImage, VexLUT** lut,
                             const int* tile);

/** Norm types (normType of vexNorm); the relative forms are the absolute
   ones plus VEX_NORM_RELATIVE and divide by the norm of srcImageB. */
#define VEX_NORM_INF      1  /**< maximum of |a| or |a - b| */
#define VEX_NORM_L1       2  /**< sum of |a| or |a - b| */
#define VEX_NORM_L2       4  /**< square root of the sum of squares */
#define VEX_NORM_RELATIVE 8
/** The norm of srcImageA, or of srcImageA - srcImageB when srcImageB is given.
 * Checks: headers, "(srcImageA->depth!=srcImageB->depth)",
 * "(srcImageA->nChannels!=srcImageB->nChannels)", "(coiA!=coiB)", "normType unknown".
 * @param srcImageA first image  @param srcImageB second image, or null
 * @param normType VEX_NORM_INF, VEX_NORM_L1 or VEX_NORM_L2, plus VEX_NORM_RELATIVE */
VEXAPI double vexNorm(VexImage* srcImageA, VexImage* srcImageB, int normType);

/* ------------------------------------------------------------------ */
/* Convolution, blur, rank filters, morphology                         */
/* ------------------------------------------------------------------ */
/* (family: filter) */
/** Integer convolution kernel: nRows x nCols signed 8-bit entries, row by
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

/** A new kernel holding a copy of nRows*nCols entries; null on failure.
 * Checks: "(nRows<=0 || nCols<=0)", "(anchorX<0 ||anchorY<0 ||nRows<=anchorY || nCols<=anchorX)",
 * "(values == 0)".
 * @param nRows rows  @param nCols columns  @param anchorX anchor column  @param anchorY anchor row
 * @param values nRows*nCols entries, row by row  @param nShiftR right shift of the sum */
VEXAPI VexConvKernel* vexCreateConvKernel(int nRows, int nCols, int anchorX, int anchorY,
                                          const signed char* values, int nShiftR);
/** Reads a kernel's fields; the entries are copied into *values.
 * @param kernel the kernel  @param nRows receives the rows  @param nCols receives the columns
 * @param anchorX receives the anchor column  @param anchorY receives the anchor row
 * @param values points at the buffer that receives the entries  @param nShiftR receives the shift */
VEXAPI void vexGetConvKernel(const VexConvKernel* kernel, int* nRows, int* nCols, int* anchorX,
                             int* anchorY, signed char** values, int* nShiftR);
/** Releases a kernel and its entries.
 * @param kernel the kernel */
VEXAPI void vexDeleteConvKernel(VexConvKernel* kernel);
/** Convolves with 1 to 100 kernels merged by combineMethod; out-of-image
 * samples come from the source's border modes; results saturate.
 * Checks: headers, "kernel==0", "kernel[i]==0", "ownBadKernel(kernel[i])",
 * "(nKernels<=0 || nKernels>100)", "( combineMethod != 0 && ... != 4)",
 * incompatible images "Uncompatible images", the mapping inside the destination.
 * @param srcImage source  @param dstImage destination (same depth and channels)
 * @param kernel array of nKernels kernels  @param nKernels 1..100
 * @param combineMethod 0 sum, 1 sum of squares, 2 root of the sum of squares, 3 maximum, 4 minimum
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexConvolve2D(VexImage* srcImage, VexImage* dstImage, VexConvKernel** kernel,
                          int nKernels, int combineMethod, const VexMapping* mapping);
/** Separable convolution in 32-bit integers: Xkernel's first row across,
 * Ykernel's first nRows entries down, one arithmetic shift by the sum of both
 * nShiftR at the end, then clamped to the destination depth.
 * Checks: headers, "Xkernel==0", "Ykernel==0", "Xkernel->nCols <= 0",
 * "Ykernel->nRows <= 0", "srcImage->depth != dstImage->depth", data orders,
 * channel counts, origins.
 * @param srcImage source  @param dstImage destination
 * @param Xkernel horizontal kernel  @param Ykernel vertical kernel */
VEXAPI void vexConvolveSep2D(VexImage* srcImage, VexImage* dstImage, const VexConvKernel* Xkernel,
                             const VexConvKernel* Ykernel);
/** Mean of an nRows x nCols window (running sums), fraction cut off.
 * Uses process-wide working parameters: calls must not overlap.
 * Checks: headers, "(srcImage->depth!=dstImage->depth)", "(srcImage->depth==1)",
 * "(nRows<0||nCols<0)", "(anchorX<0||anchorY<0)".
 * @param srcImage source  @param dstImage destination  @param nRows window rows
 * @param nCols window columns  @param anchorX anchor column  @param anchorY anchor row */
VEXAPI void vexBlur(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols, int anchorX,
                    int anchorY);
/** Largest sample of an nRows x nCols window.
 * Checks: headers, "srcImage->depth!=dstImage->depth",
 * "srcImage->dataOrder!=dstImage->dataOrder", "(anchorX>=nCols)||(anchorX<0)",
 * "(anchorY>=nRows)||(anchorY<0)", channels of interest that do not pair.
 * @param srcImage source  @param dstImage destination  @param nRows window rows
 * @param nCols window columns  @param anchorX anchor column  @param anchorY anchor row
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexMaxFilter(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols, int anchorX,
                         int anchorY, const VexMapping* mapping);
/** Smallest sample of an nRows x nCols window.
 * Checks: headers, "srcImage->depth!=dstImage->depth",
 * "srcImage->dataOrder!=dstImage->dataOrder", "(anchorX>=nCols)||(anchorX<0)",
 * "(anchorY>=nRows)||(anchorY<0)", channels of interest that do not pair.
 * @param srcImage source  @param dstImage destination  @param nRows window rows
 * @param nCols window columns  @param anchorX anchor column  @param anchorY anchor row
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexMinFilter(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols, int anchorX,
                         int anchorY, const VexMapping* mapping);
/** Median (rank floor(n/2)+1) sample of an nRows x nCols window.
 * Checks: headers, "srcImage->depth!=dstImage->depth",
 * "srcImage->dataOrder!=dstImage->dataOrder", "(anchorX>=nCols)||(anchorX<0)",
 * "(anchorY>=nRows)||(anchorY<0)", channels of interest that do not pair.
 * @param srcImage source  @param dstImage destination  @param nRows window rows
 * @param nCols window columns  @param anchorX anchor column  @param anchorY anchor row
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexMedianFilter(VexImage* srcImage, VexImage* dstImage, int nRows, int nCols,
                            int anchorX, int anchorY, const VexMapping* mapping);

/* (family: morph) */
/** Erosion: minimum of the 3x3 neighbourhood.
 * 3x3 square structuring element, repeated nIterations (>= 1) times. 1U (one
 * channel), 8U and 16U images; other depths are left untouched; success leaves
 * the status 0. Checks: "Null SRC image header", "Illegal SRC image header contents",
 * "SRC and DST depth are not compatible" (and order, channels, origin),
 * "Illegal number of of iterations", "Mapping must be NULL".
 * @param srcImage source  @param dstImage destination (may be the source)
 * @param nIterations at least 1  @param mapping must be null */
VEXAPI void vexErode(VexImage* srcImage, VexImage* dstImage, int nIterations,
                     const VexMapping* mapping);
/** Dilation: maximum of the 3x3 neighbourhood.
 * 3x3 square structuring element, repeated nIterations (>= 1) times. 1U (one
 * channel), 8U and 16U images; other depths are left untouched; success leaves
 * the status 0. Checks: "Null SRC image header", "Illegal SRC image header contents",
 * "SRC and DST depth are not compatible" (and order, channels, origin),
 * "Illegal number of of iterations", "Mapping must be NULL".
 * @param srcImage source  @param dstImage destination (may be the source)
 * @param nIterations at least 1  @param mapping must be null */
VEXAPI void vexDilate(VexImage* srcImage, VexImage* dstImage, int nIterations,
                      const VexMapping* mapping);
/** Opening: erosion then dilation, per iteration.
 * 3x3 square structuring element, repeated nIterations (>= 1) times. 1U (one
 * channel), 8U and 16U images; other depths are left untouched; success leaves
 * the status 0. Checks: "Null SRC image header", "Illegal SRC image header contents",
 * "SRC and DST depth are not compatible" (and order, channels, origin),
 * "Illegal number of of iterations", "Mapping must be NULL".
 * @param srcImage source  @param dstImage destination (may be the source)
 * @param nIterations at least 1  @param mapping must be null */
VEXAPI void vexOpen(VexImage* srcImage, VexImage* dstImage, int nIterations,
                    const VexMapping* mapping);
/** Closing: dilation then erosion, per iteration.
 * 3x3 square structuring element, repeated nIterations (>= 1) times. 1U (one
 * channel), 8U and 16U images; other depths are left untouched; success leaves
 * the status 0. Checks: "Null SRC image header", "Illegal SRC image header contents",
 * "SRC and DST depth are not compatible" (and order, channels, origin),
 * "Illegal number of of iterations", "Mapping must be NULL".
 * @param srcImage source  @param dstImage destination (may be the source)
 * @param nIterations at least 1  @param mapping must be null */
VEXAPI void vexClose(VexImage* srcImage, VexImage* dstImage, int nIterations,
                     const VexMapping* mapping);

/* ------------------------------------------------------------------ */
/* Zoom, decimation, rotation                                          */
/* ------------------------------------------------------------------ */
/* (family: geom) */
/** Interpolation codes of zoom, decimation and rotation. */
#define VEX_INTER_NN     0
#define VEX_INTER_LINEAR 1
#define VEX_INTER_CUBIC  2

/** Enlarges the source region by xU/xL horizontally and yU/yL vertically
 * (each factor at least 1) into the destination region, in floating point.
 * 8S, 16S and 32S images are passed over.
 * Checks: headers, "srcImage->depth != dstImage->depth", data orders,
 * "xU <= 0 || xL <= 0", "yU <= 0 || yL <= 0", "xU < xL || yU < yL",
 * "interpolate != VEX_INTER_NN && interpolate != VEX_INTER_LINEAR && interpolate != VEX_INTER_CUBIC".
 * @param srcImage source  @param dstImage destination
 * @param xU horizontal factor numerator  @param xL horizontal factor denominator
 * @param yU vertical factor numerator  @param yL vertical factor denominator
 * @param interpolate VEX_INTER_NN, VEX_INTER_LINEAR or VEX_INTER_CUBIC
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexZoom(VexImage* srcImage, VexImage* dstImage, int xU, int xL, int yU, int yL,
                    int interpolate, const VexMapping* mapping);
/** Shrinks the source region by xU/xL and yU/yL (each factor at most 1)
 * into the destination region, in 8-bit fixed point; 1U, 8U and 16U.
 * Checks: headers, depths, orders, origins, "xU <= 0", "xL <= 0", "xU > xL"
 * (and y), "interpolate is wrong", "srcImage->depth is wrong".
 * @param srcImage source  @param dstImage destination
 * @param xU horizontal factor numerator  @param xL horizontal factor denominator
 * @param yU vertical factor numerator  @param yL vertical factor denominator
 * @param interpolate VEX_INTER_NN, VEX_INTER_LINEAR or VEX_INTER_CUBIC
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexDecimate(VexImage* srcImage, VexImage* dstImage, int xU, int xL, int yU, int yL,
                        int interpolate, const VexMapping* mapping);
/** Rotates the source image about (xShift, yShift) by angle hundredths of a
 * degree into the destination region; positions outside the source give 0.
 * Right angles are exact; 0 is a copy. Unsigned depths.
 * Checks: headers, "srcImage->depth != dstImage->depth", "srcImage->depth & VEX_DEPTH_SIGN",
 * data orders, origins, the interpolation code.
 * @param srcImage source  @param dstImage destination  @param angle hundredths of a degree
 * @param xShift centre column  @param yShift centre row
 * @param interpolate VEX_INTER_NN, VEX_INTER_LINEAR or VEX_INTER_CUBIC
 * @param mapping null, or a destination pixel {xDst, yDst} whose tile alone is computed (tiled destination) */
VEXAPI void vexRotate(VexImage* srcImage, VexImage* dstImage, int angle, int xShift, int yShift,
                      int interpolate, const VexMapping* mapping);

/* ------------------------------------------------------------------ */
/* Two-dimensional FFT and DCT                                         */
/* ------------------------------------------------------------------ */
/* (family: transform) */
/** Flags of the two-dimensional FFT (bits combine). */
#define VEX_FFT_FORWARD   0x1   /**< exponent e^(-2 pi i jk/n), no scaling */
#define VEX_FFT_INVERSE   0x2   /**< exponent e^(+2 pi i jk/n), result times 1/(W*H) */
#define VEX_FFT_NOSCALE   0x4   /**< with VEX_FFT_INVERSE: no 1/(W*H) factor */
#define VEX_FFT_ALPHA     0x8   /**< transform the alpha channel too */
#define VEX_FFT_INTEGER   0x10  /**< integer engine (32-bit integer working rows) */
#define VEX_FFT_FLOAT     0x20  /**< floating-point engine (single-precision working rows) */
#define VEX_FFT_REUSE     0x40  /**< reuse the calling thread's previous setup */
#define VEX_FFT_FREE      0x80  /**< free the calling thread's tables and return */
#define VEX_FFT_KEEP      0x100 /**< keep the tables after the call */

/** Real image -> packed complex-conjugate-symmetric (CCS) spectrum, per
 * channel over the intersection of the two regions.
 * Checks: "srcImage==0", "dstImage==0", "srcImage->imageData==0",
 * "dstImage->imageData==0", "(map!=((void*)(0)))", unusable sizes, depths,
 * flags or regions "Error in input data", an empty region
 * "No calculations! Looking input data!". Uses process-wide tables.
 * @param srcImage source  @param dstImage destination (8U, 8S, 16U, 16S or 32S)
 * @param flags VEX_FFT_* bits  @param map must be null */
VEXAPI void vexRealFft2D(VexImage* srcImage, VexImage* dstImage, int flags, const void* map);
/** CCS spectrum -> real image (same flags and rules as vexRealFft2D).
 * Checks: "srcImage==0", "dstImage==0", "srcImage->imageData==0",
 * "dstImage->imageData==0", "(map!=((void*)(0)))", unusable sizes, depths,
 * flags or regions "Error in input data", an empty region
 * "No calculations! Looking input data!". Uses process-wide tables.
 * @param srcImage source  @param dstImage destination (8U, 8S, 16U, 16S or 32S)
 * @param flags VEX_FFT_* bits  @param map must be null */
VEXAPI void vexCcsFft2D(VexImage* srcImage, VexImage* dstImage, int flags, const void* map);

/** Flags of the two-dimensional DCT. */
#define VEX_DCT_FORWARD       1
#define VEX_DCT_INVERSE       2
#define VEX_DCT_PROCESS_ALPHA 4
#define VEX_DCT_FREE          8

/** Orthonormal two-dimensional DCT-II (forward) or DCT-III (inverse) of each
 * channel, rounded to nearest (ties to even) and saturated to the destination
 * depth. VEX_DCT_FREE releases the cached tables.
 * Checks: "src==0", "dst==0", incompatible images or flags "Images are not compatible".
 * @param srcImage source  @param dstImage destination
 * @param flags VEX_DCT_FORWARD or VEX_DCT_INVERSE, VEX_DCT_PROCESS_ALPHA, VEX_DCT_FREE */
VEXAPI void vexDCT2D(VexImage* srcImage, VexImage* dstImage, int flags);

#ifdef __cplusplus
}
#endif

#endif /* VEXLIB_H */
