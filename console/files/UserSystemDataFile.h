// CUserSystemDataFile: an option-byte file, one element holding the
// 4096-byte element image.
#ifndef TARNFLASH_FILES_USERSYSTEMDATAFILE_H
#define TARNFLASH_FILES_USERSYSTEMDATAFILE_H

#include "files/FileImage.h"

class CUserSystemDataFile : public CFiles {
 public:
  int Open(const std::string& strPath, CDevice* obDevice) override;
  int Create(CDevice* obDevice) override;
};

#endif
