// The Sleuth Kit installs the header that describes its FAT and exFAT file
// systems (tsk/fs/tsk_fatfs.h: the geometry of the data area, the cluster
// allocation test) but not the internal header it includes. This stands in
// for that one: the library's public declarations, and the internal types
// the FAT header names in functions that are never called from here.
#pragma once

#include <tsk/libtsk.h>

typedef int TSKConversionResult;
typedef unsigned short UTF16;
typedef unsigned char UTF8;
