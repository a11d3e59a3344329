// The hardware rules of the simulated bench, seen through the driver operations of the
// in-process bench (the library runs the same core).
#include "DeviceJobs.h"
#include "burnwise/device/testing/InProcessBench.h"

#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace {

using burnwise::device::testing::Fault;
using burnwise::device::testing::FaultKind;
using burnwise::device::testing::InProcessBench;

// An open handle on one device of a bench, closed at the end of the test.
struct Opened {
    InProcessBench& Bench;
    VQ_HANDLE Handle = nullptr;
    Opened(InProcessBench& bench, int index) : Bench(bench) {
        EXPECT_EQ(Bench.Open(index, &Handle), VQ_OK);
    }
    ~Opened() { Bench.Close(Handle); }
    VQ_STATUS Read(std::uint32_t offset, std::uint16_t& value) {
        return Bench.ReadEE(Handle, offset, &value);
    }
    VQ_STATUS Write(std::uint32_t offset, std::uint16_t value) {
        return Bench.WriteEE(Handle, offset, value);
    }
};

TEST(BenchCore, EveryModelReportsItsTypeCodeAndChannels) {
    struct Row {
        const char* Model;
        std::uint32_t Code;
        std::vector<std::string> Descriptions;
    };
    const Row rows[] = {
        {"KR1S", 1, {"KR1S USB UART"}},
        {"KR1F", 1, {"KR1F USB FIFO"}},
        {"KR2S", 0, {"KR2S USB Serial"}},
        {"KR2F", 0, {"KR2F USB FIFO"}},
        {"KR3D", 4, {"KR3D Dual UART A", "KR3D Dual UART B"}},
        {"KR3E", 4, {"KR3E Dual FIFO A", "KR3E Dual FIFO B"}},
        {"KR4S", 5, {"KR4S USB Serial"}},
        {"KR4F", 5, {"KR4F USB FIFO"}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.Model);
        InProcessBench bench;
        bench.AddDevice("KR2S");
        const int first = bench.AddDevice(row.Model);
        EXPECT_EQ(first, 1);
        std::int32_t count = 0;
        ASSERT_EQ(bench.ListDevices(&count, nullptr, VQ_LIST_NUMBER_ONLY), VQ_OK);
        ASSERT_EQ(count, static_cast<int>(1 + row.Descriptions.size()));
        for (std::size_t channel = 0; channel < row.Descriptions.size(); ++channel) {
            Opened device(bench, first + static_cast<int>(channel));
            std::uint32_t code = 99, id = 0;
            char serial[VQ_TEXT_SIZE] = {}, description[VQ_TEXT_SIZE] = {},
                 reserved[VQ_TEXT_SIZE] = {};
            ASSERT_EQ(bench.GetDeviceInfo(device.Handle, &code, &id, serial, description, reserved),
                      VQ_OK);
            EXPECT_EQ(code, row.Code);
            EXPECT_EQ(std::string(description), row.Descriptions[channel]);
            EXPECT_EQ(std::string(serial), bench.SerialOf(first + static_cast<int>(channel)));
            EXPECT_EQ(reserved[0], '\0');
            // Null text pointers are left alone; the type code still comes.
            code = 99;
            EXPECT_EQ(bench.GetDeviceInfo(device.Handle, &code, nullptr, nullptr, nullptr, nullptr),
                      VQ_OK);
            EXPECT_EQ(code, row.Code);
        }
    }
}

TEST(BenchCore, ASmallerPartIgnoresTheUpperAddressBits) {
    struct Row {
        const char* Eeprom;
        std::size_t Words;
        std::uint32_t Address;
        std::size_t Landing;
    };
    const Row rows[] = {
        {"93C46", 64, 192, 0},    {"93C46", 64, 64, 0},     {"93C46", 64, 127, 63},
        {"93C56", 128, 192, 64},  {"93C56", 128, 255, 127}, {"93C66", 256, 192, 192},
        {"93C66", 256, 255, 255},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.Eeprom) + " address " + std::to_string(row.Address));
        InProcessBench bench;
        bench.AddDevice("KR2S", row.Eeprom);
        Opened device(bench, 0);
        ASSERT_EQ(device.Write(row.Address, 0x00C0), VQ_OK);
        const auto words = bench.Words(0);
        ASSERT_EQ(words.size(), row.Words);
        for (std::size_t i = 0; i < words.size(); ++i)
            EXPECT_EQ(words[i], i == row.Landing ? 0x00C0 : 0xFFFF) << "word " << i;
        std::uint16_t value = 0;
        ASSERT_EQ(device.Read(row.Landing, value), VQ_OK);
        EXPECT_EQ(value, 0x00C0);
    }
}

TEST(BenchCore, EraseBlanksEveryWordOfThePart) {
    for (const char* eeprom : {"93C46", "93C56", "93C66"}) {
        SCOPED_TRACE(eeprom);
        InProcessBench bench;
        bench.AddDevice("KR1S", eeprom);
        const std::vector<std::uint16_t> zeros(256, 0);
        bench.SetWords(0, zeros);
        Opened device(bench, 0);
        ASSERT_EQ(bench.EraseEE(device.Handle), VQ_OK);
        for (std::uint16_t w : bench.Words(0))
            ASSERT_EQ(w, 0xFFFF);
    }
}

TEST(BenchCore, WithoutAnEepromReadsWritesAndEraseFail) {
    InProcessBench bench;
    bench.AddDevice("KR2S", "none");
    EXPECT_TRUE(bench.Words(0).empty());
    Opened device(bench, 0);
    std::uint16_t value = 0x1234;
    EXPECT_EQ(device.Read(0, value), VQ_EEPROM_NOT_PRESENT);
    EXPECT_EQ(value, 0x1234);
    EXPECT_EQ(device.Write(0, 1), VQ_EEPROM_NOT_PRESENT);
    EXPECT_EQ(bench.EraseEE(device.Handle), VQ_EEPROM_NOT_PRESENT);
}

TEST(BenchCore, OffsetsBeyondTheAddressRangeAreInvalid) {
    InProcessBench bench;
    bench.AddDevice("KR2S", "93C66");
    bench.AddDevice("KR4S");
    for (int index : {0, 1}) {
        Opened device(bench, index);
        std::uint16_t value = 0;
        EXPECT_EQ(device.Read(256, value), VQ_INVALID_PARAMETER);
        EXPECT_EQ(device.Write(256, 0), VQ_INVALID_PARAMETER);
        EXPECT_EQ(device.Read(0xFFFFFFFFu, value), VQ_INVALID_PARAMETER);
    }
}

TEST(BenchCore, Kr4KeepsItsFactoryWords) {
    for (const char* model : {"KR4S", "KR4F"}) {
        SCOPED_TRACE(model);
        const bool fifo = std::string(model) == "KR4F";
        InProcessBench bench;
        bench.AddDevice(model, "93C66"); // the part is inside; the argument is ignored
        auto words = bench.Words(0);
        ASSERT_EQ(words.size(), 128u);
        for (std::size_t i = 0; i < 64; ++i)
            EXPECT_EQ(words[i], 0xFFFF);
        EXPECT_EQ(words[65], static_cast<std::uint16_t>(~words[64]));
        EXPECT_EQ(words[66], fifo ? 1 : 0);
        const auto factory = std::vector<std::uint16_t>(words.begin() + 64, words.end());

        Opened device(bench, 0);
        EXPECT_EQ(device.Write(63, 0x1234), VQ_OK);
        for (std::uint32_t w : {64u, 65u, 66u, 100u, 127u, 192u})
            EXPECT_EQ(device.Write(w, 0), VQ_EEPROM_WRITE_FAILED) << "word " << w;
        // The array ignores the top address bit: 128 is word 0, 192 is factory word 64.
        EXPECT_EQ(device.Write(128, 0x5555), VQ_OK);
        std::uint16_t value = 0;
        ASSERT_EQ(device.Read(192, value), VQ_OK);
        EXPECT_EQ(value, words[64]);
        ASSERT_EQ(bench.EraseEE(device.Handle), VQ_OK);
        words = bench.Words(0);
        for (std::size_t i = 0; i < 64; ++i)
            EXPECT_EQ(words[i], 0xFFFF);
        EXPECT_EQ(std::vector<std::uint16_t>(words.begin() + 64, words.end()), factory);
    }
}

TEST(BenchCore, Kr3ChannelsShareOneEeprom) {
    InProcessBench bench;
    bench.AddDevice("KR3D", "93C56");
    {
        Opened a(bench, 0);
        ASSERT_EQ(a.Write(5, 0xABCD), VQ_OK);
    }
    Opened b(bench, 1);
    std::uint16_t value = 0;
    ASSERT_EQ(b.Read(5, value), VQ_OK);
    EXPECT_EQ(value, 0xABCD);
    EXPECT_EQ(bench.Words(1), bench.Words(0));
}

TEST(BenchCore, HandlesAreCheckedAndCounted) {
    InProcessBench bench;
    bench.AddDevice("KR2S");
    bench.AddDevice("KR2S");
    VQ_HANDLE h0 = nullptr, h1 = nullptr;
    ASSERT_EQ(bench.Open(0, &h0), VQ_OK);
    ASSERT_EQ(bench.Open(1, &h1), VQ_OK);
    EXPECT_NE(h0, h1);
    EXPECT_EQ(bench.OpenHandles(), 2);
    VQ_HANDLE again = nullptr;
    EXPECT_EQ(bench.Open(0, &again), VQ_DEVICE_NOT_OPENED); // already open
    EXPECT_EQ(bench.Open(2, &again), VQ_DEVICE_NOT_FOUND);
    EXPECT_EQ(bench.Open(-1, &again), VQ_DEVICE_NOT_FOUND);
    EXPECT_EQ(bench.Open(0, nullptr), VQ_INVALID_PARAMETER);
    std::int32_t count = 0;
    EXPECT_EQ(bench.ListDevices(&count, nullptr, 0), VQ_INVALID_PARAMETER); // count only
    EXPECT_EQ(bench.Close(h0), VQ_OK);
    EXPECT_EQ(bench.OpenHandles(), 1);

    // A closed handle, a null one and a made-up one are all not open.
    std::uint16_t value = 0;
    std::uint32_t code = 0;
    for (VQ_HANDLE bad : {h0, static_cast<VQ_HANDLE>(nullptr), reinterpret_cast<VQ_HANDLE>(7)}) {
        EXPECT_EQ(bench.Close(bad), VQ_INVALID_HANDLE);
        EXPECT_EQ(bench.SetLatencyTimer(bad, 0x77), VQ_INVALID_HANDLE);
        EXPECT_EQ(bench.GetDeviceInfo(bad, &code, nullptr, nullptr, nullptr, nullptr),
                  VQ_INVALID_HANDLE);
        EXPECT_EQ(bench.ReadEE(bad, 0, &value), VQ_INVALID_HANDLE);
        EXPECT_EQ(bench.WriteEE(bad, 0, 0), VQ_INVALID_HANDLE);
        EXPECT_EQ(bench.EraseEE(bad), VQ_INVALID_HANDLE);
        EXPECT_EQ(bench.CyclePort(bad), VQ_INVALID_HANDLE);
    }
    EXPECT_EQ(bench.OpenHandles(), 1);
    EXPECT_EQ(bench.Close(h1), VQ_OK);
    EXPECT_EQ(bench.OpenHandles(), 0);
}

TEST(BenchCore, AnUnpluggedOrCycledDeviceOnlyCloses) {
    InProcessBench bench;
    bench.AddDevice("KR3D");
    bench.AddDevice("KR2S");
    VQ_HANDLE b = nullptr, single = nullptr;
    ASSERT_EQ(bench.Open(1, &b), VQ_OK);
    ASSERT_EQ(bench.Open(2, &single), VQ_OK);
    bench.RemoveDevice(1); // channel B takes the whole chip with it
    EXPECT_EQ(bench.DeviceCount(), 1);
    std::uint16_t value = 0;
    EXPECT_EQ(bench.ReadEE(b, 0, &value), VQ_IO_ERROR);
    EXPECT_EQ(bench.ReadEE(single, 0, &value), VQ_OK); // the KR2S is still there
    EXPECT_EQ(bench.Close(b), VQ_OK);

    EXPECT_EQ(bench.SetLatencyTimer(single, 0x77), VQ_OK);
    EXPECT_EQ(bench.SetLatencyTimer(single, 1), VQ_INVALID_PARAMETER);
    ASSERT_EQ(bench.CyclePort(single), VQ_OK);
    EXPECT_EQ(bench.ReadEE(single, 0, &value), VQ_IO_ERROR);
    EXPECT_EQ(bench.Close(single), VQ_OK);
    EXPECT_EQ(bench.OpenHandles(), 0);
    EXPECT_THROW(bench.RemoveDevice(5), std::out_of_range);
    EXPECT_THROW(bench.AddDevice("KR9X"), std::invalid_argument);
    EXPECT_THROW(bench.AddDevice("KR2S", "93C86"), std::invalid_argument);
}

TEST(BenchCore, ADeviceHeldElsewhereOrABenchThatCannotBeStoredFailsTheCall) {
    InProcessBench bench;
    bench.AddDevice("KR2S");
    bench.AddDevice("KR2S");
    bench.HoldElsewhere(0);
    VQ_HANDLE h = nullptr;
    EXPECT_EQ(bench.Open(0, &h), VQ_DEVICE_NOT_OPENED);
    { Opened other(bench, 1); }
    bench.HoldElsewhere(0, false);
    Opened device(bench, 0);
    ASSERT_EQ(device.Write(0, 0x0000), VQ_OK);
    bench.FailStores();
    EXPECT_EQ(device.Write(3, 0x0303), VQ_EEPROM_WRITE_FAILED);
    EXPECT_EQ(device.Write(3, 0xFFFF), VQ_OK); // changes nothing
    EXPECT_EQ(bench.EraseEE(device.Handle), VQ_EEPROM_ERASE_FAILED);
    std::uint16_t value = 1;
    EXPECT_EQ(device.Read(0, value), VQ_OK);
    EXPECT_EQ(value, 0x0000); // the part kept its words
    EXPECT_EQ(bench.Words(0)[3], 0xFFFF);
    bench.FailStores(false);
    EXPECT_EQ(bench.EraseEE(device.Handle), VQ_OK);
    EXPECT_EQ(bench.Words(0)[0], 0xFFFF);
}

// Runs the operation a fault kind stands for on an open handle.
VQ_STATUS RunOperation(InProcessBench& bench, FaultKind kind, VQ_HANDLE handle,
                       std::uint32_t word) {
    std::uint16_t value = 0;
    std::uint32_t code = 0;
    switch (kind) {
    case FaultKind::Info:
        return bench.GetDeviceInfo(handle, &code, nullptr, nullptr, nullptr, nullptr);
    case FaultKind::Read:
        return bench.ReadEE(handle, word, &value);
    case FaultKind::Write:
    case FaultKind::IgnoreWrites:
        return bench.WriteEE(handle, word, 0x0102);
    case FaultKind::Erase:
        return bench.EraseEE(handle);
    case FaultKind::Cycle:
        return bench.CyclePort(handle);
    case FaultKind::Latency:
        return bench.SetLatencyTimer(handle, 0x77);
    case FaultKind::Open:
        break;
    }
    return VQ_OTHER_ERROR;
}

TEST(BenchCore, FaultsStrikeTheirOperationAsOftenAsSet) {
    const FaultKind kinds[] = {FaultKind::Info,  FaultKind::Read,    FaultKind::Write,
                               FaultKind::Erase, FaultKind::Latency, FaultKind::Cycle};
    for (FaultKind kind : kinds) {
        SCOPED_TRACE(static_cast<int>(kind));
        InProcessBench bench;
        bench.AddDevice("KR2S");
        bench.AddDevice("KR2S");
        bench.AddFault(0, {kind, std::nullopt, VQ_OTHER_ERROR, 2});
        VQ_HANDLE h = nullptr, other = nullptr;
        ASSERT_EQ(bench.Open(0, &h), VQ_OK);
        ASSERT_EQ(bench.Open(1, &other), VQ_OK);
        EXPECT_EQ(RunOperation(bench, kind, other, 3), VQ_OK); // only device 0 is faulty
        EXPECT_EQ(RunOperation(bench, kind, h, 3), VQ_OTHER_ERROR);
        EXPECT_EQ(RunOperation(bench, kind, h, 3), VQ_OTHER_ERROR);
        EXPECT_EQ(RunOperation(bench, kind, h, 3), VQ_OK);
        bench.Close(h);
        bench.Close(other);
    }
}

TEST(BenchCore, FaultsLimitedToOneWordAndForever) {
    InProcessBench bench;
    bench.AddDevice("KR2S");
    bench.AddFault(0, {FaultKind::Read, 5, VQ_IO_ERROR});
    bench.AddFault(0, {FaultKind::Write, 7, VQ_EEPROM_WRITE_FAILED, 1});
    Opened device(bench, 0);
    std::uint16_t value = 0;
    for (int pass = 0; pass < 3; ++pass) {
        EXPECT_EQ(device.Read(5, value), VQ_IO_ERROR);
        EXPECT_EQ(device.Read(4, value), VQ_OK);
    }
    EXPECT_EQ(device.Write(6, 1), VQ_OK);
    EXPECT_EQ(device.Write(7, 1), VQ_EEPROM_WRITE_FAILED);
    EXPECT_EQ(bench.Words(0)[7], 0xFFFF);
    EXPECT_EQ(device.Write(7, 1), VQ_OK);
    EXPECT_EQ(bench.Words(0)[7], 1);
    // A word-limited fault never strikes an erase.
    EXPECT_EQ(bench.EraseEE(device.Handle), VQ_OK);
    bench.ClearFaults(0);
    EXPECT_EQ(device.Read(5, value), VQ_OK);
}

TEST(BenchCore, IgnoredWritesAreAcknowledgedButNotKept) {
    InProcessBench bench;
    bench.AddDevice("KR2S", "93C56");
    std::vector<std::uint16_t> image(128);
    for (std::size_t i = 0; i < image.size(); ++i)
        image[i] = static_cast<std::uint16_t>(i);
    bench.SetWords(0, image);
    bench.AddFault(0, {FaultKind::IgnoreWrites, std::nullopt, VQ_OK});
    Opened device(bench, 0);
    EXPECT_EQ(bench.EraseEE(device.Handle), VQ_OK);
    for (std::uint32_t w = 0; w < 128; ++w)
        EXPECT_EQ(device.Write(w, 0xEEEE), VQ_OK);
    EXPECT_EQ(bench.Words(0), image);
    EXPECT_EQ(device.Write(300, 0), VQ_INVALID_PARAMETER); // still a strict part

    // Limited to one word, only that word keeps its old value.
    bench.ClearFaults(0);
    bench.AddFault(0, {FaultKind::IgnoreWrites, 9, VQ_OK});
    for (std::uint32_t w = 8; w < 11; ++w)
        EXPECT_EQ(device.Write(w, 0xEEEE), VQ_OK);
    const auto words = bench.Words(0);
    EXPECT_EQ(words[8], 0xEEEE);
    EXPECT_EQ(words[9], 9);
    EXPECT_EQ(words[10], 0xEEEE);
}

// Sixteen devices, each written whole and read back on a thread of its own with a handle of
// its own, end exactly as the same calls made one device after another leave them.
TEST(BenchCore, DevicesOnThreadsOfTheirOwnEndAsDevicesInTurn) {
    const char* parts[] = {"93C46", "93C56", "93C66"};
    InProcessBench inTurn, atOnce;
    for (InProcessBench* bench : {&inTurn, &atOnce}) {
        for (int i = 0; i < 15; ++i)
            bench->AddDevice("KR2S", parts[i % 3]);
        bench->AddDevice("KR1S", "93C66");
    }
    const auto size = [&](int i) { return static_cast<std::uint32_t>(inTurn.Words(i).size()); };
    for (int i = 0; i < 16; ++i)
        ASSERT_EQ(vqpipex::testing::WriteWholePart(inTurn, i, size(i)), VQ_OK);
    const auto statuses = vqpipex::testing::OnThreads(
        16, [&](int i) { return vqpipex::testing::WriteWholePart(atOnce, i, size(i)); });
    EXPECT_EQ(statuses, std::vector<VQ_STATUS>(16, VQ_OK));
    for (int i = 0; i < 16; ++i)
        EXPECT_EQ(atOnce.Words(i), inTurn.Words(i)) << "device " << i;
    EXPECT_EQ(atOnce.OpenHandles(), 0);
}

} // namespace
