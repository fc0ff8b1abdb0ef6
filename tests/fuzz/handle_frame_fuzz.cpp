// Feeds arbitrary captures to the reply handler and checks the table's invariants after each.
// The table lives across inputs so that de-duplication and the full table are reached too.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "protocol/messages.h"

namespace {

class CheckingSink final : public LineSink {
  public:
    void Log(std::string_view text) override {
        ++logs;
        lastLog = std::string(text);
    }
    void Trace(std::string_view text) override {
        ++traces;
        lastTrace = std::string(text);
    }
    int logs = 0;
    int traces = 0;
    std::string lastLog;
    std::string lastTrace;
};

void Require(bool condition) {
    if (!condition) {
        std::abort();
    }
}

bool IsStorableDiscoveryReply(const std::uint8_t* data, std::size_t size) {
    return size >= kMinDiscoveryReplyLength && ReadBe16(data + kTfdpMagicOffset) == kTfdpMagic &&
           ReadBe16(data + kTfdpClassOffset) == kDiscoveryReplyClass &&
           ReadBe16(data + kTfdpCodeOffset) == kDiscoveryRecordCode;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static DeviceTable table;
    if (table.DeviceCount() == static_cast<int>(kDeviceTableCapacity) && size > 0 &&
        data[0] % 4 == 0) {
        table.Clear();  // now and then start over, so that filling up is reached again
    }
    const int before = table.DeviceCount();
    const int answeredBefore = table.CountUnits().answered;
    CheckingSink sink;
    constexpr MacBytes kStation{0x02, 0x00, 0x00, 0x00, 0x00, 0x64};
    HandleCapturedFrame(data, size, table, sink, kStation);

    const auto records = table.Snapshot();
    Require(records.size() <= kDeviceTableCapacity);
    Require(static_cast<int>(records.size()) == table.DeviceCount());
    std::set<std::string> macs;
    for (const auto& r : records) {
        Require(macs.insert(MacText(r.Mac)).second);
        Require(NameText(r.Name).size() <= kRecordNameSize);
    }

    // A frame either adds one record, or leaves the count alone.
    const bool discovery = IsStorableDiscoveryReply(data, size);
    const int after = static_cast<int>(records.size());
    Require(after == before || (discovery && after == before + 1));
    if (after == before + 1) {
        Require(std::memcmp(records.back().Mac.data(), data + kTfdpDataOffset + kRecordMacOffset,
                            kMacSize) == 0);
    }
    // A full table counts each unit it turns away once, and never more than answered.
    const int answered = table.CountUnits().answered;
    Require(answered >= after && answered >= answeredBefore);
    Require(answered <= answeredBefore + (discovery ? 1 : 0));
    // A stored discovery reply traces and closes its lines; anything else traces nothing.
    Require(discovery ? sink.traces >= 8 && sink.lastTrace == std::string(95, '-')
                      : sink.traces == 0);
    // At most one Log pane line, and only one of the catalogue's.
    Require(sink.logs <= 1);
    if (sink.logs == 1) {
        Require(size >= kMinReplyLength);
        Require(ReplyLogText(ReadBe16(data + kTfdpClassOffset), ReadBe16(data + kTfdpCodeOffset)) ==
                sink.lastLog);
    }
    return 0;
}
