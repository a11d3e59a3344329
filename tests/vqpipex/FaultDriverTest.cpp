#include "burnwise/device/testing/FaultDriver.h"

#include "burnwise/device/testing/InProcessBench.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

using burnwise::device::testing::FaultDriver;
using burnwise::device::testing::InProcessBench;

// A fixed sequence of calls: count, open, 4 reads, a write, an erase, close.
std::vector<VQ_STATUS> RunSequence(burnwise::device::PipexDriver& driver) {
    std::vector<VQ_STATUS> statuses;
    std::int32_t count = 0;
    statuses.push_back(driver.ListDevices(&count, nullptr, VQ_LIST_NUMBER_ONLY));
    VQ_HANDLE h = nullptr;
    statuses.push_back(driver.Open(0, &h));
    for (std::uint32_t w = 0; w < 4; ++w) {
        std::uint16_t v = 0;
        statuses.push_back(driver.ReadEE(h, w, &v));
    }
    statuses.push_back(driver.WriteEE(h, 1, 0x42));
    statuses.push_back(driver.EraseEE(h));
    statuses.push_back(driver.Close(h));
    return statuses;
}

TEST(FaultDriver, FailsExactlyTheChosenCall) {
    for (int n = 1; n <= 9; ++n) {
        SCOPED_TRACE(n);
        InProcessBench bench;
        bench.AddDevice("KR2S");
        FaultDriver driver(bench);
        driver.FailCall(n, VQ_EEPROM_READ_FAILED);
        const auto statuses = RunSequence(driver);
        ASSERT_EQ(statuses.size(), 9u);
        for (int i = 1; i <= 9; ++i) {
            // With the open failed, later calls meet a handle that is not open.
            const bool afterFailedOpen = n == 2 && i > 2;
            const VQ_STATUS expected = i == n            ? VQ_EEPROM_READ_FAILED
                                       : afterFailedOpen ? VQ_INVALID_HANDLE
                                                         : VQ_OK;
            EXPECT_EQ(statuses[static_cast<std::size_t>(i - 1)], expected) << "call " << i;
        }
        EXPECT_EQ(driver.Calls(), 9);
        EXPECT_EQ(driver.Calls("VQ_ReadEE"), 4);
        EXPECT_EQ(driver.Calls("VQ_Close"), 1);
        EXPECT_EQ(driver.Calls("VQ_CyclePort"), 0);
        EXPECT_EQ(driver.Failures(), 1);
        EXPECT_EQ(bench.OpenHandles(),
                  0); // a failed close still closes, a failed open opens nothing
    }
}

TEST(FaultDriver, AFailedCallDoesNotReachTheDevice) {
    InProcessBench bench;
    bench.AddDevice("KR2S");
    FaultDriver driver(bench);
    driver.FailCall(7); // the write
    driver.FailCall(8); // the erase
    const std::vector<std::uint16_t> image(64, 0x1111);
    bench.SetWords(0, image);
    RunSequence(driver);
    EXPECT_EQ(bench.Words(0), image);
}

TEST(FaultDriver, SeededFailuresRepeatAndFollowThePercentage) {
    auto failures = [](std::uint32_t seed, int percent) {
        InProcessBench bench;
        bench.AddDevice("KR2S");
        FaultDriver driver(bench);
        driver.FailFromSeed(seed, percent, VQ_OTHER_ERROR);
        std::vector<int> failed;
        VQ_HANDLE h = nullptr;
        while (driver.Open(0, &h) != VQ_OK)
            failed.push_back(driver.Calls());
        for (int i = 0; i < 2000; ++i) {
            std::uint16_t v = 0;
            if (driver.ReadEE(h, 0, &v) != VQ_OK) failed.push_back(driver.Calls());
        }
        driver.Close(h);
        EXPECT_EQ(bench.OpenHandles(), 0);
        EXPECT_EQ(driver.Failures(), static_cast<int>(failed.size()));
        return failed;
    };
    EXPECT_EQ(failures(11, 10), failures(11, 10));
    EXPECT_NE(failures(11, 10), failures(12, 10));
    const auto tenPercent = failures(3, 10).size();
    EXPECT_GT(tenPercent, 120u);
    EXPECT_LT(tenPercent, 300u);
    EXPECT_TRUE(failures(3, 0).empty());
}

} // namespace
