// The SPI and CAN transports inside libKVBLLIB, chosen per port by
// TARGET_SetComIntType, against kv32sim: the program's own path.
#include <functional>

#include "SimSession.h"

namespace {

TEST(RoutedBridges, EachTypeReachesTheChipOnItsLink) {
  struct Case {
    const char* link;
    BYTE type;
    std::function<BYTE(HANDLE)> start;
  } cases[] = {
      {"spi", KVBL_INTERFACE_SPI, [](HANDLE h) { return KVBL_Init_BL(h, 0, 150000, 0); }},
      {"can", KVBL_INTERFACE_CAN,
       [](HANDLE h) {
         const BYTE r = KVBL_Init_BL(h, 0, 2, 0);
         return r != SUCCESS ? r : KVBL_SetSpeed(h, 2);
       }},
  };
  for (const Case& c : cases) {
    ASSERT_EQ(SUCCESS, TARGET_SetComIntType(c.type)) << c.link;
    SimSession s;
    ASSERT_TRUE(s.open(c.link, {}, 30 + c.type)) << c.link;
    ASSERT_EQ(SUCCESS, c.start(s.h)) << c.link;
    ASSERT_TRUE(s.identify()) << c.link;
    EXPECT_EQ((std::vector<BYTE>{0x02, 0x41, 0x70, 0x04, 0x04}), s.pid) << c.link;
    auto sectors = SectorList(2, 1);
    ASSERT_EQ(SUCCESS, KVBL_ERASE(s.h, 1, sectors.data(), 2048)) << c.link;
    auto image = Pattern(999, c.type);
    const DWORD at = 0x08000000 + 2 * 2048;
    ASSERT_EQ(SUCCESS, KVBL_DNLOAD(s.h, at, image.data(), image.size(), 0)) << c.link;
    EXPECT_EQ(SUCCESS, KVBL_VERIFY(s.h, at, image.data(), image.size(), 0)) << c.link;
  }
  TARGET_SetComIntType(KVBL_INTERFACE_USART);
}

}  // namespace
