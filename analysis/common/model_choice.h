// Which panel model's residuals are tested, named as R's plm names them:
//
//   unit     each cross-section's own least-squares regression, the
//            module's (the default; the module fits it)
//   pooling  one least-squares fit over every complete cell
//   within   fixed effects by cross-section, by period or both
//   random   random effects, Swamy and Arora's variance components
//   cce      Pesaran's common correlated effects, mean group: each
//            cross-section's own regression on its regressors and the
//            cross-sectional averages (cce_panel.h; the module fits it)
//   none     the dependent column as it is (a variable, or residuals
//            formed elsewhere), as pcdtest tests a pseries
//
// The effect matters to within and random models only.
#ifndef QVDEP_ANALYSIS_COMMON_MODEL_CHOICE_H
#define QVDEP_ANALYSIS_COMMON_MODEL_CHOICE_H

#include <optional>
#include <string_view>

namespace qvd::analysis {

enum class Model { unit, pooling, within, random, cce, none };
enum class Effect { individual, time, twoways };

struct ModelChoice {
  Model model = Model::pooling;
  Effect effect = Effect::individual;
  bool intercept = true;  // pooling, random and cce; a within model has none
};

// "unit" and plm's words: "pooling", "within", "random", "cce", "none";
// "individual", "time", "twoways". The *_named functions return nothing for
// any other.
const char *model_name(Model model);
const char *effect_name(Effect effect);
std::optional<Model> model_named(std::string_view name);
std::optional<Effect> effect_named(std::string_view name);

// Whether the model has effects to choose (within and random).
constexpr bool has_effects(Model model) { return model == Model::within || model == Model::random; }

}  // namespace qvd::analysis

#endif
