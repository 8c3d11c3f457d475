// Zone text form, geometry and the rules the editor enforces.
#include <gtest/gtest.h>

#include "motion/zone.h"
#include "motion/zone_rules.h"
#include "motion_test_support.h"

namespace qmr {
namespace {

using test::Zones;

TEST(ZoneText, ParsesOnlyPiecesOfFourFieldsAndFormatsBack) {
  ZoneList zones;
  ParseZoneList("1,2,3$4,5,6,7", false, zones);
  ASSERT_EQ(zones.size(), 1u);
  EXPECT_TRUE(zones[0]->IsSensible());
  EXPECT_EQ(zones[0]->left, 4);
  EXPECT_EQ(zones[0]->top, 5);
  EXPECT_EQ(zones[0]->right, 6);
  EXPECT_EQ(zones[0]->bottom, 7);

  ZoneList none;
  ParseZoneList("1,2,3,4,5", true, none);
  ParseZoneList("", true, none);
  EXPECT_TRUE(none.empty());

  // Fields read like atoi: blanks, sign, digits up to the first other char.
  ZoneList masks;
  ParseZoneList(" 12abc,-3,x,+40$10,20,110,80", true, masks);
  ASSERT_EQ(masks.size(), 2u);
  EXPECT_TRUE(masks[0]->IsMask());
  EXPECT_EQ(masks[0]->left, 12);
  EXPECT_EQ(masks[0]->top, -3);
  EXPECT_EQ(masks[0]->right, 0);
  EXPECT_EQ(masks[0]->bottom, 40);

  ZoneList two = Zones({SensibleZone(10, 20, 110, 80), SensibleZone(150.7, 30, 200, 90.9)});
  EXPECT_EQ(FormatZoneList(two), "10,20,110,80$150,30,200,90");
  EXPECT_EQ(FormatZoneList(ZoneList{}), "");
}

TEST(ZoneGeometry, PredicatesAreInclusiveAndCopiesAreIndependent) {
  SensibleZone outer(0, 0, 100, 100);
  MaskZone touching(0, 10, 30, 100);
  EXPECT_TRUE(outer.Contains(100, 100));
  EXPECT_FALSE(outer.Contains(100.5, 50));
  EXPECT_TRUE(IsInside(touching, outer));
  EXPECT_FALSE(IsInside(outer, touching));
  // A shared edge or corner counts as intersecting.
  EXPECT_TRUE(Intersects(outer, SensibleZone(100, 100, 150, 150)));
  EXPECT_FALSE(Intersects(outer, SensibleZone(101, 0, 150, 150)));

  MaskZone mask(5, 6, 25, 36);
  mask.SetColour(Rgb{1, 2, 3});
  mask.MoveTo(50, 60);
  EXPECT_EQ(mask.right, 70);
  EXPECT_EQ(mask.bottom, 90);
  auto copy = mask.Copy();
  EXPECT_TRUE(copy->IsMask());
  EXPECT_EQ(copy->left, 50);
  EXPECT_EQ(copy->colour, Rgb{});
  copy->MoveTo(0, 0);
  EXPECT_EQ(mask.left, 50);
}

struct RuleCase {
  const char* name;
  ZoneList zones;
  int highlighted;
  const char* message;
};

TEST(ZoneRules, EveryRuleNamesItsZoneAndMessage) {
  std::vector<RuleCase> cases;
  cases.push_back({"sensible zones sharing an edge",
                   Zones({SensibleZone(0, 0, 50, 50), SensibleZone(50, 0, 100, 50)}), 0,
                   "The highlight sensible zone should not intersect another sensible zone."});
  cases.push_back({"sensible zone crossing a mask",
                   Zones({SensibleZone(200, 200, 220, 220), SensibleZone(0, 0, 100, 100),
                          MaskZone(90, 10, 120, 30)}),
                   1, "The highlight sensible zone should not intersect a mask zone."});
  cases.push_back({"masks crossing",
                   Zones({SensibleZone(0, 0, 100, 100), MaskZone(10, 10, 30, 30),
                          MaskZone(20, 20, 40, 40)}),
                   1, "The highlight mask zone should not intersect another mask zone."});
  cases.push_back({"mask without a sensible zone", Zones({MaskZone(10, 10, 30, 30)}), 0,
                   "The highlight mask zone is not completely inside of any sensible zone."});
  cases.push_back({"mask outside every sensible zone",
                   Zones({SensibleZone(0, 0, 50, 50), MaskZone(100, 100, 120, 120)}), 1,
                   "The highlight mask zone is not completely inside of any sensible zone."});
  cases.push_back({"mask inside a mask",
                   Zones({SensibleZone(0, 0, 100, 100), MaskZone(10, 10, 60, 60),
                          MaskZone(20, 20, 30, 30)}),
                   2, "The highlight mask zone should not be inside of another mask zone."});
  cases.push_back({"identical sensible zones",
                   Zones({SensibleZone(0, 0, 50, 50), SensibleZone(0, 0, 50, 50)}), 0,
                   "The highlight sensible zone should not be inside of another sensible zone."});
  cases.push_back({"sensible zone inside a sensible zone",
                   Zones({SensibleZone(0, 0, 100, 100), SensibleZone(10, 10, 20, 20)}), 1,
                   "The highlight sensible zone should not be inside of another sensible zone."});
  cases.push_back({"sensible zone inside the mask of another zone",
                   Zones({SensibleZone(0, 0, 100, 100), MaskZone(10, 10, 60, 60),
                          SensibleZone(20, 20, 30, 30)}),
                   2, "The highlight sensible zone should not be inside of another sensible zone."});
  cases.push_back({"mask covering its whole zone",
                   Zones({SensibleZone(200, 0, 250, 50), SensibleZone(0, 0, 100, 100),
                          MaskZone(0, 0, 100, 100)}),
                   1, "The highlight sensible zone should not be inside of a mask zone."});

  for (RuleCase& c : cases) {
    SCOPED_TRACE(c.name);
    ZoneList sensible, mask;
    ZoneRuleViolation violation;
    EXPECT_FALSE(CheckZoneRules(c.zones, sensible, mask, violation));
    EXPECT_EQ(violation.zoneIndex, c.highlighted);
    EXPECT_EQ(violation.message, c.message);
    EXPECT_TRUE(sensible.empty());
    EXPECT_TRUE(mask.empty());
  }
}

TEST(ZoneRules, ValidSetsComeBackSplitInOrder) {
  ZoneList sensible, mask;
  ZoneRuleViolation violation;
  EXPECT_TRUE(CheckZoneRules(ZoneList{}, sensible, mask, violation));
  EXPECT_TRUE(sensible.empty() && mask.empty());

  // A mask touching the edge of its zone from inside is fine; so are
  // separate zones, each with its own mask.
  ZoneList zones = Zones({MaskZone(0, 10, 30, 40), SensibleZone(0, 0, 100, 100),
                          SensibleZone(150, 30, 200, 90), MaskZone(160, 40, 170, 50)});
  ASSERT_TRUE(CheckZoneRules(zones, sensible, mask, violation)) << violation.message;
  ASSERT_EQ(sensible.size(), 2u);
  ASSERT_EQ(mask.size(), 2u);
  EXPECT_EQ(sensible[0]->right, 100);
  EXPECT_EQ(sensible[1]->left, 150);
  EXPECT_EQ(mask[0]->left, 0);
  EXPECT_EQ(mask[1]->left, 160);
}

}  // namespace
}  // namespace qmr
