#include "stopping_rule.h"

#include <cmath>
#include <cstdio>

std::string ruleText(const AdaptiveRule &rule) {
  char text[128];
  std::snprintf(text, sizeof text, "level=%.15g min=%u every=%u pool=%u margin=%.15g floor=%.15g",
                rule.level, rule.minFrames, rule.every, rule.pool, rule.margin, rule.floor);
  return text;
}

bool parseRuleText(const std::string &text, AdaptiveRule &rule) {
  AdaptiveRule r;
  int used = 0;
  if (std::sscanf(text.c_str(), "level=%lf min=%u every=%u pool=%u margin=%lf floor=%lf%n",
                  &r.level, &r.minFrames, &r.every, &r.pool, &r.margin, &r.floor, &used) != 6 ||
      used != static_cast<int>(text.size()) || !(r.level > 0.0) || !std::isfinite(r.level) ||
      r.every < 2 || r.pool > 8 || !(r.margin > 0.0 && r.margin <= 1.0) ||
      !(r.floor >= 0.0 && r.floor <= 1.0))
    return false;
  rule = r;
  return true;
}
