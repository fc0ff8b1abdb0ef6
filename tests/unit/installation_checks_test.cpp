// The installation's findings over records: which problems are errors, which warnings, the
// units each names, and the window's capped Log lines.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <sstream>

#include "protocol/installation_checks.h"
#include "protocol/operation_rules.h"

namespace {

MacBytes Mac(int n) {
    return {0x02, 0, 0, 0, 0, static_cast<std::uint8_t>(n)};
}

// Units as "MAC NAME IP [KIND [MODE [T1 [T2 [T3]]]]]; ...": MACs and links by their last byte,
// "-" for no name, KIND 0 Receiver and 1 Transmitter, MODE 0 multicast and 1 unicast.
std::vector<DeviceRecord> Records(const std::string& text) {
    std::vector<DeviceRecord> records;
    std::istringstream units(text);
    for (std::string unit; std::getline(units, unit, ';');) {
        std::istringstream fields(unit);
        DeviceRecord r;
        int mac = 0;
        std::string name, ip;
        int links[3] = {};
        fields >> mac >> name >> ip >> r.Kind >> r.Mode >> links[0] >> links[1] >> links[2];
        r.Mac = Mac(mac);
        std::memcpy(r.Name.data(), name.data(), name == "-" ? 0 : name.size());
        r.Ip = IpFieldsOf(ip);
        for (const auto& [field, n] :
             {std::pair{&r.T1Mac, links[0]}, {&r.T2Mac, links[1]}, {&r.T3Mac, links[2]}}) {
            *field = n == 0 ? MacBytes{} : Mac(n);
        }
        records.push_back(r);
    }
    return records;
}

// "severity code last-MAC-bytes: message", the message cut to the length of expected's.
std::vector<std::string> Texts(const std::vector<Finding>& findings,
                               const std::vector<std::string>& expected) {
    std::vector<std::string> texts;
    for (const Finding& f : findings) {
        std::string text = std::string(SeverityText(f.severity)) + " " + f.code + " ";
        for (const MacBytes& mac : f.units) {
            text += std::to_string(mac[5]) + (&mac == &f.units.back() ? ": " : ",");
        }
        text += f.message;
        const std::size_t i = texts.size();
        texts.push_back(i < expected.size() ? text.substr(0, expected[i].size()) : text);
    }
    return texts;
}

constexpr StationSubnet kStation{{198, 18, 0, 1}, 15};

TEST(InstallationChecks, EachProblemIsOneFinding) {
    struct Case {
        const char* units;
        std::vector<std::string> expected;  // each message up to where the text stops
        StationSubnet station = kStation;
    };
    const std::vector<Case> cases{
        // The main Receiver names its Transmitter back; backups may name nobody or another.
        {"1 TX 198.18.1.1 1 1 2 3 5; 2 RX 198.18.1.2 0 0 1; 3 B1 198.18.1.3;"
         "4 T2 198.18.1.4 1 0; 5 B2 198.18.1.5 0 0 4",
         {}},
        {"1 VX418RX 198.18.0.251; 2 VX418RX 198.18.0.251; 3 A 198.18.1.1",
         {"error address-shared 1,2: 198.18.0.251 is used by 2 units.",
          "warning name-shared 1,2: The name VX418RX is used by 2 units."}},
        {"1 S 198.18.0.1; 2 - 0.0.0.0; 3 - 0.0.0.0; 4 L 127.0.0.9; 5 M 239.1.1.1;"
         "6 B 255.255.255.255; 7 N 198.18.0.0; 8 E 198.19.255.255",
         {"error address-station 1: 198.18.0.1 is this station's own address but is used by S "
          "[02:00:00:00:00:01].",
          "error address-shared 2,3: 0.0.0.0 is used by 2 units.",
          "error address-unusable 2,3: 0.0.0.0 is the unset address but is used by 2 units.",
          "error address-unusable 4: 127.0.0.9 is a loopback address",
          "error address-unusable 5: 239.1.1.1 is a multicast address",
          "error address-unusable 6: 255.255.255.255 is the limited broadcast address",
          "error address-unusable 7: 198.18.0.0 is the network address of 198.18.0.0/15",
          "error address-unusable 8: 198.19.255.255 is the broadcast address of 198.18.0.0/15",
          "warning name-shared 2,3: No name is used by 2 units."}},
        // Without a prefix length, no subnet rule.
        {"7 N 198.18.0.0; 8 O 10.0.0.5", {}, {{198, 18, 0, 1}, 0}},
        {"8 O 10.0.0.5",
         {"warning address-outside-subnet 8: O [02:00:00:00:00:08] has 10.0.0.5, outside the "
          "adapter's subnet 198.18.0.0/15."}},
        // A multicast Transmitter's slots are not links.
        {"1 TX 198.18.1.1 1 1 2 0 9; 2 RX 198.18.1.2 0 0 1; 3 R2 198.18.1.3 0 0 9;"
         "4 MC 198.18.1.4 1 0 9",
         {"warning link-unanswered 1,9: TX [02:00:00:00:00:01] names 02:00:00:00:00:09 as its "
          "backup 2 Receiver, which did not answer.",
          "warning link-unanswered 3,9: R2 [02:00:00:00:00:03] names 02:00:00:00:00:09 as its "
          "Transmitter"}},
        {"1 TX 198.18.1.1 1 1 2; 2 RX 198.18.1.2 0 0 4; 3 TY 198.18.1.3 1 1 5;"
         "4 TZ 198.18.1.4 1 0; 5 RY 198.18.1.5",
         {"warning main-link-disagrees 1,2: TX [02:00:00:00:00:01] has RX [02:00:00:00:00:02] as "
          "its main Receiver, but RX names TZ [02:00:00:00:00:04] as its Transmitter.",
          "warning main-link-disagrees 3,5: TY [02:00:00:00:00:03] has RY [02:00:00:00:00:05] as "
          "its main Receiver, but RY names no Transmitter."}},
        {"1 K 198.18.1.1 2; 2 T 198.18.1.2 1 3; 3 R 198.18.1.3 0 7",
         {"warning kind-unknown 1: K [02:00:00:00:00:01] reports kind 2",
          "warning mode-unknown 2: T [02:00:00:00:00:02] is a Transmitter in mode 3"}},
    };
    for (const Case& k : cases) {
        const std::vector<DeviceRecord> records = Records(k.units);
        EXPECT_EQ(Texts(CheckInstallation(records, k.station), k.expected), k.expected);
        std::vector<std::string> errors;
        std::copy_if(k.expected.begin(), k.expected.end(), std::back_inserter(errors),
                     [](const std::string& t) { return t.rfind("error", 0) == 0; });
        EXPECT_EQ(Texts(CheckAddresses(records, k.station), errors), errors);
    }
}

TEST(InstallationChecks, TheWindowLogsEightConflictsThenHowManyMore) {
    std::string units;  // ten pairs, each on an address of its own
    for (int n = 1; n <= 20; ++n) {
        units += std::to_string(n) + " U 198.18.2." + std::to_string((n + 1) / 2) + ";";
    }
    units.pop_back();
    const auto lines = AddressConflictLines(CheckAddresses(Records(units), kStation));
    ASSERT_EQ(lines.size(), 9u);
    EXPECT_EQ(lines[0], "Address conflict: 198.18.2.1 is used by 2 units.");
    EXPECT_EQ(lines[7], "Address conflict: 198.18.2.8 is used by 2 units.");
    EXPECT_EQ(lines[8], "2 more address conflicts.");
    const auto two = AddressConflictLines(CheckAddresses(Records(units), kStation), 9);
    EXPECT_EQ(two.back(), "1 more address conflict.");
}

}  // namespace
