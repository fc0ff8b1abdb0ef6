#pragma once

// A capture handle and a backend that pass every call to the ones they wrap: a test derives
// from them and overrides only what it watches or holds back.

#include <memory>
#include <utility>

#include "net/capture_backend.h"

namespace vxtest {

class ForwardingHandle : public CaptureHandle {
  public:
    explicit ForwardingHandle(std::unique_ptr<CaptureHandle> inner) : inner_(std::move(inner)) {}
    int SendPacket(const std::uint8_t* frame, std::size_t length) override {
        return inner_->SendPacket(frame, length);
    }
    int Loop(const FrameCallback& onFrame) override { return inner_->Loop(onFrame); }
    void BreakLoop() override { inner_->BreakLoop(); }
    std::string LastError() const override { return inner_->LastError(); }
    std::optional<CaptureDrops> Drops() const override { return inner_->Drops(); }

  private:
    std::unique_ptr<CaptureHandle> inner_;
};

class ForwardingBackend : public CaptureBackend {
  public:
    explicit ForwardingBackend(std::shared_ptr<CaptureBackend> inner) : inner_(std::move(inner)) {}
    std::optional<std::vector<AdapterInfo>> FindAllDevices(std::string& error) override {
        return inner_->FindAllDevices(error);
    }
    std::unique_ptr<CaptureHandle> Open(const std::string& name, const OpenParameters& p,
                                        std::string& error) override {
        return inner_->Open(name, p, error);
    }
    std::optional<std::array<std::uint8_t, 6>> QueryCurrentAddress(
        const std::string& driverName) override {
        return inner_->QueryCurrentAddress(driverName);
    }

  private:
    std::shared_ptr<CaptureBackend> inner_;
};

}  // namespace vxtest
