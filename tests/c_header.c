/* The public header used from C: records, constants and a few calls. */
#include <stdio.h>
#include <string.h>

#include "vexlib.h"

int main(void) {
    VexImage* image;
    VexROI roi = {0, 1, 1, 2, 2};
    const VexLibVersion* version = vexGetLibVersion();
    if (version->majorVersion != 1 || strcmp(version->fileName, "vexlib.dll") != 0) return 1;
    vexSetErrMode(VEX_ErrModeParent);
    vexRedirectError(vexNulDevReport);
    image = vexCreateImageHeader(3, 0, (int)VEX_DEPTH_8U, "RGB", "BGR", VEX_DATA_ORDER_PIXEL,
                                 VEX_ORIGIN_TL, 4, 4, 5, NULL, NULL, NULL);
    if (!image || image->widthStep != 16 || image->headerSize != (int)sizeof(VexImage)) return 2;
    vexAllocateImage(image, 7);
    if (vexBadImageHeader(image) != 0 || (unsigned char)image->imageData[15] != 7) return 3;
    image->roi = &roi;
    if (vexBadImageHeader(image) != 0) return 4;
    image->roi = NULL;
    vexDeallocate(image, VEX_IMAGE_ALL);
    if (strcmp(vexErrorStr(VEX_StsBadArg), "Bad argument") != 0) return 5;
    puts("C interface ok");
    return 0;
}
