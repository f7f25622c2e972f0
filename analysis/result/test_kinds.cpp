#include "analysis/result/test_kinds.h"

#include <stdexcept>

namespace qvd::analysis {

const std::vector<TestKindInfo> &test_kinds() {
  static const std::vector<TestKindInfo> kinds = {
      {TestKind::lm, "lm", "LM", "Breusch-Pagan LM", "chi2({df})", "Breusch and Pagan (1980)",
       "lm", "lm_pvalue"},
      {TestKind::scaled_lm, "scaled_lm", "scaled LM", "Pesaran scaled LM", "N(0,1) upper tail",
       "Pesaran (2004)", "scaled_lm", "scaled_lm_pvalue"},
      {TestKind::bias_corrected_scaled_lm, "bias_corrected_scaled_lm", "LM_BC",
       "bias-corrected scaled LM", "N(0,1) upper tail", "Baltagi, Feng and Kao (2012)", "lm_bc",
       "lm_bc_pvalue"},
      {TestKind::cd, "cd", "CD", "Pesaran CD", "N(0,1) two-sided", "Pesaran (2004, 2015)", "cd",
       "cd_pvalue"},
      {TestKind::local_lm, "local_lm", "LM({p})", "local LM({p})", "chi2({df})",
       "Pesaran (2004)", "local_lm", "local_lm_pvalue"},
      {TestKind::local_scaled_lm, "local_scaled_lm", "scaled LM({p})", "local scaled LM({p})",
       "N(0,1) upper tail", "Pesaran (2004)", "local_scaled_lm", "local_scaled_lm_pvalue"},
      {TestKind::local_cd, "local_cd", "CD({p})", "local CD({p})", "N(0,1) two-sided",
       "Pesaran (2004)", "cdp", "cdp_pvalue"},
      {TestKind::weighted_cd, "weighted_cd", "weighted CD{r}", "weighted CD{r}",
       "N(0,1) two-sided", "Juodis and Reese (2022)", "weighted_cd", "weighted_cd_pvalue"},
      {TestKind::weighted_cd_plus, "weighted_cd_plus", "CDw+", "weighted CD+",
       "N(0,1) two-sided", "Juodis and Reese (2022); Fan, Liao and Yao (2015)",
       "weighted_cd_plus", "weighted_cd_plus_pvalue"},
      {TestKind::bias_adjusted_lm, "bias_adjusted_lm", "LM_adj", "bias-adjusted LM",
       "N(0,1) upper tail", "Pesaran, Ullah and Yamagata (2008)", "lm_adj", "lm_adj_pvalue"},
      {TestKind::cd_star, "cd_star", "CD*({k})", "CD*({k})", "N(0,1) two-sided",
       "Pesaran and Xie (2021)", "cd_star", "cd_star_pvalue"},
      {TestKind::friedman, "friedman", "FR", "Friedman FR", "chi2({df})", "Friedman (1937)",
       "friedman", "friedman_pvalue"},
      {TestKind::frees, "frees", "FRE", "Frees FRE", "Q({t}) upper tail", "Frees (1995)",
       "frees", "frees_pvalue"},
      {TestKind::unbalanced_lm, "unbalanced_lm", "LM (unbalanced)", "LM", "chi2({df})",
       "Pesaran (2015); as R plm pcdtest", "unbalanced_lm", "unbalanced_lm_pvalue"},
      {TestKind::unbalanced_scaled_lm, "unbalanced_scaled_lm", "scaled LM (unbalanced)",
       "scaled LM", "N(0,1) upper tail", "Pesaran (2004, 2015)", "unbalanced_scaled_lm",
       "unbalanced_scaled_lm_pvalue"},
      {TestKind::unbalanced_cd, "unbalanced_cd", "CD (unbalanced)", "CD", "N(0,1) two-sided",
       "Pesaran (2015)", "unbalanced_cd", "unbalanced_cd_pvalue"},
      {TestKind::unbalanced_local_lm, "unbalanced_local_lm", "LM({p}) (unbalanced)",
       "local LM({p})", "chi2({df})", "Pesaran (2015)", "unbalanced_local_lm",
       "unbalanced_local_lm_pvalue"},
      {TestKind::unbalanced_local_scaled_lm, "unbalanced_local_scaled_lm",
       "scaled LM({p}) (unbalanced)", "local scaled LM({p})", "N(0,1) upper tail",
       "Pesaran (2015)", "unbalanced_local_scaled_lm", "unbalanced_local_scaled_lm_pvalue"},
      {TestKind::unbalanced_local_cd, "unbalanced_local_cd", "CD({p}) (unbalanced)",
       "local CD({p})", "N(0,1) two-sided", "Pesaran (2015)", "unbalanced_cdp",
       "unbalanced_cdp_pvalue"},
  };
  return kinds;
}

const TestKindInfo &test_kind(TestKind kind) {
  for (const TestKindInfo &info : test_kinds())
    if (info.kind == kind) return info;
  throw std::logic_error("a test kind without its row in the catalogue");
}

PatternValues pattern_values(const Result &r, TestKind kind) {
  const bool modules_band = r.options.model == Model::unit && kind == TestKind::local_cd;
  return {r.options.neighbours && !modules_band ? "w" : std::to_string(r.options.order),
          r.factors, r.options.cdw_draws, 0, r.rank_tests.periods_used};
}

std::string filled(std::string_view pattern, const PatternValues &v) {
  std::string out;
  for (std::size_t at = 0; at < pattern.size();) {
    const std::size_t open = pattern.find('{', at);
    if (open == std::string_view::npos) {
      out.append(pattern.substr(at));
      break;
    }
    out.append(pattern.substr(at, open - at));
    const std::size_t close = pattern.find('}', open);
    if (close == std::string_view::npos) {
      out.append(pattern.substr(open));
      break;
    }
    const std::string_view token = pattern.substr(open + 1, close - open - 1);
    if (token == "p") out += v.local;
    else if (token == "k") out += std::to_string(v.factors);
    else if (token == "df") out += std::to_string(v.df);
    else if (token == "t") out += std::to_string(v.periods);
    else if (token == "r" && v.draws != 1) out += ", " + std::to_string(v.draws) + " draws";
    at = close + 1;
  }
  return out;
}

const char *p_value_source_name(PValueSource source) {
  switch (source) {
    case PValueSource::module: return "module";
    case PValueSource::tool: return "tool";
    default: return "none";
  }
}

}  // namespace qvd::analysis
