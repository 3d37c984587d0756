// CpuInfo: the identity and instruction-set features of the processor, read with CPUID.
#ifndef BASE_CPU_H_
#define BASE_CPU_H_

#include <stdint.h>

#include <string>

namespace base {

class CpuInfo {
 public:
  struct Registers {
    uint32_t eax, ebx, ecx, edx;
  };
  // The processor's answers; tests put in a processor of their own.
  struct Probe {
    Registers (*cpuid)(uint32_t leaf, uint32_t subleaf);
    uint64_t (*xgetbv)(uint32_t index);  // called only when the OS enabled XSAVE
  };

  // Probes this processor.
  CpuInfo();
  explicit CpuInfo(const Probe& probe);

  uint32_t signature() const { return signature_; }  // EAX of leaf 1
  uint32_t type() const { return type_; }
  // The base family, plus the extended family when the base is Fh.
  uint32_t family() const { return family_; }
  uint32_t model() const { return model_; }  // includes the extended model
  uint32_t stepping() const { return stepping_; }
  uint32_t extended_model() const { return extended_model_; }
  uint32_t extended_family() const { return extended_family_; }
  bool has_mmx() const { return has_mmx_; }
  bool has_sse() const { return has_sse_; }
  bool has_sse2() const { return has_sse2_; }
  bool has_sse3() const { return has_sse3_; }
  bool has_ssse3() const { return has_ssse3_; }
  bool has_sse41() const { return has_sse41_; }
  bool has_sse42() const { return has_sse42_; }
  bool has_popcnt() const { return has_popcnt_; }
  bool has_avx() const { return has_avx_; }
  bool has_avx2() const { return has_avx2_; }
  bool has_aesni() const { return has_aesni_; }
  bool has_non_stop_time_stamp_counter() const { return has_non_stop_time_stamp_counter_; }
  // "unknown" until probed, then the 12 vendor bytes, e.g. "GenuineIntel".
  const std::string& vendor_name() const { return vendor_; }
  // Empty, or the 48 brand bytes as the processor returns them, padding included.
  const std::string& cpu_brand() const { return brand_; }

 private:
  void Initialize(const Probe& probe);

  uint32_t signature_ = 0;
  uint32_t type_ = 0;
  uint32_t family_ = 0;
  uint32_t model_ = 0;
  uint32_t stepping_ = 0;
  uint32_t extended_model_ = 0;
  uint32_t extended_family_ = 0;
  bool has_mmx_ = false;
  bool has_sse_ = false;
  bool has_sse2_ = false;
  bool has_sse3_ = false;
  bool has_ssse3_ = false;
  bool has_sse41_ = false;
  bool has_sse42_ = false;
  bool has_popcnt_ = false;
  bool has_avx_ = false;
  bool has_avx2_ = false;
  bool has_aesni_ = false;
  bool has_non_stop_time_stamp_counter_ = false;
  std::string vendor_ = "unknown";
  std::string brand_;
};

}  // namespace base

#endif  // BASE_CPU_H_
