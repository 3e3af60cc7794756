// SPDX-License-Identifier: MIT
// libFiles: memory images (raw binary, Intel HEX, Motorola S-record) and the
// sector tables of device maps. C++ only (its functions have C++ linkage), no
// exceptions leave the library: every call returns FILES_NOERROR or one of the
// error codes below.
#ifndef LIBFILES_FILES_H
#define LIBFILES_FILES_H

#ifndef __cplusplus
#error "Files.h declares the C++ interface of libFiles: include it from C++"
#endif

#if defined(FILES_BUILDING_LIBRARY)
#define FILES_API __attribute__((visibility("default")))
#else
#define FILES_API
#endif

// Result codes of the library. Success is FILES_NOERROR, errors are small
// numbers; the program converts them into its own codes. They live in a
// namespace of their own so that the program's result names of the same
// spelling do not collide with them.
namespace libfiles {
constexpr unsigned int FILES_NOERROR = 0x12340000;
constexpr unsigned int FILES_BADSUFFIX = 2;
constexpr unsigned int FILES_UNABLETOOPENFILE = 3;
constexpr unsigned int FILES_UNABLETOOPENTEMPFILE = 4;
constexpr unsigned int FILES_BADFORMAT = 5;
constexpr unsigned int FILES_BADADDRESSRANGE = 6;
constexpr unsigned int FILES_BADPARAMETER = 8;
constexpr unsigned int FILES_UNEXPECTEDERROR = 10;
constexpr unsigned int FILES_FILEGENERALERROR = 13;
constexpr unsigned int FILES_NOTOPEN = 14;
constexpr unsigned int FILES_SETELEMENTFULL = 15;

// Fixed windows of the chips' address space.
constexpr unsigned int FILES_FLASH_BASE = 0x08000000;
constexpr unsigned int FILES_SPIM_BASE = 0x08400000;
constexpr unsigned int FILES_SPIM_MAX_SIZE = 16u * 1024 * 1024;
constexpr unsigned int FILES_SPIM_SECTOR_SIZE = 4096;

// Bounds on outside input.
constexpr unsigned long FILES_MAX_FILE_BYTES = 256ul * 1024 * 1024;   // any file read
constexpr unsigned long FILES_MAX_IMAGE_BYTES = 64ul * 1024 * 1024;   // data of one image
constexpr unsigned long FILES_MAX_ELEMENTS = 1ul << 20;               // elements of one image
constexpr unsigned long FILES_MAX_SECTORS = 32767;                    // sectors of one map (a short)
}  // namespace libfiles

// One element of an image: a run of bytes at an address. Data belongs to
// the caller.
struct IMAGEELEMENT {
  unsigned long dwAddress;
  unsigned long dwDataLength;
  unsigned char* Data;
};

struct MAPPINGSECTOR {
  char Name[256];
  unsigned long dwStartAddress;
  unsigned long dwAliasedAddress;
  unsigned long dwSectorIndex;
  unsigned long dwSectorSize;
  unsigned char bSectorType;
  bool UseForOperation;
  bool UseForErase;
  bool UseForUpload;
  bool UseForEraseProgramProtect;
};

struct MAPPING {
  unsigned char nAlternate;
  char Name[256];
  unsigned long NbSectors;
  MAPPINGSECTOR* pSectors;
};

// Opaque image handle.
struct FilesImage;
typedef FilesImage* FILES_HIMAGE;

// Kind of an image file, decided from the last path component alone: the
// first of ".bin", ".hex", ".s19", ".srec", ".elf" found in it, lower-cased.
// ELF images are read, never written.
enum FILES_KIND {
  FILES_KIND_UNKNOWN = 0,
  FILES_KIND_BIN = 1,
  FILES_KIND_HEX = 2,
  FILES_KIND_SREC = 3,
  FILES_KIND_ELF = 4
};
FILES_API FILES_KIND FILES_GetFileKind(const char* path);

// Device map. Without a mapping: yields the sector count, the map's name
// (up to 127 characters and a terminator), the packet size and the sectors
// per protection bit. With a mapping whose pSectors has room for *count
// records: fills it. Returns 0 on success, an error code otherwise.
FILES_API unsigned int FILES_GetMemoryMapping(const char* path, short* count, char* name, short* packetSize,
                                              MAPPING* mapping, unsigned char* sectorsPerSector);

// One value of an INI file such as a device map, read by the rule every
// map is read by: a comment is a whole line whose first non-blank character
// is ';' or '#'; a value runs to the end of its line with its outer blanks
// trimmed, so "a;b" is the value a;b. Copies at most size - 1 characters and
// a terminator into value (size 0: nothing) and sets *length to the value's
// full length; an absent key gives an empty value. Fails when the file
// cannot be read or is no INI file.
FILES_API unsigned int FILES_GetMapValue(const char* path, const char* section, const char* key, char* value,
                                         unsigned long size, unsigned long* length);

// flag is ignored (kept for callers that pass 1).
FILES_API unsigned int FILES_CreateImage(FILES_HIMAGE* image, int flag);
// One 0xFF-filled element per sector of the mapping, in sector order, then
// one per 4 KB sector of an external bank of bank3SizeKB kilobytes.
FILES_API unsigned int FILES_CreateImageFromMapping(FILES_HIMAGE* image, const MAPPING* mapping, int bank3SizeKB);
// flag 1: program image (a binary file is placed at the flash base);
// flag 0: user-system-data image (a binary file is placed at address 0).
FILES_API unsigned int FILES_ImageFromFile(const char* path, FILES_HIMAGE* image, int flag);
FILES_API unsigned int FILES_SetImageName(FILES_HIMAGE image, const char* path);
FILES_API unsigned int FILES_GetImageName(FILES_HIMAGE image, char* name, unsigned long size);
// Cuts the image at sector boundaries of the mapping (and of the external
// bank window); with optimize drops pieces that are all 0xFF. Data outside
// both windows fails with FILES_BADADDRESSRANGE and leaves the image as it
// was. operation is accepted for compatibility and not otherwise used.
FILES_API unsigned int FILES_FilterImageForOperation(FILES_HIMAGE image, const MAPPING* mapping, int operation,
                                                     bool optimize);
FILES_API unsigned int FILES_GetImageNbElement(FILES_HIMAGE image, unsigned long* count);
// With element->Data null: fills address and length. Otherwise copies the
// data into Data, which must hold element->dwDataLength >= the element's
// length bytes.
FILES_API unsigned int FILES_GetImageElement(FILES_HIMAGE image, unsigned long index, IMAGEELEMENT* element);
// Stores a copy of the element at index, inserting it before the element
// at that position (index == count appends) or replacing it.
FILES_API unsigned int FILES_SetImageElement(FILES_HIMAGE image, unsigned long index, bool insert,
                                             const IMAGEELEMENT* element);
// Writes the image in the format of the path's kind (not ELF:
// FILES_BADSUFFIX).
FILES_API unsigned int FILES_ImageToFile(const char* path, FILES_HIMAGE image);
FILES_API unsigned int FILES_DestroyImage(FILES_HIMAGE* image);

// Why the last call of this thread that failed did so, in words: for a
// file that does not parse, the line and what is wrong with it ("line 12:
// checksum error ..."). Copies at most size - 1 characters and a
// terminator; empty after a call that succeeded.
FILES_API unsigned int FILES_GetLastErrorText(char* text, unsigned long size);

#endif
