"""Binding smoke test: the documented VexImage layout, declared with ctypes
from the header's field list alone, must agree with what the library writes.
Catches field-order or size drift that a C++ test compiled against the same
header cannot see."""
import ctypes as C
import sys

lib = C.CDLL(sys.argv[1])


class VexROI(C.Structure):
    _fields_ = [("coi", C.c_int), ("xOffset", C.c_int), ("yOffset", C.c_int),
                ("height", C.c_int), ("width", C.c_int)]


class VexImage(C.Structure):
    _fields_ = [("headerSize", C.c_int), ("headerId", C.c_int), ("nChannels", C.c_int),
                ("alphaChannel", C.c_int), ("depth", C.c_uint), ("colorSpace", C.c_char * 4),
                ("channelSeq", C.c_char * 4), ("dataOrder", C.c_int), ("origin", C.c_int),
                ("align", C.c_int), ("height", C.c_int), ("width", C.c_int),
                ("roi", C.POINTER(VexROI)), ("maskImage", C.c_void_p), ("userData", C.c_void_p),
                ("tileInfo", C.c_void_p), ("dataSize", C.c_int), ("imageData", C.POINTER(C.c_ubyte)),
                ("widthStep", C.c_int), ("borderMode", C.c_int * 4), ("borderValue", C.c_int * 4),
                ("dataBlock", C.c_void_p)]


lib.vexCreateImageHeader.restype = C.POINTER(VexImage)
lib.vexCreateImageHeader.argtypes = [C.c_int, C.c_int, C.c_int, C.c_char_p, C.c_char_p, C.c_int,
                                     C.c_int, C.c_int, C.c_int, C.c_int, C.c_void_p, C.c_void_p,
                                     C.c_void_p]
lib.vexAddS.argtypes = [C.POINTER(VexImage), C.POINTER(VexImage), C.c_int, C.c_void_p]
lib.vexErrorStr.restype = C.c_char_p
lib.vexSetBorderMode.argtypes = [C.POINTER(VexImage), C.c_int, C.c_int, C.c_int]

# 3 channels of 8U in plane order, 5 rows of 7 pixels, align 8, with a user pointer.
p = lib.vexCreateImageHeader(3, 2, 8, b"RGB", b"BGR", 1, 1, 8, 5, 7, None, C.c_void_p(0x1234), None)
im = p.contents
checks = [
    ("headerSize", im.headerSize, C.sizeof(VexImage)),
    ("nChannels", im.nChannels, 3), ("alphaChannel", im.alphaChannel, 2), ("depth", im.depth, 8),
    ("colorSpace", im.colorSpace, b"RGB"), ("channelSeq", im.channelSeq, b"BGR"),
    ("dataOrder", im.dataOrder, 1), ("origin", im.origin, 1), ("align", im.align, 8),
    ("height", im.height, 5), ("width", im.width, 7), ("userData", im.userData, 0x1234),
    ("widthStep", im.widthStep, 8), ("dataSize", im.dataSize, 8 * 5 * 3),
]
lib.vexSetBorderMode(p, 3, 8, 77)  # right side only
checks += [("borderMode", list(im.borderMode), [0, 0, 0, 3]),
           ("borderValue", list(im.borderValue), [0, 0, 0, 77])]
lib.vexAllocateImage(p, 40)
lib.vexAddS(p, p, 2, None)
checks += [("status", lib.vexGetErrStatus(), 0),
           ("sample", im.imageData[im.widthStep * im.height * 2 + 6], 42),
           ("dataBlock set", bool(im.dataBlock), True),
           ("status text", lib.vexErrorStr(-5), b"Bad argument")]
lib.vexDeallocate(p, 31)

bad = [(name, got, want) for name, got, want in checks if got != want]
for name, got, want in bad:
    print(f"{name}: got {got!r}, want {want!r}")
print("ctypes layout agrees" if not bad else f"{len(bad)} mismatches")
sys.exit(1 if bad else 0)
