// Has an independent decoder check every request frame the program can build.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <sstream>

#include "net/frame_builder.h"
#include "pcap_file.h"
#include "protocol/messages.h"

namespace {

struct Expected {
    RequestKind kind;
    int ipLength;
    int udpLength;
    const char* destination;
};

std::string RunCommand(const std::string& command) {
    std::string output;
    const std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) {
        return output;
    }
    char buffer[4096];
    while (const std::size_t n = std::fread(buffer, 1, sizeof buffer, pipe.get())) {
        output.append(buffer, n);
    }
    return output;
}

std::vector<std::string> SplitFields(const std::string& line) {
    std::vector<std::string> fields;
    std::stringstream in(line);
    std::string field;
    while (std::getline(in, field, '\t')) {
        fields.push_back(field);
    }
    return fields;
}

TEST(TsharkCheck, EveryRequestKindIsAWellFormedUdpDatagram) {
    if (std::system("command -v tshark >/dev/null 2>&1") != 0) {
        GTEST_SKIP() << "tshark is not installed";
    }
    const std::array<std::uint8_t, 6> mac{0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const std::array<std::uint8_t, 4> ip{192, 168, 1, 100};

    ConfigBlock config{192, 168, 1, 50, 0x02, 0, 0, 0, 0, 0x32};
    SetNewIpAddress(config, {10, 0, 0, 5});
    SetTopologyMode(config, 1);
    SetNewName(config, "ABCDEFGHIJKLMNOP");
    ConnectionBlock connection{192, 168, 1, 51, 0x02, 0, 0, 0, 0, 0x33,
                               192, 168, 1, 50, 0x02, 0, 0, 0, 0, 0x32};
    ConnectionBlock backup = connection;
    SetSelector(backup, 2);

    const std::vector<Expected> expected{
        {kDiscoveryRequest, 40, 20, "255.255.255.255"},
        {kSetNameRequest, 72, 52, "192.168.1.50"},
        {kSetIpRequest, 72, 52, "192.168.1.50"},
        {kSetTopologyRequest, 72, 52, "192.168.1.50"},
        {kDeleteReceiverRequest, 62, 42, "192.168.1.50"},
        {kAddReceiverRequest, 62, 42, "192.168.1.50"},
        {kAddReceiverRequest, 62, 42, "192.168.1.50"},  // the add-backup frame
    };
    std::vector<std::vector<std::uint8_t>> frames;
    for (std::size_t i = 0; i < expected.size(); ++i) {
        const RequestKind kind = expected[i].kind;
        const std::uint8_t* block = kind == kDiscoveryRequest     ? nullptr
                                    : kind <= kSetTopologyRequest ? config.data()
                                    : i + 1 == expected.size()    ? backup.data()
                                                                  : connection.data();
        ProtocolFrame f{};
        ASSERT_TRUE(AssembleRequestFrame(kind, block, mac, ip, f));
        frames.emplace_back(f.begin(), f.end());
    }

    // A control: the same discovery frame with a broken checksum must be flagged, which shows
    // that the decoder really validates.
    auto broken = frames.front();
    broken[25] ^= 0x01;
    frames.push_back(broken);

    const std::string path = ::testing::TempDir() + "vx418_requests.pcap";
    ASSERT_TRUE(WritePcapFile(path, frames));
    const std::string output = RunCommand(
        "tshark -r " + path +
        " -o ip.check_checksum:TRUE -T fields -E separator=/t"
        " -e frame.len -e eth.type -e ip.len -e ip.checksum.status -e ip.src -e ip.dst"
        " -e udp.srcport -e udp.dstport -e udp.length -e _ws.expert.severity 2>/dev/null");
    std::remove(path.c_str());

    std::stringstream lines(output);
    std::string line;
    std::size_t n = 0;
    constexpr unsigned kExpertError = 0x00800000;
    while (std::getline(lines, line)) {
        if (n == expected.size()) {
            EXPECT_EQ(SplitFields(line).at(3), "0") << "bad checksum not flagged: " << line;
            ++n;
            continue;
        }
        ASSERT_LT(n, expected.size()) << output;
        SCOPED_TRACE("frame " + std::to_string(n + 1) + ": " + line);
        const auto fields = SplitFields(line);
        ASSERT_GE(fields.size(), 9u);
        EXPECT_EQ(fields[0], "128");
        EXPECT_EQ(fields[1], "0x0800");
        EXPECT_EQ(fields[2], std::to_string(expected[n].ipLength));
        EXPECT_EQ(fields[3], "1");  // checksum verified good
        EXPECT_EQ(fields[4], "192.168.1.100");
        EXPECT_EQ(fields[5], expected[n].destination);
        EXPECT_EQ(fields[6], "2098");
        EXPECT_EQ(fields[7], "2098");
        EXPECT_EQ(fields[8], std::to_string(expected[n].udpLength));
        if (fields.size() > 9 && !fields[9].empty()) {
            std::stringstream severities(fields[9]);
            std::string s;
            while (std::getline(severities, s, ',')) {
                EXPECT_LT(std::stoul(s), kExpertError) << "tshark reports an error";
            }
        }
        ++n;
    }
    EXPECT_EQ(n, expected.size() + 1) << output;
}

}  // namespace
