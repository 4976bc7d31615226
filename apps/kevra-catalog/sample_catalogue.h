// The sample hotel-group catalogue (samples/hotel-catalogue.json), built
// into kevra-catalog for `init --sample`.
#pragma once

#include <string_view>

extern const std::string_view kSampleCatalogue;
