// The places a scenario's report and expectations point at. The lenient reading that finds them
// takes the file with the body of `initial` reduced to its line breaks; whatever that body
// holds (braces in strings and comments, the angle form, a step on its closing line), every
// place must be the one the file has.
#include "tools/iesim/Scenario.h"

#include <gtest/gtest.h>

#include <string>

namespace IeSim {
namespace {

struct Places {
  Location initial;
  std::vector<Location> steps;
  Location firstExpectation;  // of the last step
};

Places placesOf(const std::string& text) {
  LoadResult result = loadScenarioText("places.textproto", text);
  EXPECT_TRUE(result.errors.empty()) << (result.errors.empty() ? "" : result.errors.front());
  if (!result.scenario) return {};
  const LoadedScenario& s = *result.scenario;
  Places places{s.initial, s.steps, {}};
  if (!s.expectations.empty() && !s.expectations.back().empty()) {
    places.firstExpectation = s.expectations.back().begin()->second;
  }
  return places;
}

TEST(ScenarioTest, PlacesAreThoseOfTheFileWhateverTheInitialBlockHolds) {
  const std::string braces =
      "name: \"places\"  # a comment with } and {\n"
      "initial {\n"
      "  binding { vni: 1 lane: 2 policy: \"p}{<>#\" }  # } closes nothing\n"
      "  binding { vni: 1 lane: 3 policy: 'q\\'}' }\n"
      "\t}\tstep { why: \"on the closing line\" run {} }\n"
      "step {\n"
      "  expect { sm { ready: true } }\n"
      "}\n";
  const Places p = placesOf(braces);
  EXPECT_EQ(p.initial, (Location{2, 1}));
  ASSERT_EQ(p.steps.size(), 2u);
  EXPECT_EQ(p.steps[0], (Location{5, 17}));  // a tab moves to the next multiple of 8
  EXPECT_EQ(p.steps[1], (Location{6, 1}));
  EXPECT_EQ(p.firstExpectation, (Location{7, 12}));

  const std::string angles =
      "step { run {} }\n"
      "initial: < binding < vni: 0 lane: 0 policy: \"a>\" >\n"
      "  intf: \"eth>0\" > step { run {} }\n";
  const Places q = placesOf(angles);
  EXPECT_EQ(q.initial, (Location{2, 1}));
  ASSERT_EQ(q.steps.size(), 2u);
  EXPECT_EQ(q.steps[0], (Location{1, 1}));
  EXPECT_EQ(q.steps[1], (Location{3, 19}));

  // No initial block, and one on a single line.
  const Places r = placesOf("step { run {} }\nstep { run {} }\n");
  EXPECT_EQ(r.initial, Location{});
  EXPECT_EQ(r.steps, (std::vector<Location>{{1, 1}, {2, 1}}));
  const Places s = placesOf("initial { intf: \"e}\" } step { run {} }\n");
  EXPECT_EQ(s.steps, (std::vector<Location>{{1, 24}}));
}

}  // namespace
}  // namespace IeSim
