#include "motion/zone_rules.h"

#include <vector>

namespace qmr {

namespace {

// Overlapping without one holding the other.
bool Crosses(const Zone& a, const Zone& b) {
  return Intersects(a, b) && !IsInside(a, b) && !IsInside(b, a);
}

bool Fail(int index, const char* message, ZoneRuleViolation& violation) {
  violation.zoneIndex = index;
  violation.message = message;
  return false;
}

}  // namespace

bool CheckZoneRules(const ZoneList& zones, ZoneList& sensibleOut, ZoneList& maskOut,
                    ZoneRuleViolation& violation) {
  violation = ZoneRuleViolation{};
  std::vector<int> sensible;
  std::vector<int> mask;
  for (int i = 0; i < static_cast<int>(zones.size()); ++i) {
    if (zones[i]->IsSensible()) sensible.push_back(i);
    if (zones[i]->IsMask()) mask.push_back(i);
  }
  auto at = [&zones](int index) -> const Zone& { return *zones[index]; };

  for (size_t i = 0; i < sensible.size(); ++i) {
    for (size_t j = i + 1; j < sensible.size(); ++j) {
      if (Crosses(at(sensible[i]), at(sensible[j]))) {
        return Fail(sensible[i],
                    "The highlight sensible zone should not intersect another sensible zone.",
                    violation);
      }
    }
    for (int k : mask) {
      if (Crosses(at(sensible[i]), at(k))) {
        return Fail(sensible[i], "The highlight sensible zone should not intersect a mask zone.",
                    violation);
      }
    }
  }
  for (size_t i = 0; i < mask.size(); ++i) {
    for (size_t j = i + 1; j < mask.size(); ++j) {
      if (Crosses(at(mask[i]), at(mask[j]))) {
        return Fail(mask[i], "The highlight mask zone should not intersect another mask zone.",
                    violation);
      }
    }
  }
  for (size_t i = 0; i < mask.size(); ++i) {
    bool covered = false;
    for (int s : sensible) covered = covered || IsInside(at(mask[i]), at(s));
    if (!covered) {
      return Fail(mask[i], "The highlight mask zone is not completely inside of any sensible zone.",
                  violation);
    }
    for (size_t j = 0; j < mask.size(); ++j) {
      if (j != i && IsInside(at(mask[i]), at(mask[j]))) {
        return Fail(mask[i], "The highlight mask zone should not be inside of another mask zone.",
                    violation);
      }
    }
  }
  for (size_t i = 0; i < sensible.size(); ++i) {
    for (size_t j = 0; j < sensible.size(); ++j) {
      if (j != i && IsInside(at(sensible[i]), at(sensible[j]))) {
        return Fail(sensible[i],
                    "The highlight sensible zone should not be inside of another sensible zone.",
                    violation);
      }
    }
    for (int k : mask) {
      if (IsInside(at(sensible[i]), at(k))) {
        return Fail(sensible[i], "The highlight sensible zone should not be inside of a mask zone.",
                    violation);
      }
    }
  }

  for (int i : sensible) sensibleOut.push_back(at(i).Copy());
  for (int i : mask) maskOut.push_back(at(i).Copy());
  return true;
}

}  // namespace qmr
