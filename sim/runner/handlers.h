// The tracker's interrupt handlers, by the exception number of their
// peripheral's interrupt (the data sheet's vector table: 16 + IRQ).
#pragma once

#include <array>
#include <optional>
#include <string>
#include <string_view>

namespace sim {

struct HandlerName {
  unsigned vector;
  const char* peripheral;  // as the data sheet names it
  const char* function;    // the firmware's handler
};

inline constexpr std::array<HandlerName, 6> kTrackerHandlers = {{{35, "TIMER0A", "Int_PulseTimer"},
                                                                 {37, "TIMER1A", "Int_PostDataTimer"},
                                                                 {46, "GPIOF", "Int_PressControl"},
                                                                 {49, "UART2", "Int_Gps"},
                                                                 {76, "UART4", "Int_sim900"},
                                                                 {77, "UART5", "Int_Camera"}}};

// "Int_sim900 (UART4)"; "interrupt N" for one the tracker does not use.
inline std::string handlerName(unsigned vector) {
  for (const HandlerName& handler : kTrackerHandlers) {
    if (handler.vector == vector) {
      return std::string(handler.function) + " (" + handler.peripheral + ")";
    }
  }
  return "interrupt " + std::to_string(vector);
}

// A handler by its function's name or its peripheral's.
inline std::optional<unsigned> handlerVector(std::string_view name) {
  for (const HandlerName& handler : kTrackerHandlers) {
    if (name == handler.function || name == handler.peripheral) {
      return handler.vector;
    }
  }
  return std::nullopt;
}

}  // namespace sim
