// The link-answer entries over their seeds and mutations: nothing read past
// a buffer, no success on bytes that never arrived, no hang.
#include <gtest/gtest.h>

#include "FuzzEntries.h"
#include "FuzzSmoke.h"

namespace {

struct LinkCase {
  const char* name;
  FuzzEntry entry;
};

class LinkAnswers : public ::testing::TestWithParam<LinkCase> {};

TEST_P(LinkAnswers, SurviveSeedsAndMutations) {
  const std::vector<std::string> seeds = Seeds(GetParam().name);
  ASSERT_FALSE(seeds.empty());
  EXPECT_EQ(seeds.size() * 1501, Exercise(GetParam().entry, seeds, 1500));
}

INSTANTIATE_TEST_SUITE_P(Fuzz, LinkAnswers,
                         ::testing::Values(LinkCase{"usart", FuzzUsartAnswers}, LinkCase{"i2c", FuzzI2CAnswers},
                                           LinkCase{"spi", FuzzSpiAnswers}, LinkCase{"can", FuzzCanAnswers}),
                         [](const ::testing::TestParamInfo<LinkCase>& info) { return std::string(info.param.name); });

}  // namespace
