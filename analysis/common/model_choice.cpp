#include "analysis/common/model_choice.h"

#include <array>
#include <cstddef>

namespace qvd::analysis {
namespace {

constexpr std::array<const char *, 6> kModelNames = {"unit",  "pooling", "within",
                                                     "random", "cce",    "none"};
constexpr std::array<const char *, 3> kEffectNames = {"individual", "time", "twoways"};

}  // namespace

const char *model_name(Model model) { return kModelNames[static_cast<std::size_t>(model)]; }
const char *effect_name(Effect effect) { return kEffectNames[static_cast<std::size_t>(effect)]; }

std::optional<Model> model_named(std::string_view name) {
  for (std::size_t m = 0; m < kModelNames.size(); ++m)
    if (name == kModelNames[m]) return static_cast<Model>(m);
  return std::nullopt;
}

std::optional<Effect> effect_named(std::string_view name) {
  for (std::size_t e = 0; e < kEffectNames.size(); ++e)
    if (name == kEffectNames[e]) return static_cast<Effect>(e);
  return std::nullopt;
}

}  // namespace qvd::analysis
