// The built images themselves: vector table, sections, symbols.
#include <gtest/gtest.h>

#include "boards/startup/vector_table.h"
#include "tests/images/elf_image.h"

namespace {

using images::ElfImage;

const std::string kImages = TARGET_BUILD_DIR;

ElfImage load(const std::string& relative) {
  ElfImage image(kImages + "/" + relative);
  EXPECT_TRUE(image.valid()) << relative << ": build the tm4c123 preset first";
  return image;
}

struct Census {
  int stack = 0, named = 0, fallback = 0, zeros = 0, own = 0;
};

// Checks the table of one image and counts its entry classes.
Census checkTable(const ElfImage& image, uint32_t stackTop, const std::vector<std::pair<unsigned, std::string>>& own) {
  Census census;
  const auto table = image.section(".intvecs");
  if (!table) {
    ADD_FAILURE() << "no .intvecs";
    return census;
  }
  EXPECT_EQ(table->sh_addr, 0U);
  EXPECT_EQ(table->sh_size, 620U);
  const auto words = image.words(*table);
  EXPECT_EQ(words.at(0), stackTop);
  ++census.stack;
  const uint32_t reset = image.symbol("ResetISR").value_or(0);
  const uint32_t nmi = image.symbol("NmiSR").value_or(0);
  const uint32_t fault = image.symbol("FaultISR").value_or(0);
  const uint32_t fallback = image.symbol("IntDefaultHandler").value_or(0);
  // Handler entries carry the Thumb bit.
  EXPECT_EQ(words.at(1), reset | 1U);
  EXPECT_EQ(words.at(2), nmi | 1U);
  EXPECT_EQ(words.at(3), fault | 1U);
  census.named = 3;
  for (unsigned entry = 4; entry < words.size(); ++entry) {
    bool filled = false;
    for (const auto& [at, name] : own) {
      if (at == entry) {
        EXPECT_EQ(words[entry], image.symbol(name).value_or(0) | 1U) << entry;
        filled = true;
        ++census.own;
      }
    }
    if (filled) {
      continue;
    }
    if (startup::reserved(entry)) {
      EXPECT_EQ(words[entry], 0U) << entry;
      ++census.zeros;
    } else {
      EXPECT_EQ(words[entry], fallback | 1U) << entry;
      ++census.fallback;
    }
  }
  EXPECT_TRUE(image.undefinedSymbols().empty()) << image.undefinedSymbols().front();
  return census;
}

TEST(Bareboot, TableStackAndNothingElseInRam) {
  const ElfImage image = load("boards/bareboot/bareboot.elf");
  const Census census = checkTable(image, 0x20000200, {});
  EXPECT_EQ(census.fallback, 114);
  EXPECT_EQ(census.zeros, 37);
  // The reserved positions are the chip's.
  for (unsigned entry : {7U, 10U, 13U, 57U, 58U, 68U, 69U, 80U, 83U, 88U, 107U, 123U, 124U, 130U, 131U}) {
    EXPECT_TRUE(startup::reserved(entry)) << entry;
  }
  EXPECT_FALSE(startup::reserved(21));
  // No initialised or zero-filled data, and the stack is the 512 bytes at
  // the start of SRAM.
  EXPECT_EQ(image.section(".data")->sh_size, 0U);
  EXPECT_EQ(image.section(".bss")->sh_size, 0U);
  EXPECT_EQ(image.section(".stack")->sh_addr, 0x20000000U);
  EXPECT_EQ(image.section(".stack")->sh_size, 0x200U);
  EXPECT_EQ(image.symbol("__STACK_TOP"), 0x20000200U);
  EXPECT_TRUE(image.symbol("main").has_value());
}

TEST(Typeback, UartZeroEntryHoldsItsOwnHandler) {
  const ElfImage image = load("boards/typeback/typeback.elf");
  const Census census = checkTable(image, 0x20000200, {{21, "UARTIntHandler"}});
  EXPECT_EQ(census.own, 1);
  EXPECT_EQ(census.fallback, 113);
  EXPECT_EQ(census.zeros, 37);
}

TEST(Ledflash, DefaultTable) {
  const ElfImage image = load("boards/ledflash/ledflash.elf");
  const Census census = checkTable(image, 0x20000200, {});
  EXPECT_EQ(census.fallback, 114);
}

TEST(TrackerFirmware, TableAndTheStackItsHandlersNeed) {
  const ElfImage image = load("apps/tracker/tracker_firmware.elf");
  const uint32_t stack = image.section(".stack")->sh_size;
  checkTable(image, 0x20000000 + stack, {});
  // (The stack's size against the call graphs' worst case is checked in
  // the target build.)
  EXPECT_GE(stack, 0x200U);
  // The tracker's state starts from flash and zero fill.
  EXPECT_GT(image.section(".data")->sh_size, 0U);
  EXPECT_GT(image.section(".bss")->sh_size, 0U);
}

}  // namespace
