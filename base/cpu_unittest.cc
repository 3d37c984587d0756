#include "base/cpu.h"

#include <map>
#include <vector>

#include <gtest/gtest.h>

#include "base/time/time.h"

namespace base {
namespace {

// A made-up processor: answers from a table, records which leaves were asked.
struct FakeProcessor {
  std::map<uint32_t, CpuInfo::Registers> leaves;
  uint64_t xcr0 = 0;
  std::map<uint32_t, int> asked;
};
FakeProcessor* g_fake = nullptr;

CpuInfo::Registers FakeCpuid(uint32_t leaf, uint32_t /*subleaf*/) {
  ++g_fake->asked[leaf];
  auto found = g_fake->leaves.find(leaf);
  return found == g_fake->leaves.end() ? CpuInfo::Registers{} : found->second;
}

uint64_t FakeXgetbv(uint32_t) { return g_fake->xcr0; }

class CpuInfoTest : public testing::Test {
 protected:
  void SetUp() override { g_fake = &fake_; }
  void TearDown() override { g_fake = nullptr; }
  CpuInfo Probe() { return CpuInfo(CpuInfo::Probe{&FakeCpuid, &FakeXgetbv}); }

  FakeProcessor fake_;
};

const uint32_t kAvxBits = (1u << 26) | (1u << 27) | (1u << 28);

// The family adds the extended family only to a base family of Fh, and only the real
// family 15 of AMD is kept off the high-resolution clocks.
TEST_F(CpuInfoTest, FamilyAndTheHighResolutionClock) {
  const CpuInfo::Registers kAmd = {1, 0x68747541, 0x444d4163, 0x69746e65};
  const CpuInfo::Registers kIntel = {1, 0x756e6547, 0x6c65746e, 0x49656e69};
  const struct {
    const char* name;
    CpuInfo::Registers vendor;
    uint32_t signature;
    uint32_t family;
    bool usable_tsc;
  } kCases[] = {
      {"AMD K8", kAmd, 0x00020F32, 15, false},
      {"AMD family 10h", kAmd, 0x00100F42, 0x10, true},
      {"AMD family 1Ah", kAmd, 0x00B40F40, 26, true},
      {"Intel Pentium 4", kIntel, 0x00000F29, 15, true},
      {"Intel family 6, extended bits ignored", kIntel, 0x001906EA, 6, true},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    fake_.leaves[0] = c.vendor;
    fake_.leaves[1] = {c.signature, 0, 0, 0};
    fake_.leaves[0x80000000u] = {0x80000007u, 0, 0, 0};
    fake_.leaves[0x80000007u] = {0, 0, 0, 1u << 8};  // invariant counter
    const CpuInfo cpu = Probe();
    EXPECT_EQ(c.family, cpu.family());
    EXPECT_EQ(c.usable_tsc, time_internal::CpuHasUsableTsc(cpu));
  }
  fake_.leaves[0x80000007u] = {};
  EXPECT_FALSE(time_internal::CpuHasUsableTsc(Probe())) << "without an invariant counter";
}

TEST_F(CpuInfoTest, DecodesSignatureVendorAndFlags) {
  // "GenuineIntel" is EBX "Genu", EDX "ineI", ECX "ntel".
  fake_.leaves[0] = {1, 0x756e6547, 0x6c65746e, 0x49656e69};
  fake_.leaves[1] = {0x000906EA, 0, (1u << 0) | (1u << 19) | (1u << 25),
                     (1u << 23) | (1u << 26)};
  const CpuInfo cpu = Probe();
  EXPECT_EQ("GenuineIntel", cpu.vendor_name());
  EXPECT_EQ((std::vector<uint32_t>{0x000906EA, 0, 6, 0x9E, 9, 0xA, 0}),
            (std::vector<uint32_t>{cpu.signature(), cpu.type(), cpu.family(), cpu.model(),
                                   cpu.extended_model(), cpu.stepping(),
                                   cpu.extended_family()}));
  // mmx, sse, sse2, sse3, ssse3, sse4.1, sse4.2, aes-ni, avx
  EXPECT_EQ((std::vector<bool>{true, false, true, true, false, true, false, true, false}),
            (std::vector<bool>{cpu.has_mmx(), cpu.has_sse(), cpu.has_sse2(), cpu.has_sse3(),
                               cpu.has_ssse3(), cpu.has_sse41(), cpu.has_sse42(),
                               cpu.has_aesni(), cpu.has_avx()}));
  EXPECT_TRUE(cpu.cpu_brand().empty());
  EXPECT_FALSE(cpu.has_non_stop_time_stamp_counter());

  // Without leaf one only the vendor is known.
  fake_.leaves[0] = {0, 0x41414141, 0x43434343, 0x42424242};
  fake_.leaves[1].ecx = fake_.leaves[1].edx = 0xFFFFFFFF;
  fake_.asked.clear();
  const CpuInfo vendor_only = Probe();
  EXPECT_EQ("AAAABBBBCCCC", vendor_only.vendor_name());
  EXPECT_EQ(0, fake_.asked[1]);
  EXPECT_EQ(0u, vendor_only.signature());
  EXPECT_FALSE(vendor_only.has_sse2());
}

TEST_F(CpuInfoTest, AvxNeedsTheProcessorAndTheSystem) {
  const struct {
    uint32_t max_leaf;
    uint32_t leaf1_ecx;
    uint64_t xcr0;
    bool avx;
    bool avx2;
  } cases[] = {
      {7, kAvxBits, 0x7, true, true},
      {6, kAvxBits, 0x7, true, false},   // no leaf 7: no AVX2, whatever it would say
      {7, kAvxBits, 0x3, false, false},  // the system does not save the AVX state
      {7, kAvxBits & ~(1u << 27), 0x7, false, false},
  };
  for (const auto& c : cases) {
    fake_ = FakeProcessor();
    fake_.leaves[0] = {c.max_leaf, 0, 0, 0};
    fake_.leaves[1] = {0, 0, c.leaf1_ecx, 0};
    fake_.leaves[7] = {0, 1u << 5, 0, 0};
    fake_.xcr0 = c.xcr0;
    const CpuInfo cpu = Probe();
    EXPECT_EQ(c.avx, cpu.has_avx()) << c.max_leaf << " " << c.xcr0;
    EXPECT_EQ(c.avx2, cpu.has_avx2()) << c.max_leaf << " " << c.xcr0;
    if (c.max_leaf < 7) {
      EXPECT_EQ(0, fake_.asked[7]);
    }
  }
}

TEST_F(CpuInfoTest, BrandAndCounterFromTheExtendedLeaves) {
  fake_.leaves[0x80000000u] = {0x80000007u, 0, 0, 0};
  fake_.leaves[0x80000002u] = {0x20202020, 0x65746e49, 0x2952286c, 0x726f4320};
  fake_.leaves[0x80000004u] = {0x7a484730, 0, 0, 0};
  fake_.leaves[0x80000007u] = {0, 0, 0, 1u << 8};
  const CpuInfo cpu = Probe();
  ASSERT_EQ(48u, cpu.cpu_brand().size());
  EXPECT_EQ("    Intel(R) Cor", cpu.cpu_brand().substr(0, 16));
  EXPECT_EQ(std::string(16, '\0'), cpu.cpu_brand().substr(16, 16));
  EXPECT_EQ(std::string("0GHz", 4), cpu.cpu_brand().substr(32, 4));
  EXPECT_TRUE(cpu.has_non_stop_time_stamp_counter());

  fake_.leaves[0x80000000u] = {0x80000003u, 0, 0, 0};
  EXPECT_TRUE(Probe().cpu_brand().empty());
}

TEST(CpuInfoRealTest, EveryX64ProcessorHasSse2) {
  const CpuInfo cpu;
  EXPECT_TRUE(cpu.has_sse2());
  EXPECT_TRUE(cpu.has_mmx());
  EXPECT_EQ(12u, cpu.vendor_name().size());
}

}  // namespace
}  // namespace base
