// The OTP-file, user-system-data-file and command-line entries over their
// seeds and mutations.
#include <gtest/gtest.h>

#include "FuzzEntries.h"
#include "FuzzSmoke.h"

namespace {

struct ConsoleCase {
  const char* name;
  FuzzEntry entry;
  int rounds;
};

class ConsoleInputs : public ::testing::TestWithParam<ConsoleCase> {};

TEST_P(ConsoleInputs, SurviveSeedsAndMutations) {
  const std::vector<std::string> seeds = Seeds(GetParam().name);
  ASSERT_FALSE(seeds.empty());
  EXPECT_EQ(seeds.size() * (GetParam().rounds + 1), Exercise(GetParam().entry, seeds, GetParam().rounds));
}

INSTANTIATE_TEST_SUITE_P(Fuzz, ConsoleInputs,
                         ::testing::Values(ConsoleCase{"otp", FuzzOtpFile, 2000},
                                           ConsoleCase{"usd", FuzzUserSystemData, 500},
                                           ConsoleCase{"cli", FuzzCommandLine, 300}),
                         [](const ::testing::TestParamInfo<ConsoleCase>& info) { return std::string(info.param.name); });

}  // namespace
