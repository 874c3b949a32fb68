// A capture client and an audio client whose behaviour a test or benchmark
// scripts call by call: queued packets (bytes, frame count, flags), failing
// statuses, and a record of what the caller released and stopped.
#pragma once

#include <cstdint>
#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/core_audio.h"

struct ScriptedPacket {
  std::vector<BYTE> bytes;  // the packet's frames, exactly as many bytes as they take
  UINT32 frames = 0;        // what GetBuffer reports
  DWORD flags = 0;
  UINT32 announcedFrames = 0;  // what GetNextPacketSize reports; 0 means "frames"
  HRESULT getBufferStatus = S_OK;
};

class ScriptedCaptureClient final : public IAudioCaptureClient {
 public:
  void queuePacket(ScriptedPacket packet);
  // The same frames handed out `times` times without copying; `data` must
  // outlive the packets (for benchmarks).
  void queueRepeatedPacket(const BYTE* data, UINT32 frames, DWORD flags, std::int64_t times);
  // The next GetNextPacketSize call (in queue order) fails with `status`.
  void queueNextPacketSizeFailure(HRESULT status);
  // Consulted when the queue is empty: returns true after filling a packet.
  void setPacketSource(std::function<bool(ScriptedPacket&)> source);

  std::size_t pendingSteps() const { return steps_.size(); }
  const std::vector<UINT32>& releasedFrameCounts() const { return released_; }
  void clearReleased() { released_.clear(); }
  int nextPacketSizeCalls() const { return nextPacketSizeCalls_; }
  int getBufferCalls() const { return getBufferCalls_; }
  bool positionsRequested() const { return positionsRequested_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE GetBuffer(BYTE** data, UINT32* frames, DWORD* flags, UINT64* devicePosition,
                                      UINT64* counterPosition) override;
  HRESULT STDMETHODCALLTYPE ReleaseBuffer(UINT32 frames) override;
  HRESULT STDMETHODCALLTYPE GetNextPacketSize(UINT32* frames) override;

 private:
  struct Step {
    ScriptedPacket packet;
    const BYTE* external = nullptr;  // set for repeated packets
    std::int64_t remaining = 1;
    bool sizeFailure = false;
    HRESULT sizeStatus = S_OK;
  };
  bool refillFromSource();

  std::deque<Step> steps_;
  std::function<bool(ScriptedPacket&)> source_;
  std::vector<BYTE> handedOut_;  // keeps a popped packet's bytes alive until ReleaseBuffer
  std::vector<UINT32> released_;
  int nextPacketSizeCalls_ = 0;
  int getBufferCalls_ = 0;
  bool positionsRequested_ = false;
  ULONG references_ = 1;
};

// Only Stop is of interest; every other call reports E_NOTIMPL.
class ScriptedAudioClient final : public IAudioClient {
 public:
  // `stopLog`, when given, receives `name` at every Stop, so tests can see the order.
  explicit ScriptedAudioClient(std::string name = {}, std::vector<std::string>* stopLog = nullptr)
      : name_(std::move(name)), stopLog_(stopLog) {}

  int stopCalls() const { return stopCalls_; }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
  ULONG STDMETHODCALLTYPE AddRef() override { return ++references_; }
  ULONG STDMETHODCALLTYPE Release() override { return --references_; }
  HRESULT STDMETHODCALLTYPE Initialize(AUDCLNT_SHAREMODE, DWORD, REFERENCE_TIME, REFERENCE_TIME, const WAVEFORMATEX*,
                                       LPCGUID) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetBufferSize(UINT32*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetStreamLatency(REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetCurrentPadding(UINT32*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE IsFormatSupported(AUDCLNT_SHAREMODE, const WAVEFORMATEX*, WAVEFORMATEX**) override {
    return E_NOTIMPL;
  }
  HRESULT STDMETHODCALLTYPE GetMixFormat(WAVEFORMATEX**) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetDevicePeriod(REFERENCE_TIME*, REFERENCE_TIME*) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Start() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE Stop() override;
  HRESULT STDMETHODCALLTYPE Reset() override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE SetEventHandle(HANDLE) override { return E_NOTIMPL; }
  HRESULT STDMETHODCALLTYPE GetService(REFIID, void**) override { return E_NOTIMPL; }

 private:
  std::string name_;
  std::vector<std::string>* stopLog_;
  int stopCalls_ = 0;
  ULONG references_ = 1;
};
