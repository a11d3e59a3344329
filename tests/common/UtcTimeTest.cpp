#include "common/UtcTime.h"

#include <gtest/gtest.h>

namespace {

TEST(UtcTime, StampsAreWrittenAndCheckedFieldByField) {
    EXPECT_EQ(common::UtcTimeStamp(0), "1970-01-01T00:00:00Z");
    EXPECT_EQ(common::UtcTimeStamp(1796810400), "2026-12-09T10:00:00Z");
    const std::pair<const char*, bool> cases[] = {
        {"2026-12-09T16:02:38Z", true},  {"2026-12-09T16:02:60Z", true},
        {"2026-13-09T16:02:38Z", false}, {"2026-12-00T16:02:38Z", false},
        {"2026-12-09T24:02:38Z", false}, {"2026-12-09 16:02:38Z", false},
        {"2026-12-09T16:02:38", false},  {"2026-12-09T16:02:3xZ", false},
    };
    for (const auto& [text, valid] : cases)
        EXPECT_EQ(common::IsUtcTimeStamp(text), valid) << text;
    EXPECT_TRUE(common::IsUtcTimeStamp(common::UtcTimeStamp())) << common::UtcTimeStamp();
}

} // namespace
