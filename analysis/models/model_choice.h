// Which panel model's residuals are tested, named as R's plm names them:
//
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
#ifndef QVDEP_ANALYSIS_MODELS_MODEL_CHOICE_H
#define QVDEP_ANALYSIS_MODELS_MODEL_CHOICE_H

#include <optional>
#include <string_view>

namespace qvd::analysis {

enum class Model { pooling, within, random, cce, none };
enum class Effect { individual, time, twoways };

struct ModelChoice {
  Model model = Model::pooling;
  Effect effect = Effect::individual;
  bool intercept = true;  // pooling, random and cce; a within model has none
};

// plm's words: "pooling", "within", "random", "cce", "none"; "individual",
// "time", "twoways". The *_named functions return nothing for any other.
const char *model_name(Model model);
const char *effect_name(Effect effect);
std::optional<Model> model_named(std::string_view name);
std::optional<Effect> effect_named(std::string_view name);

}  // namespace qvd::analysis

#endif
