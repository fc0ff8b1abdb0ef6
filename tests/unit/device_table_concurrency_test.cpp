// The table under the load it meets in the program: the capture thread storing replies while
// workers patch records and the views take snapshots. Run under ThreadSanitizer in CI.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <numeric>
#include <random>
#include <set>
#include <span>
#include <thread>

#include "core_test_support.h"
#include "protocol/device_table.h"

namespace {

constexpr int kUnits = 64;
constexpr int kRounds = 300;
const std::string kDashes(95, '-');

// Every field of unit n is derived from n, so a record mixed from two units shows.
WireRecord Unit(int n) {
    const auto id = static_cast<std::uint8_t>(n);
    WireRecord r{.name = "UNIT-" + std::to_string(n),
                 .ip = {10, 0, 1, id},
                 .mac = MacOf(id),
                 .kind = static_cast<std::uint16_t>(n % 2),
                 .modeBytes = {0, 1}};
    r.peerIp = {10, 0, 2, id};
    r.t1 = r.mac;
    return r;
}

// T1..T3 may be zero or the record's own MAC; PeerIp zero or its pattern (see the patchers).
bool Consistent(const DeviceRecord& r) {
    const int n = r.Mac[5];
    const WireRecord unit = Unit(n);
    const auto ownOrZero = [&](const MacBytes& m) { return m == r.Mac || m == MacBytes{}; };
    return r.Mac == unit.mac && NameText(r.Name) == unit.name && r.Ip == unit.ip &&
           r.Kind == unit.kind && (r.PeerIp == unit.peerIp || r.PeerIp == Ipv4Bytes{}) &&
           ownOrZero(r.T1Mac) && ownOrZero(r.T2Mac) && ownOrZero(r.T3Mac);
}

class CountingSink final : public LineSink {
  public:
    void Log(std::string_view) override { ++logs; }
    void Trace(std::string_view text) override {
        if (text == kDashes) {
            ++closedRecords;
        }
    }
    std::atomic<int> logs{0};
    std::atomic<int> closedRecords{0};
};

struct Failures {
    std::atomic<int> torn{0};
    std::atomic<int> overfull{0};
    std::atomic<int> duplicate{0};
};

void CheckSnapshot(const std::vector<DeviceRecord>& records, Failures& failures) {
    if (records.size() > kDeviceTableCapacity) {
        ++failures.overfull;
    }
    std::set<MacBytes> macs;
    for (const auto& r : records) {
        if (!Consistent(r)) {
            ++failures.torn;
        }
        if (!macs.insert(r.Mac).second) {
            ++failures.duplicate;
        }
    }
}

TEST(DeviceTableConcurrency, StoresReadsPatchesAndSnapshotsStayConsistent) {
    DeviceTable table;
    CountingSink sink;
    Failures failures;
    std::atomic<bool> done{false};

    std::thread capture([&] {
        std::mt19937 random(1);
        std::vector<int> order(kUnits);
        for (int round = 0; round < kRounds; ++round) {
            std::iota(order.begin(), order.end(), 0);
            std::shuffle(order.begin(), order.end(), random);
            table.Clear();
            for (const int n : order) {
                const auto bytes = Unit(n).Bytes();
                table.StoreDiscoveredDevice(std::span<const std::uint8_t, kDeviceRecordSize>(bytes),
                                            sink);
                // A unit answering twice, as it does to the three broadcasts.
                if (n % 3 == 0) {
                    table.StoreDiscoveredDevice(
                        std::span<const std::uint8_t, kDeviceRecordSize>(bytes), sink);
                }
            }
        }
        done = true;
    });

    const auto viewer = [&] {
        while (!done) {
            CheckSnapshot(table.Snapshot(), failures);
            const int count = table.DeviceCount();
            if (count > static_cast<int>(kDeviceTableCapacity)) {
                ++failures.overfull;
            }
            for (int i = 0; i < count; ++i) {
                if (!Consistent(table.RecordAt(i))) {
                    ++failures.torn;
                }
            }
        }
    };

    const auto worker = [&](unsigned seed) {
        std::mt19937 random(seed);
        while (!done) {
            const int n = static_cast<int>(random() % kUnits);
            const std::string mac = MacText(MacOf(static_cast<std::uint8_t>(n)));
            const WireRecord unit = Unit(n);
            // Patches that keep every record consistent even when the table is cleared and
            // refilled between the look-up and the patch (an index or MAC then names another
            // record, or falls back to record 0).
            const int index = table.FindDeviceByMac(mac);
            switch (random() % 5) {
                case 0:
                    table.LinkT1MacByMac(mac, 255);
                    break;
                case 1:
                    table.SetPeerMacSlot(index, index, static_cast<PeerSlot>(random() % 3), true);
                    break;
                case 2:
                    table.SetPeerMacSlot(index, index, PeerSlot::Main, false);
                    break;
                case 3:
                    table.ForgetPeerLinks(index);
                    break;
                default: {
                    // A record found by its MAC is that unit's record, whole.
                    const DeviceRecord byMac = table.RecordByMac(mac);
                    if (byMac.Mac == unit.mac && !Consistent(byMac)) {
                        ++failures.torn;
                    }
                    break;
                }
            }
        }
    };

    std::vector<std::thread> others;
    others.emplace_back(viewer);
    others.emplace_back(viewer);
    others.emplace_back(worker, 2u);
    others.emplace_back(worker, 3u);
    capture.join();
    for (auto& t : others) {
        t.join();
    }

    EXPECT_EQ(failures.torn, 0);
    EXPECT_EQ(failures.overfull, 0);
    EXPECT_EQ(failures.duplicate, 0);
    // Every store closed its trace lines, none lost; replies never write the Log pane.
    const int stores = kRounds * (kUnits + (kUnits + 2) / 3);
    EXPECT_EQ(sink.closedRecords, stores);
    EXPECT_EQ(sink.logs, 0);
    // The last round offered 64 distinct units: exactly 32 made it in.
    const auto finalRecords = table.Snapshot();
    EXPECT_EQ(finalRecords.size(), kDeviceTableCapacity);
    CheckSnapshot(finalRecords, failures);
    EXPECT_EQ(failures.torn + failures.duplicate, 0);
}

}  // namespace
