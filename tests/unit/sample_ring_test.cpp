#include <gtest/gtest.h>

#include <memory>

#include "pipeline/capture_slot.h"

namespace {

// The value pushed as the c-th sample ever: distinct within any 30000 in a row.
std::int16_t valueOf(std::int64_t count) { return static_cast<std::int16_t>(count % 30000 - 15000); }

class SampleRingTest : public ::testing::Test {
 protected:
  void pushMany(std::int64_t count) {
    for (std::int64_t c = 0; c < count; ++c) pushSample(*ring, valueOf(ring->writeCount));
  }
  std::unique_ptr<SampleRing> ring = std::make_unique<SampleRing>();
};

TEST_F(SampleRingTest, EmptyRingYieldsSilenceAndKeepsItsCounts) {
  EXPECT_EQ(takeSample(*ring), 0);
  EXPECT_EQ(ring->readCount, 0);
  pushSample(*ring, 7);
  EXPECT_EQ(takeSample(*ring), 7);
  EXPECT_EQ(takeSample(*ring), 0);
  EXPECT_EQ(ring->readCount, 1);
  EXPECT_EQ(ring->writeCount, 1);
}

TEST_F(SampleRingTest, HandsOutSamplesOldestFirst) {
  pushMany(5);
  EXPECT_EQ(takeSample(*ring), valueOf(0));
  EXPECT_EQ(takeSample(*ring), valueOf(1));
  pushMany(2);
  for (std::int64_t c = 2; c < 7; ++c) EXPECT_EQ(takeSample(*ring), valueOf(c));
  EXPECT_EQ(takeSample(*ring), 0);
}

TEST_F(SampleRingTest, HoldsAFullCapacityOfUnreadSamples) {
  pushMany(kRingCapacity);
  EXPECT_EQ(ring->writeCount, 64000);
  EXPECT_EQ(ring->readCount, 0);
  EXPECT_EQ(takeSample(*ring), valueOf(0));
}

TEST_F(SampleRingTest, OverflowDropsTheOldestUnreadSample) {
  pushMany(kRingCapacity + 1);
  EXPECT_EQ(ring->samples[0], valueOf(64000));  // count 64000 lives in entry 0
  EXPECT_EQ(ring->readCount, 1);
  EXPECT_EQ(takeSample(*ring), valueOf(1));
}

TEST_F(SampleRingTest, LongOverflowKeepsTheNewestCapacity) {
  pushMany(100000);
  EXPECT_EQ(ring->readCount, 36000);
  EXPECT_EQ(ring->samples[36000], valueOf(36000));
  EXPECT_EQ(takeSample(*ring), valueOf(36000));
  pushMany(128006 - 100000);
  EXPECT_EQ(ring->samples[5], valueOf(128005));
  EXPECT_EQ(ring->writeCount - ring->readCount, kRingCapacity);
}

}  // namespace
