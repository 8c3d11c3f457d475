// The rules a camera's set of zones must obey before the editor accepts it:
// zones never cross each other, every mask zone lies inside a sensible zone,
// and no zone is nested where it has no meaning.
#pragma once

#include <string>

#include "motion/zone.h"

namespace qmr {

struct ZoneRuleViolation {
  // Index in the checked list of the zone the user must fix (highlighted).
  int zoneIndex = -1;
  std::string message;
};

// Checks zones (the editor's list, in its order). On success fills
// sensibleOut and maskOut with copies of the sensible and mask zones, in
// list order, and returns true. On failure returns false and describes the
// first broken rule in violation; the output lists are then left empty.
bool CheckZoneRules(const ZoneList& zones, ZoneList& sensibleOut, ZoneList& maskOut,
                    ZoneRuleViolation& violation);

}  // namespace qmr
