// A bench's report server keeps the bench's virtual time: the bench gives
// it with each request, in this header, as milliseconds since its run
// began. Only a store made by a bench heeds it.
#pragma once

namespace server {

inline constexpr const char* kBenchTimeHeader = "X-Bench-Time";

}  // namespace server
