#include "platform/fpu.h"

#include "platform/hw.h"
#include "platform/registers.h"

using namespace reg::core;

void FPUEnable() {
  hw::write32(kCoprocessorAccess, hw::read32(kCoprocessorAccess) | kFullFpuAccess);
}

void FPUDisable() {
  hw::write32(kCoprocessorAccess, hw::read32(kCoprocessorAccess) & ~kFullFpuAccess);
}

void FPULazyStackingEnable() {
  hw::write32(kFpContextControl,
              hw::read32(kFpContextControl) | kFpAutomaticStateSave | kFpLazyStateSave);
}
