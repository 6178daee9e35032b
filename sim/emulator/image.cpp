#include "sim/emulator/image.h"

#include <cxxabi.h>
#include <fcntl.h>
#include <gelf.h>
#include <libelf.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "sim/board.h"

namespace sim {

std::string hex(uint64_t value) {
  char text[24];
  std::snprintf(text, sizeof text, "0x%08llx", static_cast<unsigned long long>(value));
  return text;
}

namespace {

std::string demangled(const char* name) {
  int status = 0;
  char* readable = abi::__cxa_demangle(name, nullptr, nullptr, &status);
  std::string text = status == 0 && readable != nullptr ? readable : name;
  std::free(readable);
  return text;
}

[[noreturn]] void cannot(Board& board, const std::string& what) { board.fault("emulated board: " + what); }

}  // namespace

Image loadImage(Board& board, const std::string& path, uint32_t base, uint32_t size) {
  Image image;
  image.base = base;
  image.flash.assign(size, 0xFF);
  // A flat binary, as the flash programmer takes it: no symbols.
  if (path.size() > 4 && path.compare(path.size() - 4, 4, ".bin") == 0) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr) {
      cannot(board, "cannot open " + path);
    }
    const size_t read = std::fread(image.flash.data(), 1, size, file);
    std::fclose(file);
    image.codeStarts.push_back(base);
    image.codeEnds.push_back(base + static_cast<uint32_t>(read));
    return image;
  }
  elf_version(EV_CURRENT);
  const int file = open(path.c_str(), O_RDONLY);
  if (file < 0) {
    cannot(board, "cannot open " + path);
  }
  Elf* elf = elf_begin(file, ELF_C_READ, nullptr);
  GElf_Ehdr header;
  if (elf == nullptr || gelf_getehdr(elf, &header) == nullptr || header.e_machine != EM_ARM) {
    cannot(board, path + " is no ARM ELF image");
  }
  // What a programmer writes to flash: each loadable segment at its load
  // address.
  size_t segments = 0;
  elf_getphdrnum(elf, &segments);
  for (size_t index = 0; index < segments; ++index) {
    GElf_Phdr segment;
    gelf_getphdr(elf, static_cast<int>(index), &segment);
    if (segment.p_type != PT_LOAD || segment.p_filesz == 0) {
      continue;
    }
    if (segment.p_paddr < base || segment.p_paddr + segment.p_filesz > base + size) {
      cannot(board, "a segment of " + path + " lies outside its memory");
    }
    size_t fileSize = 0;
    const char* bytes = elf_rawfile(elf, &fileSize);
    std::memcpy(image.flash.data() + (segment.p_paddr - base), bytes + segment.p_offset, segment.p_filesz);
  }
  for (Elf_Scn* section = elf_nextscn(elf, nullptr); section != nullptr; section = elf_nextscn(elf, section)) {
    GElf_Shdr info;
    gelf_getshdr(section, &info);
    if ((info.sh_flags & SHF_EXECINSTR) != 0 && info.sh_addr >= base && info.sh_addr < base + size) {
      image.codeStarts.push_back(static_cast<uint32_t>(info.sh_addr));
      image.codeEnds.push_back(static_cast<uint32_t>(info.sh_addr + info.sh_size));
    }
    if (info.sh_type != SHT_SYMTAB) {
      continue;
    }
    Elf_Data* data = elf_getdata(section, nullptr);
    const size_t count = info.sh_entsize != 0 ? info.sh_size / info.sh_entsize : 0;
    for (size_t index = 0; index < count; ++index) {
      GElf_Sym symbol;
      gelf_getsym(data, static_cast<int>(index), &symbol);
      const char* name = elf_strptr(elf, info.sh_link, symbol.st_name);
      if (name == nullptr) {
        continue;
      }
      if (name[0] == '$' && (name[1] == 't' || name[1] == 'd') && (name[2] == '\0' || name[2] == '.')) {
        image.codeMapping[static_cast<uint32_t>(symbol.st_value)] = name[1] == 't';
      } else if (GELF_ST_TYPE(symbol.st_info) == STT_FUNC) {
        image.functions[static_cast<uint32_t>(symbol.st_value & ~1ULL)] = {static_cast<uint32_t>(symbol.st_size),
                                                                           demangled(name)};
      } else if (std::strcmp(name, "__STACK_END") == 0) {
        image.stackTop = static_cast<uint32_t>(symbol.st_value);
      }
    }
  }
  elf_end(elf);
  close(file);
  return image;
}

}  // namespace sim
