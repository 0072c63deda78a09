#pragma once

#include <memory>
#include <string>
#include <utility>

#include "platform/serial/SerialPort.h"

namespace platform {

// A port that passes every call on to another one. Decorators that watch a port (byte counts,
// traces) derive from it and override only the calls they look at.
class ForwardingSerialPort : public SerialPort {
  public:
    explicit ForwardingSerialPort(std::unique_ptr<SerialPort> inner) : inner_(std::move(inner)) {}

    WinError GetState(Dcb& out) override { return inner_->GetState(out); }
    WinError SetState(const Dcb& dcb) override { return inner_->SetState(dcb); }
    WinError GetTimeouts(CommTimeouts& out) override { return inner_->GetTimeouts(out); }
    WinError SetTimeouts(const CommTimeouts& timeouts) override {
        return inner_->SetTimeouts(timeouts);
    }
    WinError Purge(uint32_t flags) override { return inner_->Purge(flags); }
    WinError Write(const uint8_t* data, size_t count, size_t& written) override {
        return inner_->Write(data, count, written);
    }
    WinError Read(uint8_t* buffer, size_t count, size_t& received) override {
        return inner_->Read(buffer, count, received);
    }
    WinError Close() override { return inner_->Close(); }

  private:
    std::unique_ptr<SerialPort> inner_;
};

// A backend that opens through another one and hands each opened port to Wrap, where a
// decorator puts its own port around it.
class ForwardingSerialBackend : public SerialBackend {
  public:
    explicit ForwardingSerialBackend(SerialBackend& inner) : inner_(inner) {}

    OpenResult Open(const std::string& path) override {
        OpenResult opened = inner_.Open(path);
        if (opened.port) {
            opened.port = Wrap(std::move(opened.port));
        }
        return opened;
    }

  protected:
    virtual std::unique_ptr<SerialPort> Wrap(std::unique_ptr<SerialPort> port) = 0;

  private:
    SerialBackend& inner_;
};

}  // namespace platform
