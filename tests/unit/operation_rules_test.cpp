// The operations' shared rules where the dialog tests do not reach: the edges of the address
// rule and of the decimal field reading, and who is addressed in each mode.

#include <gtest/gtest.h>

#include "protocol/operation_rules.h"

namespace {

TEST(OperationRules, AddressTextsAcceptedAndTheBytesSent) {
    struct Row {
        const char* text;
        bool accepted;
        Ipv4Bytes sent;
    };
    // Only a text that every reader reads the same way passes: the platform's parser reads
    // "010" as octal 8 and "10.1" as 10.0.0.1, the fields read as decimal do not.
    for (const Row& row : {
             Row{"192.168.1.20", true, {192, 168, 1, 20}},
             Row{"0.0.0.0", true, {0, 0, 0, 0}},
             Row{"10.0.0.5  ", true, {10, 0, 0, 5}},  // trailing blanks carry nothing
             Row{"255.255.255.254", true, {255, 255, 255, 254}},
             Row{"10.1", false, {10, 1, 0, 0}},
             Row{"198.18.266", false, {198, 18, 10, 0}},
             Row{"192.168.001.010", false, {192, 168, 1, 10}},
             Row{"192.168.1.00", false, {192, 168, 1, 0}},
             Row{"0x0a.1.2.3", false, {0, 1, 2, 3}},
             Row{"192.168.1.256", false, {192, 168, 1, 0}},
             Row{"3232235777", false, {255, 0, 0, 0}},  // 32-bit saturation on every platform
             Row{"10.0.0.5 7", false, {10, 0, 0, 5}},   // the parser stops at the blank
             Row{"1.2.3.4.5", false, {1, 2, 3, 4}},
             Row{"1.2..3.4", false, {1, 2, 3, 4}},
             Row{"255.255.255.255", false, {255, 255, 255, 255}},
             Row{"+1.2.3.4", false, {1, 2, 3, 4}},
             Row{"a.b.c.d", false, {0, 0, 0, 0}},
             Row{"", false, {0, 0, 0, 0}},
         }) {
        SCOPED_TRACE(row.text);
        EXPECT_EQ(IsAcceptedIpText(row.text), row.accepted);
        EXPECT_EQ(IpFieldsOf(row.text), row.sent);
        EXPECT_EQ(ParseAcceptedIpText(row.text).has_value(), row.accepted);
    }
    // Dots at either end or in a row make no empty field.
    EXPECT_EQ(IpFieldsOf(".10..1."), (Ipv4Bytes{10, 1, 0, 0}));
    EXPECT_EQ(IpFieldsOf("300.-1.99999999999999999999.7"), (Ipv4Bytes{44, 255, 255, 7}));
}

TEST(OperationRules, NameChecksLengthBeforeCharacters) {
    EXPECT_EQ(CheckDeviceName("abc-defghijklmnopq").verdict, NameVerdict::TooLong);
    EXPECT_EQ(CheckDeviceName("ab_c").verdict, NameVerdict::FormatError);
    EXPECT_EQ(CheckDeviceName("ab_c").field, NameField{});
    const NameCheck ok = CheckDeviceName("zZ09");
    EXPECT_EQ(ok.verdict, NameVerdict::Accepted);
    EXPECT_EQ(NameText(ok.field), "ZZ09");
    EXPECT_FALSE(NameRefusalText(NameVerdict::Accepted));
}

TEST(OperationRules, MainReceiverRequestsGoToTheUnitTheModeNames) {
    const std::string tx = "02:00:00:00:00:01";
    const std::string rx = "02:00:00:00:00:02";
    for (const int mode : {1, 2, 0x81}) {  // any mode but multicast is unicast
        EXPECT_EQ(MainReceiverTarget(static_cast<std::uint8_t>(mode), tx, rx).addressed, tx);
    }
    EXPECT_EQ(MainReceiverTarget(0, tx, rx).addressed, rx);
    EXPECT_EQ(MainReceiverTarget(0, tx, rx).other, tx);
    EXPECT_EQ(BackupReceiverTarget(tx, rx).addressed, tx);
}

}  // namespace
