// Floating-point unit access and state saving.
#pragma once

void FPUEnable();
void FPUDisable();
void FPULazyStackingEnable();
