// The whole driver layer.
#pragma once

#include "platform/adc.h"
#include "platform/fpu.h"
#include "platform/gpio.h"
#include "platform/interrupt.h"
#include "platform/memmap.h"
#include "platform/sysctl.h"
#include "platform/timer.h"
#include "platform/uart.h"
