// The capture helper's messages: an adapter list and the drop counters survive the trip, and a
// message cut short or padded anywhere is refused rather than read past its end.
#include <gtest/gtest.h>

#include "net/capture_messages.h"

namespace {

std::vector<AdapterInfo> SomeAdapters() {
    AdapterInfo eth{"rpcap://eth0", "eth0 (10.1.2.3)", {{false, {}}, {true, {10, 1, 2, 3}, 8}}, 6};
    AdapterInfo bare{"rpcap://veth9", std::nullopt, {}, 0};
    return {eth, bare};
}

TEST(CaptureMessages, AnAdapterListAndTheDropCountsSurviveTheTrip) {
    for (const auto& drops :
         {std::optional(CaptureDrops{7, 0xfffffffe}), std::optional<CaptureDrops>()}) {
        EXPECT_EQ(DecodeDropped(*MessageReader::Of(EncodeDropped(drops))),
                  std::optional<std::optional<CaptureDrops>>(drops));
    }
    const auto adapters = SomeAdapters();
    const auto bytes = EncodeAdapters(adapters);
    const auto decoded = DecodeAdapters(*MessageReader::Of(bytes));
    ASSERT_TRUE(decoded);
    ASSERT_EQ(decoded->size(), 2u);
    for (std::size_t i = 0; i < 2; ++i) {
        const AdapterInfo& want = adapters[i];
        EXPECT_EQ((*decoded)[i].name, want.name);
        EXPECT_EQ((*decoded)[i].description, want.description);
        EXPECT_EQ((*decoded)[i].addresses, want.addresses);
        EXPECT_EQ((*decoded)[i].flags, want.flags);
    }
}

TEST(CaptureMessages, AMessageCutShortOrPaddedIsRefused) {
    const auto whole = EncodeAdapters(SomeAdapters());
    for (std::size_t length = 0; length <= whole.size() + 1; ++length) {
        if (length == whole.size()) {
            continue;
        }
        std::vector<std::uint8_t> bytes(whole.begin(),
                                        whole.begin() + std::min(length, whole.size()));
        bytes.resize(length, 0);
        // As received: its packet length; and with a length field that agrees with it.
        EXPECT_FALSE(MessageReader::Of(bytes)) << length;
        if (length >= kCaptureHeaderSize) {
            MessageWriter writer(CaptureMessage::Adapters);
            writer.Rest(std::span(bytes).subspan(kCaptureHeaderSize));
            EXPECT_FALSE(DecodeAdapters(*MessageReader::Of(writer.Finish()))) << length;
        }
    }
    // A frame batch reads back frame by frame; a block longer than what is left fails.
    MessageWriter batch(CaptureMessage::Frames);
    const std::vector<std::uint8_t> frame(60, 0xab);
    auto message = batch.Block(frame).Block({}).Finish();
    auto reader = MessageReader::Of(message);
    std::span<const std::uint8_t> read;
    ASSERT_TRUE(reader && reader->Block(read) && read.size() == 60 && reader->Block(read));
    EXPECT_TRUE(reader->Complete());
    message[kCaptureHeaderSize + 3] = 61;  // the first block claims a byte of the second
    reader = MessageReader::Of(message);
    EXPECT_TRUE(reader->Block(read));
    EXPECT_FALSE(reader->Block(read));
    EXPECT_FALSE(reader->Complete());
}

}  // namespace
