# find_package(KVBL CONFIG): the KV32 bootloader-protocol libraries and the
# image-file library as imported targets
#   KVBL::KVBLLIB     UART and USB DFU, and every bridge   <kvbl/KVBLLIB.h>
#   KVBL::KVI2CBLLIB  through an I2C bridge                 <kvbl/KVI2CBL.h>
#   KVBL::KVSPIBLLIB  through an SPI bridge                 <kvbl/KVSPIBL.h>
#   KVBL::KVCANBLLIB  through a CAN bridge                  <kvbl/KVCANBL.h>
#   KVBL::Files       memory images and device maps (C++)  <kvbl/Files.h>
# Linking one of them brings its include folder.
include("${CMAKE_CURRENT_LIST_DIR}/KVBLTargets.cmake")
