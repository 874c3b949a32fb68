// Opening a capture slot on simulated endpoints: what the mix format gives the
// slot, which stream flags reach Initialize, and the refusals that end the run.
#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "platform/core_audio.h"
#include "endpoints/slot_opening.h"
#include "pipeline/capture_slot.h"
#include "platform/sim/sim_scenario.h"

namespace {
using nlohmann::json;

// Gives back what an opened slot holds, which the program itself keeps
// until it ends.
struct SlotRelease {
  void operator()(CaptureSlot* slot) const {
    if (slot->captureClient != nullptr) slot->captureClient->Release();
    if (slot->audioClient != nullptr) slot->audioClient->Release();
    if (slot->device != nullptr) slot->device->Release();
    CoTaskMemFree(slot->mixFormat);
    delete slot;
  }
};
using SlotHolder = std::unique_ptr<CaptureSlot, SlotRelease>;

// A fresh, zeroed slot holding the default endpoint of flow in a world of
// that one endpoint.
SlotHolder chosenSlot(const json& endpoint, const char* label) {
  sim::useScenarioText(json({{"endpoints", json::array({endpoint})}}).dump());
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IMMDeviceEnumerator* enumerator = nullptr;
  CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator,
                   reinterpret_cast<void**>(&enumerator));
  SlotHolder slot(new CaptureSlot);
  std::memset(slot.get(), 0, sizeof(CaptureSlot));
  slot->label = label;
  const EDataFlow flow = endpoint["flow"] == "render" ? eRender : eCapture;
  EXPECT_EQ(enumerator->GetDefaultAudioEndpoint(flow, eConsole, &slot->device), S_OK);
  enumerator->Release();
  return slot;
}

json endpointWith(const char* flow, const json& format) {
  return {{"flow", flow}, {"id", "{x}"}, {"name", "X"}, {"default", true}, {"format", format}};
}

struct FormatCase {
  json format;
  std::int32_t channels, bits, isFloat, rate;
  double step;
};

TEST(SlotOpening, ReadsTheMixFormatIntoTheSlotAndLeavesTheRestAlone) {
  const std::vector<FormatCase> cases = {
      {{{"tag", "float"}, {"channels", 2}, {"bits", 32}, {"rate", 48000}}, 2, 32, 1, 48000, 3.0},
      {{{"tag", "extensible-pcm"}, {"channels", 2}, {"bits", 32}, {"validBits", 24}, {"rate", 48000}},
       2,
       32,
       0,
       48000,
       3.0},
      {{{"tag", "extensible-float"}, {"channels", 8}, {"bits", 32}, {"rate", 44100}}, 8, 32, 1, 44100, 2.75625},
      {{{"tag", "pcm"}, {"channels", 1}, {"bits", 16}, {"rate", 16000}}, 1, 16, 0, 16000, 1.0},
      {{{"tag", "pcm"}, {"channels", 2}, {"bits", 8}, {"rate", 8000}}, 2, 8, 0, 8000, 0.5},
  };
  for (const auto& row : cases) {
    auto slot = chosenSlot(endpointWith("capture", row.format), "mic");
    std::strcpy(slot->friendlyName, "kept");
    slot->lastSample = 0.0f;
    openSlot(*slot, false);
    EXPECT_NE(slot->audioClient, nullptr);
    EXPECT_NE(slot->captureClient, nullptr);
    ASSERT_NE(slot->mixFormat, nullptr);
    EXPECT_EQ(slot->channelCount, row.channels) << row.format.dump();
    EXPECT_EQ(slot->bitsPerSample, row.bits) << row.format.dump();
    EXPECT_EQ(slot->isFloat, row.isFloat) << row.format.dump();
    EXPECT_EQ(slot->deviceRate, row.rate) << row.format.dump();
    EXPECT_EQ(slot->resampleStep, row.step) << row.format.dump();
    EXPECT_EQ(slot->resamplePhase, 0.0);
    EXPECT_STREQ(slot->friendlyName, "kept");
    EXPECT_EQ(slot->ring.writeCount, 0);
    EXPECT_EQ(slot->ring.readCount, 0);
    // The stream was opened on the very block GetMixFormat handed out.
    EXPECT_EQ(slot->mixFormat->nSamplesPerSec, static_cast<DWORD>(row.rate));
  }
}

// The simulated engine refuses loopback on a capture endpoint and a capture
// client on a render stream without it, as Windows does: so a slot opens
// only when the flag matches the endpoint.
TEST(SlotOpeningDeathTest, LoopbackIsAskedForOnTheDesktopSourceOnly) {
  const json format = {{"tag", "float"}, {"channels", 2}, {"bits", 32}, {"rate", 48000}};
  auto speaker = chosenSlot(endpointWith("render", format), "desktop");
  openSlot(*speaker, true);
  EXPECT_NE(speaker->captureClient, nullptr);

  EXPECT_EXIT(
      {
        auto mic = chosenSlot(endpointWith("capture", format), "mic");
        openSlot(*mic, true);
      },
      testing::ExitedWithCode(3),
      R"(\{"event":"fault","reason":"capture.linkFailed","detail":"Initialize:0x88890003","slot":"mic"\})");
  EXPECT_EXIT(
      {
        auto desktop = chosenSlot(endpointWith("render", format), "desktop");
        openSlot(*desktop, false);
      },
      testing::ExitedWithCode(3),
      R"(\{"event":"fault","reason":"capture.linkFailed","detail":"GetService:0x88890003","slot":"desktop"\})");
}

void openWithFailingInitialize(const json& format) {
  // Initialize would fail differently; the refusal must come first.
  json endpoint = endpointWith("capture", format);
  endpoint["fail"] = {{"Initialize", "0x80004005"}};
  auto mic = chosenSlot(endpoint, "mic");
  openSlot(*mic, false);
}

TEST(SlotOpeningDeathTest, AFormatWithoutChannelsOrRateIsRefusedBeforeInitialize) {
  for (const json& format : {json{{"channels", 0}}, json{{"rate", 0}}}) {
    EXPECT_EXIT(openWithFailingInitialize(format), testing::ExitedWithCode(3),
                R"(\{"event":"fault","reason":"capture.linkFailed","detail":"GetMixFormat:0x88890008","slot":"mic"\})");
  }
}

void startMicAndRefusingSpeaker() {
  const json format = {{"tag", "float"}, {"channels", 2}, {"bits", 32}, {"rate", 48000}};
  json endpoints = json::array({endpointWith("capture", format), endpointWith("render", format)});
  endpoints[1]["fail"] = {{"Start", "0x88890004"}};
  sim::useScenarioText(json({{"endpoints", endpoints}}).dump());
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  IMMDeviceEnumerator* enumerator = nullptr;
  CoCreateInstance(CLSID_MMDeviceEnumerator, nullptr, CLSCTX_ALL, IID_IMMDeviceEnumerator,
                   reinterpret_cast<void**>(&enumerator));
  auto table = std::make_unique<SlotTable>();
  std::memset(table.get(), 0, sizeof(SlotTable));
  table->entries[0].label = "mic";
  table->entries[1].label = "desktop";
  enumerator->GetDefaultAudioEndpoint(eCapture, eConsole, &table->entries[0].device);
  enumerator->GetDefaultAudioEndpoint(eRender, eConsole, &table->entries[1].device);
  openSlot(table->entries[0], false);
  openSlot(table->entries[1], true);
  startSlots(*table, 2);
}

TEST(SlotOpeningDeathTest, StartsInTableOrderAndStopsAtTheFirstRefusal) {
  // Entry 0 starts; entry 1 refuses; the fault names entry 1.
  EXPECT_EXIT(startMicAndRefusingSpeaker(), testing::ExitedWithCode(3),
              R"(\{"event":"fault","reason":"capture.linkFailed","detail":"Start:0x88890004","slot":"desktop"\})");
}

}  // namespace
