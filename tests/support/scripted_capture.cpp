#include "tests/support/scripted_capture.h"

#include <utility>

void ScriptedCaptureClient::queuePacket(ScriptedPacket packet) {
  Step step;
  step.packet = std::move(packet);
  steps_.push_back(std::move(step));
}

void ScriptedCaptureClient::queueRepeatedPacket(const BYTE* data, UINT32 frames, DWORD flags, std::int64_t times) {
  if (times <= 0) return;
  Step step;
  step.packet.frames = frames;
  step.packet.flags = flags;
  step.external = data;
  step.remaining = times;
  steps_.push_back(std::move(step));
}

void ScriptedCaptureClient::queueNextPacketSizeFailure(HRESULT status) {
  Step step;
  step.sizeFailure = true;
  step.sizeStatus = status;
  steps_.push_back(std::move(step));
}

void ScriptedCaptureClient::setPacketSource(std::function<bool(ScriptedPacket&)> source) {
  source_ = std::move(source);
}

bool ScriptedCaptureClient::refillFromSource() {
  if (!steps_.empty()) return true;
  if (!source_) return false;
  ScriptedPacket packet;
  if (!source_(packet)) return false;
  queuePacket(std::move(packet));
  return true;
}

HRESULT ScriptedCaptureClient::QueryInterface(REFIID, void** object) {
  if (object != nullptr) *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT ScriptedCaptureClient::GetNextPacketSize(UINT32* frames) {
  ++nextPacketSizeCalls_;
  if (!refillFromSource()) {
    *frames = 0;
    return S_OK;
  }
  Step& front = steps_.front();
  if (front.sizeFailure) {
    // A failing call leaves its output alone, as the caller must expect.
    const HRESULT status = front.sizeStatus;
    steps_.pop_front();
    return status;
  }
  *frames = front.packet.announcedFrames != 0 ? front.packet.announcedFrames : front.packet.frames;
  return S_OK;
}

HRESULT ScriptedCaptureClient::GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                         UINT64* counterPosition) {
  ++getBufferCalls_;
  if (devicePosition != nullptr || counterPosition != nullptr) positionsRequested_ = true;
  if (!refillFromSource() || steps_.front().sizeFailure) {
    *data = nullptr;
    *frames = 0;
    *flags = 0;
    return AUDCLNT_S_BUFFER_EMPTY;
  }
  Step& front = steps_.front();
  if (front.packet.getBufferStatus < 0) {
    const HRESULT status = front.packet.getBufferStatus;
    steps_.pop_front();
    return status;
  }
  *frames = front.packet.frames;
  *flags = front.packet.flags;
  if (front.external != nullptr) {
    *data = const_cast<BYTE*>(front.external);
    if (--front.remaining == 0) steps_.pop_front();
  } else {
    handedOut_ = std::move(front.packet.bytes);
    *data = handedOut_.empty() ? nullptr : handedOut_.data();
    steps_.pop_front();
  }
  return S_OK;
}

HRESULT ScriptedCaptureClient::ReleaseBuffer(UINT32 frames) {
  released_.push_back(frames);
  return S_OK;
}

HRESULT ScriptedAudioClient::QueryInterface(REFIID, void** object) {
  if (object != nullptr) *object = nullptr;
  return E_NOINTERFACE;
}

HRESULT ScriptedAudioClient::Stop() {
  ++stopCalls_;
  if (stopLog_ != nullptr) stopLog_->push_back(name_);
  return S_OK;
}
