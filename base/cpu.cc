#include "base/cpu.h"

#include <cpuid.h>
#include <string.h>

namespace base {

namespace {

CpuInfo::Registers ProcessorCpuid(uint32_t leaf, uint32_t subleaf) {
  CpuInfo::Registers r = {};
  __cpuid_count(leaf, subleaf, r.eax, r.ebx, r.ecx, r.edx);
  return r;
}

uint64_t ProcessorXgetbv(uint32_t index) {
  uint32_t low, high;
  // The instruction itself: no -mxsave needed for this one use.
  asm volatile("xgetbv" : "=a"(low), "=d"(high) : "c"(index));
  return (static_cast<uint64_t>(high) << 32) | low;
}

inline bool Bit(uint32_t value, int bit) { return (value >> bit) & 1; }

void AppendRegister(std::string* text, uint32_t value) {
  char bytes[4];
  memcpy(bytes, &value, 4);
  text->append(bytes, 4);
}

}  // namespace

CpuInfo::CpuInfo() : CpuInfo(Probe{&ProcessorCpuid, &ProcessorXgetbv}) {}

CpuInfo::CpuInfo(const Probe& probe) { Initialize(probe); }

void CpuInfo::Initialize(const Probe& probe) {
  const Registers leaf0 = probe.cpuid(0, 0);
  const uint32_t max_leaf = leaf0.eax;
  vendor_.clear();
  AppendRegister(&vendor_, leaf0.ebx);
  AppendRegister(&vendor_, leaf0.edx);
  AppendRegister(&vendor_, leaf0.ecx);

  if (max_leaf > 0) {
    const Registers leaf1 = probe.cpuid(1, 0);
    signature_ = leaf1.eax;
    type_ = (signature_ >> 12) & 0x3;
    extended_model_ = (signature_ >> 16) & 0xF;
    model_ = ((signature_ >> 4) & 0xF) + (extended_model_ << 4);
    stepping_ = signature_ & 0xF;
    extended_family_ = (signature_ >> 20) & 0xFF;
    // As both vendors define it: a base family of Fh is extended (AMD 10h and later
    // report Fh there), so only the real family 15 reads as 15.
    family_ = (signature_ >> 8) & 0xF;
    if (family_ == 0xF) family_ += extended_family_;

    has_mmx_ = Bit(leaf1.edx, 23);
    has_sse_ = Bit(leaf1.edx, 25);
    has_sse2_ = Bit(leaf1.edx, 26);
    has_sse3_ = Bit(leaf1.ecx, 0);
    has_ssse3_ = Bit(leaf1.ecx, 9);
    has_sse41_ = Bit(leaf1.ecx, 19);
    has_sse42_ = Bit(leaf1.ecx, 20);
    has_popcnt_ = Bit(leaf1.ecx, 23);
    has_aesni_ = Bit(leaf1.ecx, 25);
    // AVX needs the processor (bits 26 to 28: XSAVE, OSXSAVE, AVX) and the OS saving
    // the SSE and AVX register state (XCR0 bits 1 and 2).
    const bool avx_possible = Bit(leaf1.ecx, 26) && Bit(leaf1.ecx, 27) && Bit(leaf1.ecx, 28);
    has_avx_ = avx_possible && (probe.xgetbv(0) & 0x6) == 0x6;
    has_avx2_ = has_avx_ && max_leaf >= 7 && Bit(probe.cpuid(7, 0).ebx, 5);
  }

  const uint32_t max_extended_leaf = probe.cpuid(0x80000000u, 0).eax;
  if (max_extended_leaf >= 0x80000004u) {
    brand_.clear();
    for (uint32_t leaf = 0x80000002u; leaf <= 0x80000004u; ++leaf) {
      const Registers r = probe.cpuid(leaf, 0);
      AppendRegister(&brand_, r.eax);
      AppendRegister(&brand_, r.ebx);
      AppendRegister(&brand_, r.ecx);
      AppendRegister(&brand_, r.edx);
    }
  }
  if (max_extended_leaf >= 0x80000007u)
    has_non_stop_time_stamp_counter_ = Bit(probe.cpuid(0x80000007u, 0).edx, 8);
}

}  // namespace base
