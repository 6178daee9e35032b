// A small reader of the chip's ELF images: sections, symbols, words.
#pragma once

#include <elf.h>

#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

namespace images {

class ElfImage {
 public:
  explicit ElfImage(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    bytes_.assign(std::istreambuf_iterator<char>(file), {});
    if (bytes_.size() < sizeof(Elf32_Ehdr)) {
      return;
    }
    std::memcpy(&header_, bytes_.data(), sizeof header_);
    valid_ = std::memcmp(header_.e_ident, ELFMAG, SELFMAG) == 0 && header_.e_ident[EI_CLASS] == ELFCLASS32 &&
             header_.e_machine == EM_ARM;
    if (!valid_) {
      return;
    }
    for (unsigned index = 0; index < header_.e_shnum; ++index) {
      Elf32_Shdr section;
      std::memcpy(&section, bytes_.data() + header_.e_shoff + index * sizeof section, sizeof section);
      sections_.push_back(section);
    }
    for (const Elf32_Shdr& section : sections_) {
      if (section.sh_type != SHT_SYMTAB) {
        continue;
      }
      const Elf32_Shdr& names = sections_.at(section.sh_link);
      for (size_t at = 0; at + sizeof(Elf32_Sym) <= section.sh_size; at += sizeof(Elf32_Sym)) {
        Elf32_Sym symbol;
        std::memcpy(&symbol, bytes_.data() + section.sh_offset + at, sizeof symbol);
        symbols_.push_back({std::string(reinterpret_cast<const char*>(bytes_.data() + names.sh_offset + symbol.st_name)),
                            symbol});
      }
    }
  }

  bool valid() const { return valid_; }

  std::optional<Elf32_Shdr> section(const std::string& name) const {
    const Elf32_Shdr& names = sections_.at(header_.e_shstrndx);
    for (const Elf32_Shdr& section : sections_) {
      if (name == reinterpret_cast<const char*>(bytes_.data() + names.sh_offset + section.sh_name)) {
        return section;
      }
    }
    return std::nullopt;
  }

  // The value of the first symbol whose name contains the text.
  std::optional<uint32_t> symbol(const std::string& text) const {
    for (const auto& [name, symbol] : symbols_) {
      if (name.find(text) != std::string::npos && symbol.st_shndx != SHN_UNDEF) {
        return symbol.st_value;
      }
    }
    return std::nullopt;
  }

  std::vector<std::string> undefinedSymbols() const {
    std::vector<std::string> names;
    for (const auto& [name, symbol] : symbols_) {
      if (!name.empty() && symbol.st_shndx == SHN_UNDEF && ELF32_ST_BIND(symbol.st_info) != STB_WEAK) {
        names.push_back(name);
      }
    }
    return names;
  }

  std::vector<uint32_t> words(const Elf32_Shdr& section) const {
    std::vector<uint32_t> values(section.sh_size / 4);
    std::memcpy(values.data(), bytes_.data() + section.sh_offset, values.size() * 4);
    return values;
  }

 private:
  std::vector<unsigned char> bytes_;
  Elf32_Ehdr header_{};
  bool valid_ = false;
  std::vector<Elf32_Shdr> sections_;
  std::vector<std::pair<std::string, Elf32_Sym>> symbols_;
};

}  // namespace images
