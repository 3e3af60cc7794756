// Checks the flash and configuration commands make on their sub-option values.
#ifndef TARNFLASH_CLI_COMMANDCHECKS_H
#define TARNFLASH_CLI_COMMANDCHECKS_H

#include <QList>

#include <string>

class CCom;
class CDevice;

// "n-m": begin from the text before the last '-' (the whole text without
// one); end from the text after it (without one: the text less its last
// character). Decimal.
void ReadSectorRange(const std::string& text, int& begin, int& end);
// Sector numbers 0..n-1 of the connected chip; empty without link or device.
QList<int> GetAllSectors(CCom* com);
bool IsSectorsValid(int begin, int end, CCom* com);
// A full path whose last component ends in HEX, BIN, SREC, S19 or ELF (any
// case).
bool IsValidFileName(const std::string& name);
// Whether the program writes files of this name's kind (ELF images are
// read only).
bool CanWriteImageKind(const std::string& name);
// Whether a file of this name can be made: its folder exists and may be
// written, and the name is no folder. 0, or the result code the write
// would fail with; the reason goes to standard error.
int CheckFileCreatable(const std::string& name);
// A full path whose last component ends in KVTP (any case).
bool IsValidOTPFileName(const std::string& name);
// The connected chip's description; null without connection, link or device.
CDevice* ConnectedDevice(CCom* com);
// The chip's series code (its serial text read as hexadecimal); -1 without.
int SeriesCode(CCom* com);

#endif
