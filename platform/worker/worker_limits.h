// The hard limits a decoding worker lives under, shared by the tool (which
// holds the wall clock) and the worker (which sets the rest on itself).
#pragma once

#include <chrono>
#include <cstdint>

#include "platform/pdf/pdf_page_cost.h"

namespace brindlewox::worker {

// Address space of the whole worker: its libraries, the parsed input, the
// decoders' buffers and the page's pixels. A 3200 x 3200 page holds some
// 70 MB while drawn; an image file at the largest size accepted, half a
// gigabyte of pixels.
inline constexpr std::uint64_t kAddressSpace = std::uint64_t{1} << 30;

// Wall-clock time for one page (or an image file) from request to pixels,
// held by the tool: past it the worker is killed and the page fails.
inline constexpr std::chrono::seconds kPageDeadline = kPageDrawingLimit;

// CPU seconds one page may spend in the worker: the kernel's own stop should
// the tool's clock not run (the worker stopped, the tool descheduled).
inline constexpr std::uint64_t kPageCpuSeconds = kPageDeadline.count() + 5;

}  // namespace brindlewox::worker
