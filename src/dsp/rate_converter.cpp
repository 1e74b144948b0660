// SPDX-License-Identifier: GPL-3.0-or-later
#include "dsp/rate_converter.h"

#include <algorithm>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libswresample/swresample.h>
}

RateConverter::~RateConverter() {
  swr_free(&context);
}

bool RateConverter::Open(int channelCount, int fromRate, int toRate) {
  swr_free(&context);
  channels = channelCount;
  AVChannelLayout layout{};
  av_channel_layout_default(&layout, channelCount);
  const bool ok = swr_alloc_set_opts2(&context, &layout, AV_SAMPLE_FMT_S16, toRate, &layout,
                                      AV_SAMPLE_FMT_S16, fromRate, 0, nullptr) >= 0 &&
                  swr_init(context) >= 0;
  av_channel_layout_uninit(&layout);
  if (!ok) swr_free(&context);
  return ok;
}

bool RateConverter::Convert(const int16_t* in, size_t frames, std::vector<int16_t>* out) {
  if (context == nullptr) return false;
  const int room = swr_get_out_samples(context, static_cast<int>(frames));
  if (room < 0) return false;
  const size_t before = out->size();
  out->resize(before + static_cast<size_t>(room) * channels);
  auto* target = reinterpret_cast<uint8_t*>(out->data() + before);
  const auto* source = reinterpret_cast<const uint8_t*>(in);
  const int got = swr_convert(context, &target, room, in != nullptr ? &source : nullptr,
                              static_cast<int>(frames));
  out->resize(before + static_cast<size_t>(std::max(got, 0)) * channels);
  return got >= 0;
}

bool RateConverter::Drain(std::vector<int16_t>* out) {
  return Convert(nullptr, 0, out);
}
